#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace orvane::platform {

bool SetCurrentThreadTimeCritical() {
  // Real-time scheduling needs a privilege most processes lack; then the thread stays as it is.
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace orvane::platform
