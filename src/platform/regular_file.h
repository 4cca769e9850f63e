// Opening a file that the library reads whole (configuration and mask files). Such a load accepts
// only a regular file no larger than its format allows: a directory, a device (a zero device never
// ends), a FIFO or socket (which would block the caller until a writer appears) is refused at once,
// without reading or waiting.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace orvane::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

enum class RegularFileStatus {
  kOk,
  kCannotOpen,   // missing, not permitted, or the name is not a path
  kNotRegular,   // a directory, device, FIFO or socket
  kTooLarge,     // larger than `maxBytes`
};

// Opens `path` for binary reading when it names a regular file of at most `maxBytes` bytes; the
// stream is positioned at the start. `size` (optional) receives the file's size. Never blocks on a
// FIFO and never reads from a device.
UniqueFile OpenRegularFile(const char* path, uint64_t maxBytes, RegularFileStatus* status, uint64_t* size = nullptr);

}  // namespace orvane::platform
