#include "platform/thread.h"

#include <windows.h>

namespace orvane::platform {

bool SetCurrentThreadTimeCritical() {
  return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace orvane::platform
