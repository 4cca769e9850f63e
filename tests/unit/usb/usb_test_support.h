// A recording wrapper around a driver backend, a private shared section per test, and the two-process
// device table tests shared by the POSIX and Win32 programs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "platform/time.h"
#include "sim/virtual_bus.h"
#include "usb/orv_cy3_cam.h"
#include "usb/transfer_record.h"

namespace orvane::usb::testing {

struct RecordedIo {
  IoCode code;
  bool overlapped = false;
  std::vector<uint8_t> in;
  std::vector<uint8_t> outSent;  // first 64 bytes sent to endpoint 0x01
  uint32_t outLength = 0;
};

class RecordingDriver final : public DriverBackend {
 public:
  explicit RecordingDriver(DriverBackend& inner) : inner_(inner) {}

  std::vector<std::string> EnumerateInterfaces(const InterfaceGuid& guid, int maxMembers) override {
    return inner_.EnumerateInterfaces(guid, maxMembers);
  }
  std::unique_ptr<DeviceHandle> Open(const std::string& path, bool overlapped, uint32_t* error) override {
    auto handle = inner_.Open(path, overlapped, error);
    if (!handle) return nullptr;
    return std::make_unique<Handle>(*this, std::move(handle));
  }
  std::string ClaimScope() const override { return inner_.ClaimScope(); }

  std::vector<RecordedIo> Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  std::vector<RecordedIo> Log(IoCode code) const {
    std::vector<RecordedIo> out;
    for (auto& r : Log()) {
      if (r.code == code) out.push_back(r);
    }
    return out;
  }
  std::vector<std::vector<uint8_t>> ControlRecords() const {
    std::vector<std::vector<uint8_t>> out;
    for (auto& r : Log(IoCode::kControlTransfer)) out.push_back(r.in);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
  }
  // When >= 0, synchronous control transfers report this many bytes returned.
  std::atomic<int> controlBytesOverride{-1};

 private:
  class Handle final : public DeviceHandle {
   public:
    Handle(RecordingDriver& owner, std::unique_ptr<DeviceHandle> inner) : owner_(owner), inner_(std::move(inner)) {}
    bool overlapped() const override { return inner_->overlapped(); }
    IoStart Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) override {
      const auto* inBytes = static_cast<uint8_t*>(in);
      RecordedIo r{code, inner_->overlapped(), {}, {}, outLength};
      if (in != nullptr) r.in.assign(inBytes, inBytes + inLength);
      if (code == IoCode::kDirectBulkTransfer && in != nullptr && inLength >= kTransferRecordSize &&
          inBytes[record::kEndpoint] == kEndpointOut && out != nullptr) {
        r.outSent.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + std::min<uint32_t>(outLength, 64));
      }
      {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        owner_.log_.push_back(std::move(r));
      }
      IoStart start = inner_->Control(code, in, inLength, out, outLength);
      const int override = owner_.controlBytesOverride.load();
      if (code == IoCode::kControlTransfer && override >= 0 && !start.io) start.bytes = static_cast<uint32_t>(override);
      return start;
    }

   private:
    RecordingDriver& owner_;
    std::unique_ptr<DeviceHandle> inner_;
  };

  DriverBackend& inner_;
  mutable std::mutex mutex_;
  std::vector<RecordedIo> log_;  // guarded by mutex_
};

class ScopedSectionName {
 public:
  ScopedSectionName() {
    static const uint64_t run = std::random_device{}() * 0x100000000ull + std::random_device{}();
    static std::atomic<int> counter{0};
    name_ = "R3O5-Test-" + std::to_string(run) + "-" + std::to_string(counter++);
    Cleanup();
  }
  ~ScopedSectionName() { Cleanup(); }
  const std::string& name() const { return name_; }
  void Cleanup() const {
    platform::SharedMemory::Remove(name_);
    platform::NamedLock::Remove(name_ + "-Lock");
  }

 private:
  std::string name_;
};

inline std::vector<uint8_t> ControlRecord(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                                          const std::vector<uint8_t>& data = {}) {
  std::vector<uint8_t> rec(kControlRequestSize);
  BuildControlRecord(rec.data(), type, request, value, index);
  std::copy(data.begin(), data.end(), rec.begin() + kTransferRecordSize);
  return rec;
}

inline ControllerOptions Options(DriverBackend& driver, const std::string& section) {
  ControllerOptions o;
  o.driver = &driver;
  o.sectionName = section;
  return o;
}

template <typename P>
bool Eventually(P predicate) {
  for (int i = 0; i < 20000; ++i) {
    if (predicate()) return true;
    platform::SleepMs(1);
  }
  return predicate();
}

// `spawn(role, section)` starts this program again running only RunDeviceTableChildRole and answers a
// function giving the child's exit code (empty when the start failed).
using SpawnChild = std::function<std::function<int()>(const std::string& role, const std::string& section)>;

inline void RunDeviceTableChildRole(const std::string& role, const std::string& section) {
  if (role == "numbering") {
    // Same three cameras as the parent, all plugged: the two the parent found keep their numbers.
    sim::VirtualBus bus(3);
    COrvCy3Cam cam(Options(bus, section));
    ASSERT_EQ(cam.DeviceCount(), 2);
    ASSERT_EQ(cam.EnumerateDevices(), 3);
    EXPECT_EQ(cam.GetDeviceEntry(0)->devicePath, bus.Camera(0).path());
    EXPECT_EQ(cam.GetDeviceEntry(1)->devicePath, bus.Camera(2).path());
    EXPECT_EQ(cam.GetDeviceEntry(2)->devicePath, bus.Camera(1).path());
    EXPECT_EQ(cam.GetDeviceEntry(2)->ordinal, 2);
  } else if (role == "concurrent") {
    sim::BusOptions options;
    options.serialPrefix = "CHLD";
    sim::VirtualBus bus(0, options);
    COrvCy3Cam cam(Options(bus, section));
    for (int i = 0; i < 16; ++i) {
      bus.AddCamera();
      cam.EnumerateDevices();
    }
  } else {
    FAIL() << "unknown role " << role;
  }
}

inline void TwoProcessesSeeTheSameNumbering(const SpawnChild& spawn) {
  ScopedSectionName section;
  sim::VirtualBus bus(3);
  COrvCy3Cam cam(Options(bus, section.name()));
  bus.Camera(1).Unplug();
  ASSERT_EQ(cam.EnumerateDevices(), 2);
  const auto wait = spawn("numbering", section.name());
  ASSERT_TRUE(wait);
  EXPECT_EQ(wait(), 0);
  // The child's addition is visible here under the same number.
  ASSERT_EQ(cam.DeviceCount(), 3);
  EXPECT_EQ(cam.GetDeviceEntry(2)->devicePath, bus.Camera(1).path());
}

inline void ConcurrentEnumerationFromTwoProcessesLosesNoEntry(const SpawnChild& spawn) {
  ScopedSectionName section;
  sim::BusOptions options;
  options.serialPrefix = "PRNT";
  sim::VirtualBus bus(0, options);
  COrvCy3Cam cam(Options(bus, section.name()));
  const auto wait = spawn("concurrent", section.name());
  ASSERT_TRUE(wait);
  for (int i = 0; i < 16; ++i) {
    bus.AddCamera();
    cam.EnumerateDevices();
  }
  EXPECT_EQ(wait(), 0);
  ASSERT_EQ(cam.DeviceCount(), 32);
  std::set<std::string> paths;
  int parentCount = 0;
  for (int i = 0; i < 32; ++i) {
    const auto entry = cam.GetDeviceEntry(i);
    ASSERT_TRUE(entry);
    paths.insert(entry->devicePath);
    EXPECT_EQ(entry->ordinal, i) << "all entries have the same product ID";
    parentCount += entry->devicePath.find("#prnt") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(paths.size(), 32u);
  EXPECT_EQ(parentCount, 16) << "the other 16 are the child's";
}

}  // namespace orvane::usb::testing
