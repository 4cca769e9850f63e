// What the fault tests share: a watchdog that turns a hanging export into a named failure, waiting for
// a message, and reading the error history.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "OrvaneSdk.h"
#include "test_window.h"

// Guards one call at a time: when it has not returned within the limit the program is ended with the
// call's name. The limit is generous (the exports' own bound is 2 s, a snapshot's frame wait 3 s):
// a loaded 2-core machine must not trip it, a hang must.
class Watchdog {
 public:
  static constexpr std::chrono::seconds kLimit{30};

  Watchdog() : thread_([this](std::stop_token stop) { Run(stop); }) {}
  ~Watchdog() {
    thread_.request_stop();
    changed_.notify_all();
  }

  // Runs `call` under watch. A call slower than the exports' 2 s is named in the test's output (not
  // failed: a loaded machine may be that slow).
  template <typename F>
  auto Call(const char* what, F&& call) {
    Arm(what);
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    const auto took = std::chrono::steady_clock::now() - start;
    Arm(nullptr);
    if (took > std::chrono::seconds(2)) {
      std::fprintf(stderr, "slow: %s took %lld ms\n", what,
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    }
    return result;
  }

 private:
  void Arm(const char* what) {
    std::lock_guard<std::mutex> lock(mutex_);
    what_ = what;
    deadline_ = std::chrono::steady_clock::now() + kLimit;
    changed_.notify_all();
  }
  void Run(std::stop_token stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop.stop_requested()) {
      if (what_ == nullptr) {
        changed_.wait(lock, stop, [this] { return what_ != nullptr; });
        continue;
      }
      const char* watched = what_;
      // A copy: the wait reads its time point while the lock is released.
      const auto deadline = deadline_;
      if (changed_.wait_until(lock, stop, deadline, [&] { return what_ != watched || deadline_ != deadline; })) {
        continue;
      }
      if (stop.stop_requested()) return;
      std::fprintf(stderr, "watchdog: %s did not return within %d s\n", watched, static_cast<int>(kLimit.count()));
      std::abort();
    }
  }

  std::mutex mutex_;
  std::condition_variable_any changed_;
  const char* what_ = nullptr;  // guarded by mutex_; the call being watched
  std::chrono::steady_clock::time_point deadline_;  // guarded by mutex_
  std::jthread thread_;
};

// Takes messages until one with `message` and `lParam` comes; false when none came within a generous
// limit. Other messages (frames of a running preview) are dropped.
inline bool AwaitMessage(TestWindow& window, unsigned int message, intptr_t lParam, TakenMessage* taken = nullptr) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  TakenMessage m;
  while (std::chrono::steady_clock::now() < end) {
    if (!window.Take(&m, 1000)) continue;
    if (m.message == message && m.lParam == lParam) {
      if (taken != nullptr) *taken = m;
      return true;
    }
  }
  return false;
}

// The codes waiting in a handle's history, newest first, as one string ("13 8"); empties it.
inline std::string DrainErrors(int handle) {
  std::string codes;
  for (int i = 0; i < 20; ++i) {
    const int code = Orvane_GetLastError(handle);
    if (code == 0) break;
    if (!codes.empty()) codes += ' ';
    codes += std::to_string(code);
  }
  return codes;
}
