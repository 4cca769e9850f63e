#include "platform/large_file.h"

namespace orvane::platform {

bool FileSeek64(std::FILE* file, int64_t offset) {
  return offset >= 0 && _fseeki64(file, offset, SEEK_SET) == 0;
}

}  // namespace orvane::platform
