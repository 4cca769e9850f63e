// Test support for the controller layer: a recording wrapper around a driver backend (it captures
// every request that reaches the seam) and a private shared section per test.
#pragma once

#include <atomic>
#include <cstring>
#include <random>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "usb/driver_seam.h"
#include "usb/transfer_record.h"

namespace orvane::usb::testing {

struct RecordedIo {
  IoCode code;
  bool overlapped = false;
  std::vector<uint8_t> in;       // input buffer as submitted
  std::vector<uint8_t> outSent;  // output buffer as submitted, for transfers to endpoint 0x01
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
    ++opens;
    return std::make_unique<Handle>(*this, std::move(handle));
  }

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
  // Control transfers as submitted (102 bytes each).
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
  std::atomic<int> opens{0};

 private:
  class Handle final : public DeviceHandle {
   public:
    Handle(RecordingDriver& owner, std::unique_ptr<DeviceHandle> inner) : owner_(owner), inner_(std::move(inner)) {}
    bool overlapped() const override { return inner_->overlapped(); }
    IoStart Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) override {
      RecordedIo r;
      r.code = code;
      r.overlapped = inner_->overlapped();
      if (in != nullptr) r.in.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + inLength);
      r.outLength = outLength;
      if (code == IoCode::kDirectBulkTransfer && in != nullptr && inLength >= kTransferRecordSize &&
          static_cast<uint8_t*>(in)[record::kEndpoint] == kEndpointOut && out != nullptr) {
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
  std::vector<RecordedIo> log_;
};

// A section name of its own for each test, removed afterwards.
class ScopedSectionName {
 public:
  ScopedSectionName() {
    // Unique across the test processes that run at the same time on this machine.
    static const uint64_t run = std::random_device{}() * 0x100000000ull + std::random_device{}();
    static std::atomic<int> counter{0};
    name_ = "R3O5-Test-" + std::to_string(run) + "-" + std::to_string(counter++);
    Cleanup();
  }
  explicit ScopedSectionName(std::string name) : name_(std::move(name)) {}
  ~ScopedSectionName() { Cleanup(); }
  const std::string& name() const { return name_; }
  void Cleanup() const {
    platform::SharedMemory::Remove(name_);
    platform::NamedLock::Remove(name_ + "-Lock");
  }

 private:
  std::string name_;
};

}  // namespace orvane::usb::testing
