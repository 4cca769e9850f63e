// The configuration file: a table of 8-byte entries that the object keeps for the application.

#include "persistence/config_file.h"
#include "sdk/orvane.h"

int COrvane::LoadConfigFileA(const char* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  // Only a regular file is read: a directory, a device or a FIFO fails at once, as a missing file
  // does (not reported).
  orvane::persistence::ConfigTable entries;
  if (!orvane::persistence::ReadConfigFile(fileName, &entries)) return 0;
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
