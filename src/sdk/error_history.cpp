#include "sdk/error_history.h"

#include <algorithm>

namespace orvane::sdk {

void ErrorHistory::Push(int code) {
  std::lock_guard lock(mutex_);
  std::move_backward(entries_.begin(), entries_.end() - 1, entries_.end());
  entries_[0] = code;
}

int ErrorHistory::Pop() {
  std::lock_guard lock(mutex_);
  int newest = entries_[0];
  std::move(entries_.begin() + 1, entries_.end(), entries_.begin());
  entries_[kDepth - 1] = 0;
  return newest;
}

}  // namespace orvane::sdk
