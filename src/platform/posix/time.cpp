#include "platform/time.h"

#include <ctime>
#include <thread>

namespace orvane::platform {

namespace {
uint32_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}
}  // namespace

uint32_t TickCountMs() { return MonotonicMs(); }
uint32_t MultimediaTimeMs() { return MonotonicMs(); }

uint64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepMs(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TimerResolution::TimerResolution() = default;
TimerResolution::~TimerResolution() = default;

}  // namespace orvane::platform
