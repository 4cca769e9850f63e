#include "platform/debug_output.h"

namespace orvane::platform::detail {

// No system debugger channel on Linux: the installed sink (if any) is the only receiver.
void SystemDebugOutput(const char*) {}

}  // namespace orvane::platform::detail
