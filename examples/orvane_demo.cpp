// The SDK's main job as an application does it: create a handle with a window that receives the
// SDK's messages, list the cameras, report what happened, release the handle.
//
// Windows: a hidden window and its message loop. Linux: a message queue of the library.

#include <cstdio>

#include "OrvaneSdk.h"

namespace {

// The application's window for the SDK's error and frame messages.
class MessageWindow {
 public:
  MessageWindow() {
#ifdef _WIN32
    handle_ = CreateWindowExA(0, "STATIC", "Orvane demo", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
#else
    handle_ = Orvane_CreateMessageQueue();
#endif
  }
  ~MessageWindow() {
#ifdef _WIN32
    DestroyWindow(handle_);
#else
    Orvane_DestroyMessageQueue(handle_);
#endif
  }
  HWND handle() const { return handle_; }

  // Prints every message waiting for the window.
  void Drain() {
#ifdef _WIN32
    MSG msg;
    while (PeekMessageA(&msg, handle_, 0, 0, PM_REMOVE)) Print(msg.message, msg.lParam);
#else
    unsigned int message;
    intptr_t lParam;
    while (Orvane_GetMessage(handle_, &message, nullptr, &lParam, 0)) Print(message, lParam);
#endif
  }

 private:
  static void Print(unsigned int message, intptr_t lParam) {
    if (message == ORVANE_WM_ERROR) std::printf("  error message: code %ld\n", static_cast<long>(lParam));
  }
  HWND handle_;
};

}  // namespace

int main() {
  std::printf("Orvane SDK version %d (0x%08x)\n", Orvane_GetDllVersion(), Orvane_GetDllVersion());
  MessageWindow window;
  int handle = Orvane_Initialize(window.handle());
  if (handle == 0) {
    std::printf("Orvane_Initialize failed\n");
    return 1;
  }
  std::printf("handle %d\n", handle);

  char names[10][256] = {};
  int count = Orvane_EnumDevice(handle, names);
  std::printf("cameras found: %d\n", count);
  for (int i = 0; i < count; ++i) std::printf("  %s\n", names[i]);

  std::printf("errors, newest first:");
  for (int code = Orvane_GetLastError(handle); code != 0; code = Orvane_GetLastError(handle)) std::printf(" %d", code);
  std::printf("\n");
  window.Drain();

  std::printf("release: %d\n", Orvane_Release(handle));
  return 0;
}
