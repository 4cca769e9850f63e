// Win32-style event built on a condition variable. Auto-reset (the default): Set wakes one waiter, or the
// next one to wait when nobody waits, and a successful wait resets it. Manual-reset: once set, every wait
// succeeds until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orvane::device {

class SyncEvent {
 public:
  explicit SyncEvent(bool manualReset = false) : manualReset_(manualReset) {}

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    if (manualReset_) {
      cv_.notify_all();
    } else {
      cv_.notify_one();
    }
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
  }

  // True when signalled within `ms` milliseconds (negative: without limit).
  bool Wait(int64_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ms < 0) {
      cv_.wait(lock, [this] { return signalled_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; })) {
      return false;
    }
    if (!manualReset_) signalled_ = false;
    return true;
  }

 private:
  const bool manualReset_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;  // guarded by mutex_
};

}  // namespace orvane::device
