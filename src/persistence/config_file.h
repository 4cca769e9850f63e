// The configuration file: a table of 8-byte entries, two little-endian 32-bit integers each, that the
// SDK object keeps for the application.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace orvane::persistence {

using ConfigTable = std::vector<std::pair<int32_t, int32_t>>;

// The largest configuration file read: 16 MiB, two million entries, far beyond any real table. A
// larger file is refused like one that cannot be opened, before anything is read.
inline constexpr uint64_t kMaxConfigFileBytes = 16u << 20;

// Reads the entries of `fileName`; a trailing remainder of fewer than 8 bytes is ignored. Only a
// regular file within the size limit is read: a missing file, a directory, a device or a FIFO fails
// at once (false, `entries` untouched).
[[nodiscard]] bool ReadConfigFile(const char* fileName, ConfigTable* entries);

}  // namespace orvane::persistence
