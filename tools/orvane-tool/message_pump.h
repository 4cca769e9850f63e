// Where the SDK posts its frame and error messages for the tool: a hidden window on Windows, a
// message queue of the library on Linux.
#pragma once

#include <cstdint>

#include "OrvaneSdk.h"

namespace orvane_tool {

struct Message {
  unsigned int id = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class MessagePump {
 public:
  MessagePump();
  ~MessagePump();
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;

  HWND handle() const { return handle_; }
  // The next SDK message within timeoutMs (other window messages are dispatched); false on timeout.
  bool Next(Message* message, int timeoutMs);

 private:
  HWND handle_;
};

}  // namespace orvane_tool
