#include "platform/messages.h"

namespace orvane::platform {

bool PostWindowMessage(HWND window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

int MessageQueueFd(HWND) { return -1; }

}  // namespace orvane::platform
