#include "platform/large_file.h"

#include <sys/types.h>
#include <unistd.h>

namespace orvane::platform {

bool FileSeek64(std::FILE* file, int64_t offset) {
  static_assert(sizeof(off_t) == 8, "64-bit off_t required");
  return offset >= 0 && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool FileTruncate64(std::FILE* file, int64_t size) {
  return size >= 0 && std::fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

}  // namespace orvane::platform
