// Clocks, sleeping and the system timer resolution.
#pragma once

#include <cstdint>

namespace orvane::platform {

// Millisecond tick count since an unspecified start (GetTickCount); wraps after 49.7 days.
uint32_t TickCountMs();
// Millisecond time of the multimedia timer (timeGetTime); wraps like TickCountMs.
uint32_t MultimediaTimeMs();
// CPU time the calling thread has used, in nanoseconds (what it spent running, not waiting).
uint64_t ThreadCpuNs();
// Sleeps the calling thread for at least `ms` milliseconds (0 yields).
void SleepMs(uint32_t ms);

// Requests a 1 ms system timer resolution for its lifetime (timeBeginPeriod / timeEndPeriod), so that
// short sleeps last about what they ask for. A no-op where the clock is already fine-grained.
class TimerResolution {
 public:
  TimerResolution();
  ~TimerResolution();
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;
};

}  // namespace orvane::platform
