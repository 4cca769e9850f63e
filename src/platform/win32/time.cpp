#include "platform/time.h"

#include <windows.h>
#include <mmsystem.h>

namespace orvane::platform {

uint32_t TickCountMs() { return GetTickCount(); }
uint32_t MultimediaTimeMs() { return timeGetTime(); }
void SleepMs(uint32_t ms) { Sleep(ms); }

TimerResolution::TimerResolution() { timeBeginPeriod(1); }
TimerResolution::~TimerResolution() { timeEndPeriod(1); }

}  // namespace orvane::platform
