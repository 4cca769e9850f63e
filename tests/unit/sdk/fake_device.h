// A fake camera behind the device interface, for driving the SDK object's acquisition without USB: one
// camera (number 0) that streams frames of one byte value filling the raw frame's rows, and that can
// refuse to start streaming, fail the transfer of frames, or be unplugged (its stream then fails). Every
// frame taken counts as read, and a test may let frames be read that nobody takes (ReadUntaken); the
// metadata and counts it gives follow them as the device's do.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "device/orvane_device.h"

class FakeDevice : public COrvaneR3O5Base {
 public:
  // ---- What a test changes ----
  void SetFill(uint8_t value) { Locked([&] { fill_ = value; }); }
  void FailStart(bool fail) { Locked([&] { failStart_ = fail; }); }
  void FailTransfers(bool fail) { Locked([&] { failTransfers_ = fail; }); }
  void Unplug() { Locked([&] { unplugged_ = true; present_ = false; }); }
  // `count` more frames are read before the next one taken (they are skipped).
  void ReadUntaken(uint64_t count) { Locked([&] { stats_.framesRead += count; }); }

  // ---- What a test reads ----
  int Starts() { return Locked([&] { return starts_; }); }
  int Stops() { return Locked([&] { return stops_; }); }
  int LastStartMode() { return Locked([&] { return lastStartMode_; }); }
  int FramesTaken() { return Locked([&] { return framesTaken_; }); }
  int FailedTakes() { return Locked([&] { return failedTakes_; }); }
  int StreamFailures() { return Locked([&] { return streamFailures_; }); }
  bool Streaming() { return Locked([&] { return mode_ >= 0; }); }
  int BitDepth() { return Locked([&] { return bitDepth_; }); }
  // Waits (generously) until `done` holds of the counters; false when it never did.
  template <typename F>
  bool WaitUntil(F done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return done(); });
  }
  bool WaitForFrames(int n) { return WaitUntil([&] { return framesTaken_ >= n; }); }
  bool WaitForFailedTakes(int n) { return WaitUntil([&] { return failedTakes_ >= n; }); }
  bool WaitForStreamFailure() { return WaitUntil([&] { return streamFailures_ > 0; }); }

  // ---- The device interface ----
  int CreateController(void*, const InterfaceClassGuid*) override { return 1; }
  int Close() override { return Locked([&] { held_ = false; mode_ = -1; return 1; }); }
  int CountDevices(int32_t) override { return Locked([&] { return present_ ? 1 : 0; }); }
  int IsDevicePresent(int32_t number) override { return Locked([&] { return present_ && number == 0 ? 1 : 0; }); }
  int32_t GetDeviceNumber() override { return 0; }
  int Open(int32_t number) override {
    return Locked([&] { return (held_ = present_ && number == 0) ? 1 : 0; });
  }
  int HoldsCamera() override { return Locked([&] { return held_ ? 1 : 0; }); }
  int ReclaimCamera() override { return Locked([&] { return (held_ = present_) ? 1 : 0; }); }
  int ReleaseCamera() override {
    return Locked([&] {
      held_ = false;
      mode_ = -1;
      return 1;
    });
  }
  int AllowsNarrowWindow() override { return 1; }
  int AllowsLowWindow() override { return 1; }
  int SetWindow(int32_t, int32_t, int32_t, int32_t, int32_t) override { return 1; }
  int SetBitDepth(int32_t mode) override { return Locked([&] { bitDepth_ = mode; return 1; }); }

  int StartTransfer(int32_t mode) override {
    return Locked([&] {
      ++starts_;
      lastStartMode_ = mode;
      if (failStart_) return 0;
      mode_ = mode;
      stats_ = {};
      lastTaken_ = 0;
      singlePending_ = mode == 1;
      return 1;
    });
  }
  int StopTransfer(int32_t) override {
    return Locked([&] {
      ++stops_;
      mode_ = -1;
      return 1;
    });
  }
  // Continuous streaming always has a frame; a single-frame transfer has one until it is taken. A
  // stop ends a wait at once, as the device's does.
  int WaitFrame(int32_t ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const int stops = stops_;
    auto ready = [&] { return mode_ == 0 || (mode_ == 1 && singlePending_); };
    changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return unplugged_ || ready() || stops_ != stops; });
    if (unplugged_) {
      ++streamFailures_;
      changed_.notify_all();
      return kWaitFailed;
    }
    return ready() ? kWaitNewFrame : kWaitNoFrame;
  }
  bool TakeNewestFrame(uint8_t* dst, int32_t stride, size_t bytes, int, orvane::device::FrameMetadata* metadata) override {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
    if (failTransfers_) {
      ++failedTakes_;
      ++stats_.failedTransfers;
      return false;
    }
    for (size_t row = 0; row + stride <= bytes; row += static_cast<size_t>(stride)) {
      std::memset(dst + row, fill_, static_cast<size_t>(stride));
    }
    singlePending_ = false;
    ++framesTaken_;
    orvane::device::FrameMetadata taken;
    taken.sequence = ++stats_.framesRead;
    taken.skipped = static_cast<uint32_t>(taken.sequence - lastTaken_ - 1);
    taken.hostTimeNs = taken.sequence * 1000;
    taken.cameraCounter = static_cast<int64_t>(taken.sequence & 0xFF);
    stats_.framesSkipped += taken.skipped;
    ++stats_.framesDelivered;
    lastTaken_ = taken.sequence;
    *metadata = taken;
    return true;
  }
  orvane::device::StreamStatistics StreamStats() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
  }

 private:
  template <typename F>
  auto Locked(F f) -> decltype(f()) {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
    return f();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // notified at every call and change
  bool present_ = true, held_ = false, unplugged_ = false;
  bool failStart_ = false, failTransfers_ = false, singlePending_ = false;
  int mode_ = -1;  // -1 stopped, else the mode of StartTransfer
  uint8_t fill_ = 0x80;
  int bitDepth_ = -1, starts_ = 0, stops_ = 0, lastStartMode_ = -1;
  int framesTaken_ = 0, failedTakes_ = 0, streamFailures_ = 0;
  orvane::device::StreamStatistics stats_;
  uint64_t lastTaken_ = 0;
};
