#include "platform/time.h"

#include <windows.h>
#include <mmsystem.h>

namespace orvane::platform {

uint32_t TickCountMs() { return GetTickCount(); }
uint32_t MultimediaTimeMs() { return timeGetTime(); }
void SleepMs(uint32_t ms) { Sleep(ms); }

uint64_t ThreadCpuNs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return (ticks(kernel) + ticks(user)) * 100u;  // 100 ns units
}

TimerResolution::TimerResolution() { timeBeginPeriod(1); }
TimerResolution::~TimerResolution() { timeEndPeriod(1); }

}  // namespace orvane::platform
