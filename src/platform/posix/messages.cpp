#include "platform/messages.h"

#include <sys/eventfd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/posix/unique_fd.h"

// The queue behind an opaque HWND. A handle is not the queue's address but a number drawn from a
// 64-bit counter that only grows, so a handle value is never given out twice in a process: a post to
// a destroyed (or never created) queue finds nothing in the registry of live queues and is dropped,
// and a later queue cannot receive it even when its memory reuses the old queue's. A waiter keeps its
// queue alive while the queue is destroyed under it.
//
// The pollable descriptor is an eventfd made on first request: its counter is non-zero exactly while
// `messages` is not empty (set by the post that fills an empty queue, drained by the take that empties
// it, both under `mutex`), so poll() reports it readable while a message waits. Destroying the queue
// makes it readable once more, then it closes with the queue.
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
  orvane::platform::UniqueFd readable;  // guarded by mutex; invalid until asked for

  // Makes the descriptor's state follow `messages` (mutex held). The eventfd is non-blocking: a
  // write to a counter below its maximum and a read of a non-zero counter never fail.
  void SignalReadable() {
    if (readable.Valid() && messages.size() == 1) AddOne();
  }
  void ClearReadable() {
    if (readable.Valid() && messages.empty()) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t taken = ::read(readable.Get(), &count, sizeof count);
    }
  }
  void AddOne() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(readable.Get(), &one, sizeof one);
  }
};

namespace orvane::platform {

namespace {

std::mutex registry_mutex;
// Live queues, keyed by the handle number given to the application. Guarded by registry_mutex.
std::unordered_map<uintptr_t, std::shared_ptr<OrvaneWindow>>& Registry() {
  static auto* registry = new std::unordered_map<uintptr_t, std::shared_ptr<OrvaneWindow>>();
  return *registry;
}
// The number of the last handle given out; 0 is never a handle. Guarded by registry_mutex. At a
// million queues a second it would take half a million years to wrap.
uint64_t last_handle = 0;

uintptr_t Key(HWND queue) { return reinterpret_cast<uintptr_t>(queue); }

std::shared_ptr<OrvaneWindow> Find(HWND queue) {
  if (queue == nullptr) return nullptr;
  std::lock_guard lock(registry_mutex);
  auto it = Registry().find(Key(queue));
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
    queue->SignalReadable();
  }
  queue->posted.notify_one();
  return true;
}

HWND CreateMessageQueue() {
  static_assert(sizeof(uintptr_t) >= sizeof(uint64_t), "handle numbers need a 64-bit pointer");
  auto queue = std::make_shared<OrvaneWindow>();
  std::lock_guard lock(registry_mutex);
  const uintptr_t handle = static_cast<uintptr_t>(++last_handle);
  Registry().emplace(handle, std::move(queue));
  // Never dereferenced: the handle is only a key of the registry.
  return reinterpret_cast<HWND>(handle);
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
  queue->ClearReadable();
  if (message) *message = taken.message;
  if (wParam) *wParam = taken.wParam;
  if (lParam) *lParam = taken.lParam;
  return true;
}

int MessageQueueFd(HWND handle) {
  std::shared_ptr<OrvaneWindow> queue = Find(handle);
  if (!queue) return -1;
  std::lock_guard lock(queue->mutex);
  if (queue->destroyed) return -1;
  if (!queue->readable.Valid()) {
    queue->readable = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!queue->readable.Valid()) return -1;
    // Messages posted before the descriptor existed make it readable at once.
    if (!queue->messages.empty()) queue->AddOne();
  }
  return queue->readable.Get();
}

void DestroyMessageQueue(HWND handle) {
  std::shared_ptr<OrvaneWindow> queue;
  {
    std::lock_guard lock(registry_mutex);
    auto it = Registry().find(Key(handle));
    if (it == Registry().end()) return;
    queue = std::move(it->second);
    Registry().erase(it);
  }
  {
    std::lock_guard lock(queue->mutex);
    queue->destroyed = true;
    queue->messages.clear();
    // A poll() under way in another thread wakes (its Orvane_GetMessage then answers 0); the
    // descriptor closes as the queue goes.
    if (queue->readable.Valid()) queue->AddOne();
  }
  queue->posted.notify_all();
}

}  // namespace orvane::platform
