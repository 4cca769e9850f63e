#include "platform/large_file.h"

#include <io.h>

namespace orvane::platform {

bool FileSeek64(std::FILE* file, int64_t offset) {
  return offset >= 0 && _fseeki64(file, offset, SEEK_SET) == 0;
}

bool FileTruncate64(std::FILE* file, int64_t size) {
  return size >= 0 && std::fflush(file) == 0 && _chsize_s(_fileno(file), size) == 0;
}

}  // namespace orvane::platform
