// Posting window messages to the application.
//
// Windows: PostMessageA; a null window posts to the calling thread's message queue, as Win32 does.
// Linux: a "window" is a message queue made by CreateMessageQueue (exported to applications as
// Orvane_CreateMessageQueue); posting to a null or destroyed queue is dropped. Messages are taken in
// posting order.
#pragma once

#include <cstdint>

#include "OrvaneSdk.h"

namespace orvane::platform {

// Posts (never sends) `message` with its two parameters; false when the target cannot take it.
bool PostWindowMessage(HWND window, uint32_t message, uintptr_t wParam, intptr_t lParam);

#ifndef _WIN32
HWND CreateMessageQueue();
// Takes the oldest message within timeoutMs (negative: no limit). False on timeout, for a null or
// unknown queue, and when the queue is destroyed while waiting.
bool GetQueuedMessage(HWND queue, uint32_t* message, uintptr_t* wParam, intptr_t* lParam, int timeoutMs);
void DestroyMessageQueue(HWND queue);
#endif

// Linux: a descriptor that poll() reports readable while `queue` holds a message; owned by the queue
// (made readable by DestroyMessageQueue to wake a poller, then closed once the queue's last waiter has
// left). -1 for a null, unknown or destroyed queue, when the system has no descriptor to give, and
// always on Windows, whose windows have no such descriptor.
int MessageQueueFd(HWND queue);

}  // namespace orvane::platform
