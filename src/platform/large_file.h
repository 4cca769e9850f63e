// 64-bit positions on C runtime streams. The AVI writer patches headers of files past 2 GiB; msvcrt's
// fseek takes a 32-bit long, so the platform picks the 64-bit variant.
#pragma once

#include <cstdint>
#include <cstdio>

namespace orvane::platform {

// Moves the stream to `offset` bytes from the start of the file. False on failure.
[[nodiscard]] bool FileSeek64(std::FILE* file, int64_t offset);
// Cuts or extends the file to `size` bytes after writing out what the stream buffers. False on failure.
[[nodiscard]] bool FileTruncate64(std::FILE* file, int64_t size);

}  // namespace orvane::platform
