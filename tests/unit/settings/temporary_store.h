// Points the current user's settings store at a place of the test's own for the object's life.
#pragma once

#include <string>

namespace orvane::testing {

class TemporarySettingsStore {
 public:
  TemporarySettingsStore();
  ~TemporarySettingsStore();
  TemporarySettingsStore(const TemporarySettingsStore&) = delete;
  TemporarySettingsStore& operator=(const TemporarySettingsStore&) = delete;

  // Linux: the fresh directory XDG_CONFIG_HOME points at, and the store file inside it.
  // Windows: empty; the registry of the test's own wine prefix is used.
  const std::string& ConfigHome() const { return configHome_; }
  std::string StoreDirectory() const { return configHome_ + "/orvane-sdk"; }
  std::string StoreFile() const { return StoreDirectory() + "/registry.reg"; }

 private:
  std::string configHome_;
  std::string previousXdg_;
  bool hadXdg_ = false;
};

}  // namespace orvane::testing
