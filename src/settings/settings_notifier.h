// Change notifications of the settings: a settings dialog (or any other listener) registers a callback
// and is called with the setting that changed, whoever changed it (an export, a load from the store, the
// automatic white balance, gray balance or exposure of the acquisition thread).
//
// A listener runs on the thread that made the change, after the settings' own lock is released, so it
// may read the settings back. It must not subscribe or unsubscribe from inside the call.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/thread_annotations.h"

namespace orvane::settings {

// Settings without a filter id are named by these (filter ids are positive).
inline constexpr int kAutoIrisSetting = -1;
inline constexpr int kMirrorHSetting = -2;
inline constexpr int kMirrorVSetting = -3;
inline constexpr int kExposureSecondsSetting = -4;

class SettingsNotifier {
 public:
  using Listener = std::function<void(int setting)>;

  // Returns the token that Unsubscribe takes.
  int Subscribe(Listener listener) ORVANE_EXCLUDES(mutex_);
  void Unsubscribe(int token) ORVANE_EXCLUDES(mutex_);
  // Calls every listener once with `setting` (a filter id or one of the constants above).
  void Notify(int setting) const ORVANE_EXCLUDES(mutex_);

 private:
  struct Entry {
    int token;
    Listener listener;
  };
  using List = std::vector<Entry>;

  mutable platform::Mutex mutex_;
  // Replaced, never changed in place, so Notify calls a snapshot without holding mutex_.
  std::shared_ptr<const List> listeners_ ORVANE_GUARDED_BY(mutex_) = std::make_shared<const List>();
  int nextToken_ ORVANE_GUARDED_BY(mutex_) = 1;
};

}  // namespace orvane::settings
