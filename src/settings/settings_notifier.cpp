#include "settings/settings_notifier.h"

#include <utility>

namespace orvane::settings {

int SettingsNotifier::Subscribe(Listener listener) {
  platform::MutexLock lock(mutex_);
  auto list = std::make_shared<List>(*listeners_);
  const int token = nextToken_++;
  list->push_back({token, std::move(listener)});
  listeners_ = std::move(list);
  return token;
}

void SettingsNotifier::Unsubscribe(int token) {
  platform::MutexLock lock(mutex_);
  auto list = std::make_shared<List>(*listeners_);
  std::erase_if(*list, [token](const Entry& entry) { return entry.token == token; });
  listeners_ = std::move(list);
}

void SettingsNotifier::Notify(int setting) const {
  std::shared_ptr<const List> list;
  {
    platform::MutexLock lock(mutex_);
    list = listeners_;
  }
  for (const Entry& entry : *list) entry.listener(setting);
}

}  // namespace orvane::settings
