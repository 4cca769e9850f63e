#include "platform/regular_file.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace orvane::platform {

UniqueFile OpenRegularFile(const char* path, uint64_t maxBytes, RegularFileStatus* status, uint64_t* size) {
  auto fail = [status](RegularFileStatus why) {
    if (status) *status = why;
    return UniqueFile();
  };
  if (path == nullptr || path[0] == '\0') return fail(RegularFileStatus::kCannotOpen);
  // FILE_FLAG_BACKUP_SEMANTICS lets a directory open too, so that it is refused as "not regular"
  // rather than as missing; the type is then read from the open handle.
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(RegularFileStatus::kCannotOpen);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  if (!disk || !GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return fail(RegularFileStatus::kNotRegular);
  }
  const uint64_t bytes = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (bytes > maxBytes) {
    CloseHandle(handle);
    return fail(RegularFileStatus::kTooLarge);
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return fail(RegularFileStatus::kCannotOpen);
  }
  UniqueFile file(_fdopen(fd, "rb"));
  if (!file) {
    _close(fd);  // closes the handle too
    return fail(RegularFileStatus::kCannotOpen);
  }
  if (size) *size = bytes;
  if (status) *status = RegularFileStatus::kOk;
  return file;
}

}  // namespace orvane::platform
