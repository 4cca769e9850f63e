// A window that receives the SDK's messages, as an application has one: a real (hidden) window on
// Windows, a library message queue on Linux. Messages are taken on the creating thread.
#pragma once

#include <cstdint>

#include "OrvaneSdk.h"

struct TakenMessage {
  unsigned int message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class TestWindow {
 public:
  TestWindow() {
#ifdef _WIN32
    handle_ = CreateWindowExA(0, "STATIC", "orvane test", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
#else
    handle_ = Orvane_CreateMessageQueue();
#endif
  }
  ~TestWindow() {
#ifdef _WIN32
    DestroyWindow(handle_);
#else
    Orvane_DestroyMessageQueue(handle_);
#endif
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND handle() const { return handle_; }

  // Takes the next message posted to the window within timeoutMs; false when none came.
  bool Take(TakenMessage* taken, int timeoutMs = 10000) {
#ifdef _WIN32
    DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
      if (PeekMessageA(&msg, handle_, 0, 0, PM_REMOVE)) {
        if (msg.message < WM_USER) continue;  // the window's own housekeeping
        *taken = {msg.message, static_cast<uintptr_t>(msg.wParam), static_cast<intptr_t>(msg.lParam)};
        return true;
      }
      if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
#else
    return Orvane_GetMessage(handle_, &taken->message, &taken->wParam, &taken->lParam, timeoutMs) == 1;
#endif
  }

  // True when no message is waiting. Posting is synchronous into the queue, so a message posted by a
  // call that has returned is already there.
  bool Empty() {
    TakenMessage ignored;
    return !Take(&ignored, 0);
  }

 private:
  HWND handle_;
};
