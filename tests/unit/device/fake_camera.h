// A fake of the USB controller below the device object. Frames follow the FPGA geometry the device
// programmed (0x44/0x45 line length, 0x40/0x41 height, 0x3C pixel format); payload bytes are a pattern of
// the frame number, so torn frames show. Faults: failed or short transfers, unplug, blocking payloads.
#pragma once

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "usb/camera_controller.h"
#include "tests/unit/sensor/fake_register_bus.h"

class FakeCamera : public CameraController {
  template <typename F>
  auto Locked(F f) -> decltype(f()) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

 public:
  explicit FakeCamera(int cameras = 1, uint16_t version = 0x1200, uint8_t gpio25Wired = 0)
      : cameras_(cameras), version_(version), gpio25Wired_(gpio25Wired) {
    bus_.onAbort = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      aborted_ = true;
      cv_.notify_all();
    };
    bus_.onSelect = [this] { Locked([&] { held_ = true; }); };
    bus_.SetFpgaRegister(0x3C, 1);
  }

  static uint8_t PatternByte(uint32_t frame, size_t i) { return static_cast<uint8_t>(frame * 7 + i * 13 + (i >> 9)); }

  FakeRegisterBus& Bus() { return bus_; }

  void FailHeaders(int n) { Locked([&] { failHeaders_ = n; }); }
  void FailPayloads(int n) { Locked([&] { failPayloads_ = n; }); }
  void ShortPayloads(int n) { Locked([&] { shortPayloads_ = n; }); }
  void SetUnplugged(bool unplugged) { Locked([&] { unplugged_ = unplugged; }); }
  void BlockPayloads(bool block) { Locked([&] { blockPayloads_ = block; aborted_ = false; }); }
  int FramesSent() { return Locked([&] { return framesSent_; }); }
  int HeadersRead() { return Locked([&] { return headersRead_; }); }
  int PayloadTimeout() { return Locked([&] { return lastTimeout_; }); }
  bool ChannelOpen() { return Locked([&] { return channelOpen_; }); }
  int PipeResets() { return Locked([&] { return pipeResets_; }); }
  int StreamResets() { return Locked([&] { return streamResets_; }); }
  bool WaitForPayloadBlocked() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return blockedNow_; });
  }

  uint32_t ProgrammedFrameSize() {
    const uint32_t width = bus_.FpgaRegister(0x44) | bus_.FpgaRegister(0x45) << 8;
    const uint32_t height = bus_.FpgaRegister(0x40) | bus_.FpgaRegister(0x41) << 8;
    return width * height * (bus_.FpgaRegister(0x3C) == 2 ? 2 : 1);
  }

  CControllerBase* Registers() override { return &bus_; }
  int EnumerateDevices() override { return cameras_; }
  bool IsDeviceOpenable(int index) override {
    return Locked([&] { return !unplugged_; }) && index >= 0 && index < cameras_;
  }
  bool GetDeviceName(int, char*, size_t) override { return false; }
  bool GetTableEntry(int index, DeviceTableEntry* entry) override {
    if (index < 0 || index >= kTableEntries) return false;
    *entry = index < cameras_ ? DeviceTableEntry{0x04B4, 0x31F0, index} : DeviceTableEntry{};
    return true;
  }
  void ReleaseDevice() override { Locked([&] { held_ = false; }); }
  bool HoldsDevice() override { return Locked([&] { return held_; }); }
  bool TableAttached() override { return true; }
  bool PrepareStreaming() override { return !Locked([&] { return unplugged_; }); }
  bool ReadControllerInfo(uint8_t record[kInfoRecordSize]) override {
    std::memset(record, 0, kInfoRecordSize);
    record[24] = static_cast<uint8_t>(version_);
    record[25] = static_cast<uint8_t>(version_ >> 8);
    record[52] = gpio25Wired_;
    return true;
  }
  bool ReadControllerStatus(uint8_t record[kInfoRecordSize]) override { return std::memset(record, 0, kInfoRecordSize), true; }
  bool GetLinkSpeed(uint32_t* speed) override { return *speed = 4, true; }
  bool OpenDataChannel() override { return Locked([&] { return channelOpen_ = !unplugged_; }); }
  void CloseDataChannel() override { Locked([&] { channelOpen_ = false; }); }

  bool ReadFrameHeader(FrameTransfer* t) override {
    const uint32_t size = ProgrammedFrameSize();
    std::lock_guard<std::mutex> lock(mutex_);
    ++headersRead_;
    if (unplugged_) return false;
    if (failHeaders_ > 0) {
      --failHeaders_;
      return false;
    }
    uint32_t payload = size;
    if (shortPayloads_ > 0) {
      --shortPayloads_;
      payload = size - 1;
    }
    std::memset(t->header, 0, sizeof(t->header));
    PutWord(t->header, 16, payload);
    PutWord(t->header, 28, 0x1000 + framesSent_);
    PutWord(t->header, 32, static_cast<uint32_t>(framesSent_));
    PutWord(t->header, 40, 0x4000 + framesSent_);
    PutWord(t->header, 44, 0x8000 + framesSent_);
    t->frameCounterWord = static_cast<uint32_t>(framesSent_);
    return true;
  }

  bool ReadFrameData(FrameTransfer* t, uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    lastTimeout_ = static_cast<int>(timeoutMs);
    if (blockPayloads_) {
      blockedNow_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return aborted_; });
      blockedNow_ = false;
      aborted_ = false;
      return false;
    }
    if (unplugged_) return false;
    if (failPayloads_ > 0) {
      --failPayloads_;
      return false;
    }
    const uint32_t length = t->PayloadLength();
    if (length > t->bufferSize) return false;
    const uint32_t frame = static_cast<uint32_t>(framesSent_++);
    for (uint32_t i = 0; i < length; ++i) t->buffer[i] = PatternByte(frame, i);
    return true;
  }

  bool ResetPipe(uint8_t endpoint) override { return Locked([&] { return pipeResets_ += endpoint == 0x81, true; }); }
  bool SendStreamReset() override { return Locked([&] { return ++streamResets_, true; }); }

 private:
  static void PutWord(uint8_t* p, int offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  FakeRegisterBus bus_;
  const int cameras_;
  const uint16_t version_;
  const uint8_t gpio25Wired_;
  std::mutex mutex_;
  std::condition_variable cv_;
  // All below guarded by mutex_.
  int failHeaders_ = 0;
  int failPayloads_ = 0;
  int shortPayloads_ = 0;
  bool unplugged_ = false;
  bool held_ = false;  // selected and not released
  bool blockPayloads_ = false;
  bool blockedNow_ = false;
  bool aborted_ = false;
  bool channelOpen_ = false;
  int framesSent_ = 0;
  int headersRead_ = 0;
  int lastTimeout_ = 0;
  int pipeResets_ = 0;
  int streamResets_ = 0;
};
