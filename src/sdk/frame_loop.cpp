#include "sdk/frame_loop.h"

#include <chrono>
#include <system_error>

#include "device/orvane_device.h"
#include "platform/time.h"

namespace orvane::sdk {

namespace {
// How long one wait for a frame lasts before the loop passes again.
constexpr int kFrameWaitMs = 3000;
}  // namespace

FrameLoop::FrameLoop(Client& client) : client_(client) {
  lastRateTime_ = orvane::platform::MultimediaTimeMs();
}

FrameLoop::~FrameLoop() {
  RequestStop();
  Join();
}

bool FrameLoop::Start(int mode) {
  // The rate is measured over this run's frames only: a window reaching back into the idle time
  // before a restart would report a fraction of the real rate.
  frameCounter_ = 0;
  lastRateTime_ = orvane::platform::MultimediaTimeMs();
  try {
    thread_ = std::jthread([this, mode](std::stop_token stop) { Run(stop, mode); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void FrameLoop::RequestStop() { thread_.request_stop(); }

void FrameLoop::Join() {
  if (thread_.joinable()) thread_.join();
}

int FrameLoop::CountFrame() {
  ++frameCounter_;
  const uint32_t now = orvane::platform::MultimediaTimeMs();
  const uint32_t elapsed = now - lastRateTime_;
  if (elapsed > 1000) {
    frameRate_ = static_cast<int>(static_cast<int64_t>(frameCounter_) * 10000 / elapsed);
    frameCounter_ = 0;
    lastRateTime_ = now;
  }
  return frameRate_.load();
}

void FrameLoop::Run(const std::stop_token& stop, int mode) {
  while (!stop.stop_requested()) {
    // The wait time is the application's (any non-negative value): a stop ends the pause at once.
    {
      orvane::platform::MutexLock lock(waitMutex_);
      stopWait_.wait_for(lock, stop, std::chrono::milliseconds(waitTime_.load()), [] { return false; });
    }
    if (stop.stop_requested()) break;
    const int waited = client_.WaitForFrame(kFrameWaitMs);
    if (waited == COrvaneR3O5Base::kWaitFailed) {
      client_.StreamFailed();
      break;
    }
    if (waited == COrvaneR3O5Base::kWaitNewFrame) client_.DeliverReadyFrame(mode, stop);
  }
}

}  // namespace orvane::sdk
