#include "persistence/config_file.h"

#include <cstdio>

#include "platform/log.h"
#include "platform/regular_file.h"

namespace orvane::persistence {

namespace {

int32_t LittleEndian32(const unsigned char* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool ReadConfigFile(const char* fileName, ConfigTable* entries) {
  platform::RegularFileStatus status;
  platform::UniqueFile file = platform::OpenRegularFile(fileName, kMaxConfigFileBytes, &status);
  if (!file) {
    if (status != platform::RegularFileStatus::kCannotOpen) {
      ORVANE_LOG(kSettings, kWarn, "configuration file refused: %s",
                 status == platform::RegularFileStatus::kTooLarge ? "too large" : "not a regular file");
    }
    return false;
  }
  ConfigTable read;
  unsigned char entry[8];
  while (std::fread(entry, 1, sizeof(entry), file.get()) == sizeof(entry)) {
    read.emplace_back(LittleEndian32(entry), LittleEndian32(entry + 4));
  }
  *entries = std::move(read);
  return true;
}

}  // namespace orvane::persistence
