#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "temporary_store.h"

namespace orvane::testing {

TemporarySettingsStore::TemporarySettingsStore() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvane-settings-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  configHome_ = pattern;
  if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
    hadXdg_ = true;
    previousXdg_ = previous;
  }
  setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
}

TemporarySettingsStore::~TemporarySettingsStore() {
  if (hadXdg_) {
    setenv("XDG_CONFIG_HOME", previousXdg_.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  std::error_code ignored;
  std::filesystem::remove_all(configHome_, ignored);
}

}  // namespace orvane::testing
