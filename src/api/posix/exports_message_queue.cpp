// The Linux stand-ins for windows: message queues that receive the SDK's frame and error messages.

#include "OrvaneSdk.h"
#include "platform/messages.h"

extern "C" {

ORVANE_API HWND Orvane_CreateMessageQueue(void) {
  try {
    return orvane::platform::CreateMessageQueue();
  } catch (...) {
    return nullptr;
  }
}

ORVANE_API int Orvane_GetMessage(HWND queue, unsigned int* message, uintptr_t* wParam, intptr_t* lParam, int timeoutMs) {
  try {
    uint32_t taken = 0;
    if (!orvane::platform::GetQueuedMessage(queue, &taken, wParam, lParam, timeoutMs)) return 0;
    if (message != nullptr) *message = taken;
    return 1;
  } catch (...) {
    return 0;
  }
}

ORVANE_API void Orvane_DestroyMessageQueue(HWND queue) {
  try {
    orvane::platform::DestroyMessageQueue(queue);
  } catch (...) {
  }
}

}  // extern "C"
