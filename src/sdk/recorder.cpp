#include "sdk/recorder.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "OrvaneSdk.h"
#include "output/avi_frame.h"
#include "platform/log.h"

namespace orvane::sdk {

Recorder::Recorder(FrameSource source, ErrorSink errors) : source_(std::move(source)), errors_(std::move(errors)) {}

Recorder::~Recorder() { Stop(); }

void Recorder::Reap() {
  if (thread_.joinable()) thread_.join();
}

bool Recorder::Open(const char* fileName, int width, int height) {
  if (!avi_.Create(fileName, width, height)) return false;
  frame_.resize(orvane::output::AviFrameBytes(width, height));
  return true;
}

bool Recorder::Start(int durationMs) {
  {
    orvane::platform::MutexLock lock(mutex_);
    newFrame_ = false;
  }
  active_ = true;
  try {
    thread_ = std::jthread([this, durationMs](std::stop_token stop) { Run(stop, durationMs); });
  } catch (const std::system_error&) {
    active_ = false;
    avi_.Close();
    return false;
  }
  return true;
}

void Recorder::Stop() {
  // The stop token wakes the thread from its wait; it finishes the file before it ends.
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  active_ = false;
  // The thread has finished the file; this only closes one whose thread never ran.
  avi_.Close();
}

void Recorder::FrameReady() {
  {
    orvane::platform::MutexLock lock(mutex_);
    newFrame_ = true;
  }
  frameReady_.notify_all();
}

// Appends each new processed frame, brings the file's header and index up to date at least once a
// second (so a killed process leaves the frames up to then readable), and when the duration (counted
// from the first frame's capture) has passed, or the recording is stopped, finishes the file with the
// rate of the stored frames. It wakes for every frame the acquisition thread converts, so as long as it
// keeps up no frame is skipped; a frame that arrives while it is still writing the previous one replaces
// the one before it. Duration and rate follow the frames' capture times, not the moments the recorder
// got to them, so a recorder that lags on a loaded machine still declares the pace of the frames it
// stored. A write error ends the recording with error 12, the file finished as far as it can be.
void Recorder::Run(const std::stop_token& stop, int durationMs) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kUpdateInterval = std::chrono::milliseconds(500);
  bool failed = false;
  uint32_t first = 0, last = 0, count = 0;
  auto nextUpdate = Clock::now() + kUpdateInterval;
  while (!stop.stop_requested() && !failed) {
    bool frameReady;
    {
      orvane::platform::MutexLock lock(mutex_);
      frameReady = frameReady_.wait_until(lock, stop, nextUpdate, [this]() ORVANE_REQUIRES(mutex_) { return newFrame_; });
      if (stop.stop_requested()) break;
      if (frameReady) newFrame_ = false;
    }
    uint32_t captured = 0;
    if (frameReady && AppendFrame(&captured, &failed)) {
      if (count++ == 0) first = captured;
      last = captured;
      if (static_cast<int32_t>(last - first - static_cast<uint32_t>(durationMs)) > 0) break;
    }
    if (Clock::now() >= nextUpdate) {
      failed = !avi_.Update();
      nextUpdate = Clock::now() + kUpdateInterval;
    }
  }
  // The duration passed, the recording was stopped, or a write failed: the file is finished either way.
  if (!avi_.Finish(orvane::output::RecordedRateTimes100(count, first, last)) || failed) {
    errors_(ORVANE_ERR_CONVERSION);
  }
  ORVANE_LOG(kOutput, kInfo, "recording finished: %u frames%s", count, failed ? " (write error)" : "");
  active_ = false;
}

bool Recorder::AppendFrame(uint32_t* captureMs, bool* failed) {
  if (!source_(frame_.data(), frame_.size(), captureMs)) return false;
  if (!avi_.AddFrame(frame_.data(), frame_.size())) {
    // A write error (disk full) ends the recording; the file is finished as far as it can be.
    ORVANE_LOG(kOutput, kError, "recording: writing frame %u failed, the recording ends", avi_.FrameCount() + 1);
    *failed = true;
    return false;
  }
  return true;
}

}  // namespace orvane::sdk
