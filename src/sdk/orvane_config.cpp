// The configuration file: a table of 8-byte entries that the object keeps for the application.

#include <cstdio>
#include <memory>

#include "platform/log.h"
#include "platform/regular_file.h"
#include "sdk/orvane.h"

namespace {

// The largest configuration file read: 16 MiB, two million entries, far beyond any real table. A
// larger file is refused like one that cannot be opened, before anything is read.
constexpr uint64_t kMaxConfigFileBytes = 16u << 20;

int32_t LittleEndian32(const unsigned char* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

int COrvane::LoadConfigFileA(const char* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  // Only a regular file is read: a directory, a device or a FIFO fails at once, as a missing file
  // does (not reported).
  orvane::platform::RegularFileStatus status;
  orvane::platform::UniqueFile file = orvane::platform::OpenRegularFile(fileName, kMaxConfigFileBytes, &status);
  if (!file) {
    if (status != orvane::platform::RegularFileStatus::kCannotOpen) {
      ORVANE_LOG(kSettings, kWarn, "configuration file refused: %s",
                 status == orvane::platform::RegularFileStatus::kTooLarge ? "too large" : "not a regular file");
    }
    return 0;
  }
  std::vector<std::pair<int32_t, int32_t>> entries;
  unsigned char entry[8];
  // A trailing remainder of fewer than 8 bytes is ignored.
  while (std::fread(entry, 1, sizeof(entry), file.get()) == sizeof(entry)) {
    entries.emplace_back(LittleEndian32(entry), LittleEndian32(entry + 4));
  }
  std::lock_guard lock(configMutex_);
  configTable_ = std::move(entries);
  return 1;
}

int COrvane::LoadConfigFileW(const ORVANE_WCHAR* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return LoadConfigFileA(narrow.data());
}

std::vector<std::pair<int32_t, int32_t>> COrvane::ConfigTable() const {
  std::lock_guard lock(configMutex_);
  return configTable_;
}
