// The per-handle error history: the twenty newest error codes, newest first.
#pragma once

#include <array>
#include <mutex>

namespace orvane::sdk {

class ErrorHistory {
 public:
  static constexpr int kDepth = 20;

  // Pushes `code` as the newest entry; the oldest of twenty falls out.
  void Push(int code);
  // Removes and returns the newest entry; 0 when the history is empty.
  int Pop();

 private:
  std::mutex mutex_;
  std::array<int, kDepth> entries_{};  // guarded by mutex_; entry 0 is the newest, 0 = empty
};

}  // namespace orvane::sdk
