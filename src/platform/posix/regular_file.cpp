#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::platform {

UniqueFile OpenRegularFile(const char* path, uint64_t maxBytes, RegularFileStatus* status, uint64_t* size) {
  auto fail = [status](RegularFileStatus why) {
    if (status) *status = why;
    return UniqueFile();
  };
  if (path == nullptr || path[0] == '\0') return fail(RegularFileStatus::kCannotOpen);
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one. The type
  // is checked on the opened descriptor (fstat), so a name replaced between a check and the open
  // cannot slip a device or FIFO through.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(RegularFileStatus::kCannotOpen);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return fail(RegularFileStatus::kCannotOpen);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return fail(RegularFileStatus::kNotRegular);
  }
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > maxBytes) {
    ::close(fd);
    return fail(RegularFileStatus::kTooLarge);
  }
  // Regular files never block; blocking reads are what the stream expects.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return fail(RegularFileStatus::kCannotOpen);
  }
  UniqueFile file(::fdopen(fd, "rb"));
  if (!file) {
    ::close(fd);
    return fail(RegularFileStatus::kCannotOpen);
  }
  if (size) *size = static_cast<uint64_t>(info.st_size);
  if (status) *status = RegularFileStatus::kOk;
  return file;
}

}  // namespace orvane::platform
