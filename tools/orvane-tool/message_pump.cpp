#include "message_pump.h"

#include <chrono>

namespace orvane_tool {

#ifdef _WIN32

MessagePump::MessagePump()
    : handle_(CreateWindowExA(0, "STATIC", "orvane-tool", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr)) {}

MessagePump::~MessagePump() {
  if (handle_ != nullptr) DestroyWindow(handle_);
}

bool MessagePump::Next(Message* message, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  MSG msg;
  for (;;) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.hwnd == handle_ && msg.message >= WM_APP) {
        *message = {msg.message, static_cast<uintptr_t>(msg.wParam), static_cast<intptr_t>(msg.lParam)};
        return true;
      }
      DispatchMessageA(&msg);  // the SDK's preview window lives on this thread
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count() < 20 ? left.count() : 20),
                              QS_ALLINPUT);
  }
}

#else

MessagePump::MessagePump() : handle_(Orvane_CreateMessageQueue()) {}

MessagePump::~MessagePump() {
  if (handle_ != nullptr) Orvane_DestroyMessageQueue(handle_);
}

bool MessagePump::Next(Message* message, int timeoutMs) {
  return Orvane_GetMessage(handle_, &message->id, &message->wParam, &message->lParam, timeoutMs) == 1;
}

#endif

}  // namespace orvane_tool
