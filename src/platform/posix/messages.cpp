#include "platform/messages.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

// The queue behind an opaque HWND. Handles are looked up in a registry of live queues, so a post to
// a destroyed (or never created) queue is dropped instead of touching freed memory, and a waiter
// keeps its queue alive while the queue is destroyed under it.
struct OrvaneWindow {
  struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<Message> messages;  // guarded by mutex
  bool destroyed = false;        // guarded by mutex
};

namespace orvane::platform {

namespace {

std::mutex registry_mutex;
// Live queues, keyed by the handle given to the application. Guarded by registry_mutex.
std::unordered_map<OrvaneWindow*, std::shared_ptr<OrvaneWindow>>& Registry() {
  static auto* registry = new std::unordered_map<OrvaneWindow*, std::shared_ptr<OrvaneWindow>>();
  return *registry;
}

std::shared_ptr<OrvaneWindow> Find(HWND queue) {
  if (queue == nullptr) return nullptr;
  std::lock_guard lock(registry_mutex);
  auto it = Registry().find(queue);
  return it == Registry().end() ? nullptr : it->second;
}

}  // namespace

bool PostWindowMessage(HWND window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<OrvaneWindow> queue = Find(window);
  if (!queue) return false;
  {
    std::lock_guard lock(queue->mutex);
    if (queue->destroyed) return false;
    queue->messages.push_back({message, wParam, lParam});
  }
  queue->posted.notify_one();
  return true;
}

HWND CreateMessageQueue() {
  auto queue = std::make_shared<OrvaneWindow>();
  std::lock_guard lock(registry_mutex);
  Registry().emplace(queue.get(), queue);
  return queue.get();
}

bool GetQueuedMessage(HWND handle, uint32_t* message, uintptr_t* wParam, intptr_t* lParam, int timeoutMs) {
  std::shared_ptr<OrvaneWindow> queue = Find(handle);
  if (!queue) return false;
  std::unique_lock lock(queue->mutex);
  auto ready = [&] { return queue->destroyed || !queue->messages.empty(); };
  if (timeoutMs < 0) {
    queue->posted.wait(lock, ready);
  } else if (!queue->posted.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return false;
  }
  if (queue->destroyed || queue->messages.empty()) return false;
  OrvaneWindow::Message taken = queue->messages.front();
  queue->messages.pop_front();
  if (message) *message = taken.message;
  if (wParam) *wParam = taken.wParam;
  if (lParam) *lParam = taken.lParam;
  return true;
}

void DestroyMessageQueue(HWND handle) {
  std::shared_ptr<OrvaneWindow> queue;
  {
    std::lock_guard lock(registry_mutex);
    auto it = Registry().find(handle);
    if (it == Registry().end()) return;
    queue = std::move(it->second);
    Registry().erase(it);
  }
  {
    std::lock_guard lock(queue->mutex);
    queue->destroyed = true;
    queue->messages.clear();
  }
  queue->posted.notify_all();
}

}  // namespace orvane::platform
