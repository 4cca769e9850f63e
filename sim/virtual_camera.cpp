// The virtual camera's bulk side and frame stream: the seam's entry, the queue of endpoint 0x81 and the
// frames it sends. The control endpoint is in virtual_camera_control.cpp, the knobs and the faults in
// virtual_camera_state.cpp and virtual_camera_faults.cpp.
#include "sim/virtual_camera.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hardware/camera_registers.h"
#include "platform/time.h"
#include "sim/virtual_camera_model.h"
#include "usb/transfer_record.h"
#include "usb/vendor_requests.h"

namespace orvane::sim {

using usb::IoCode;
using usb::IoStart;
using usb::LoadU16;
using usb::LoadU32;
using usb::StoreU16;
using usb::StoreU32;

namespace {

using model::kDriverStatusError;
using model::kFpgaVersion;
using model::kPageSize;
using model::kUsbStatusStall;
using model::MemoryPattern;

namespace reg = camera::fpga;
namespace sensor_reg = camera::imx226;

// Timing model of the sensor: frame period in lines and line length in 72 MHz clocks.
constexpr int kFullPeriodLines = sensor_reg::kFullPeriodLines;
constexpr int kSubPeriodLines = sensor_reg::kReducedPeriodLines;
constexpr int kFullLineClocks = sensor_reg::kFullLineClocks;
constexpr int kSubLineClocks = sensor_reg::kReducedLineClocks;
constexpr double kSensorClockKHz = sensor_reg::kSensorClockKHz;
constexpr int kDefaultExposureLines = sensor_reg::kDefaultExposureLines;
constexpr int kGainMax = sensor_reg::kGainMax;

constexpr uint32_t kEepromSize = 0x10000;
constexpr uint16_t kSerialAddress = camera::eeprom::kSerialNumber;
constexpr size_t kSerialMax = camera::eeprom::kSerialNumberLength;
constexpr size_t kMaxPayload = 0x4000000;  // 64 MiB: what one bulk request can carry

class CompletedIo final : public usb::PendingIo {
 public:
  explicit CompletedIo(uint32_t bytes) : bytes_(bytes) {}
  bool Wait(uint32_t) override { return true; }
  bool GetResult(uint32_t* bytes, uint32_t* error) override {
    if (bytes != nullptr) *bytes = bytes_;
    if (error != nullptr) *error = 0;
    return true;
  }

 private:
  uint32_t bytes_;
};

}  // namespace

struct VirtualCamera::BulkRequest {
  uint8_t endpoint = 0;
  uint8_t* data = nullptr;    // caller's buffer; dropped once complete
  uint32_t length = 0;
  uint8_t* record = nullptr;  // status words are written here; dropped once complete
  uint32_t bias = 0;          // record bytes counted in the result (buffered requests)
  bool faultDecided = false;
  bool fail = false;
  bool delayed = false;
  Clock::time_point notBefore{};
  bool done = false;
  bool ok = false;
  uint32_t bytes = 0;
  uint32_t error = 0;
};

namespace {

class SimPendingIo final : public usb::PendingIo {
 public:
  SimPendingIo(std::shared_ptr<VirtualCamera> camera, std::shared_ptr<VirtualCamera::BulkRequest> request)
      : camera_(std::move(camera)), request_(std::move(request)) {}
  ~SimPendingIo() override { camera_->CancelRequest(request_); }
  bool Wait(uint32_t timeoutMs) override { return camera_->WaitRequest(request_, timeoutMs); }
  bool GetResult(uint32_t* bytes, uint32_t* error) override { return camera_->RequestResult(request_, bytes, error); }

 private:
  std::shared_ptr<VirtualCamera> camera_;
  std::shared_ptr<VirtualCamera::BulkRequest> request_;
};

// Adds the calling thread's CPU time from construction to destruction to `total`; declared after the
// camera's lock, so that it ends while the lock is held.
class CpuMeter {
 public:
  explicit CpuMeter(uint64_t& total) : total_(total), start_(orvane::platform::ThreadCpuNs()) {}
  ~CpuMeter() { total_ += orvane::platform::ThreadCpuNs() - start_; }
  CpuMeter(const CpuMeter&) = delete;
  CpuMeter& operator=(const CpuMeter&) = delete;

 private:
  uint64_t& total_;
  uint64_t start_;
};

IoStart Refused(uint32_t error) {
  IoStart s;
  s.error = error;
  return s;
}

IoStart Completed(bool overlapped, uint32_t bytes) {
  IoStart s;
  s.bytes = bytes;
  if (overlapped) s.io = std::make_unique<CompletedIo>(bytes);
  return s;
}

}  // namespace

std::string DevicePathFor(uint16_t vendorId, uint16_t productId, const std::string& instance) {
  char prefix[64];
  std::snprintf(prefix, sizeof(prefix), "\\\\?\\usb#vid_%04x&pid_%04x#", vendorId, productId);
  return std::string(prefix) + instance + "#{328184c5-93e6-49b7-94b8-2ada13aabb39}";
}

VirtualCamera::VirtualCamera(CameraConfig config)
    : config_(std::move(config)), sensor_(0x10000, 0), eeprom_(kEepromSize, 0xFF) {
  const size_t n = std::min(config_.serial.size(), kSerialMax);
  std::memcpy(eeprom_.data() + kSerialAddress, config_.serial.data(), n);
  std::lock_guard<std::mutex> lock(mutex_);
  PowerOnLocked();
}

VirtualCamera::~VirtualCamera() = default;

void VirtualCamera::PowerOnLocked() {
  powerOn_ = Clock::now();
  std::memset(fpga_, 0, sizeof(fpga_));
  fpgaWide_.clear();
  fpgaPointer_ = 0;
  std::fill(sensor_.begin(), sensor_.end(), 0);
  sensorPointer_ = 0;
  std::memset(reg5A_, 0, sizeof(reg5A_));
  controlByte_ = 0;
  pair_[0] = pair_[1] = 0;
  // Power-on window: 4000 x 3000 at the sensor origin, full resolution, 8 bits per pixel.
  auto set16 = [this](uint8_t r, uint16_t v) {
    fpga_[r] = static_cast<uint8_t>(v);
    fpga_[r + 1] = static_cast<uint8_t>(v >> 8);
  };
  set16(reg::kHeightLow, 3000);
  set16(reg::kLineLengthLow, 4000);
  set16(reg::kVerticalStartLow, reg::kVerticalMarginFull);
  set16(reg::kHorizontalStartLow, reg::kHorizontalMarginFull);
  fpga_[reg::kFullResolution] = 1;
  fpga_[reg::kPixelFormat] = reg::kPixelFormat8Bit;
  fpga_[reg::kVersionLow] = static_cast<uint8_t>(kFpgaVersion);
  fpga_[reg::kVersionHigh] = static_cast<uint8_t>(kFpgaVersion >> 8);
  // Sensor: default exposure of 3075 lines (shutter start 4 in a 3079-line frame).
  sensor_[sensor_reg::kDriveMode] = 0x11;
  sensor_[sensor_reg::kShutterLow] = kFullPeriodLines - kDefaultExposureLines;
  memory_.clear();
  memReadRemaining_ = memWriteRemaining_ = 0;
  stream_ = StreamState::kHeader;
  armed_ = false;
  anyFrame_ = false;
  streaming_ = false;
  frameCounter_ = 0;
  payloadOffset_ = payloadEnd_ = 0;
}

std::string VirtualCamera::path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return DevicePathFor(config_.vendorId, config_.productId, config_.instance);
}

bool VirtualCamera::plugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plugged_;
}

uint64_t VirtualCamera::generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

// ---------------------------------------------------------------------------------------------------
// The seam

IoStart VirtualCamera::Io(uint64_t generation, bool overlapped, IoCode code, void* inVoid, uint32_t inLength,
                          void* outVoid, uint32_t outLength) {
  auto* in = static_cast<uint8_t*>(inVoid);
  auto* out = static_cast<uint8_t*>(outVoid);
  std::unique_lock<std::mutex> lock(mutex_);
  CpuMeter meter(counters_.cpuNs);
  Clock::time_point ignored;
  FireDueFaultsLocked(Clock::now(), &ignored);
  if (!plugged_ || generation != generation_) return Refused(usb::kErrorDeviceNotConnected);
  switch (code) {
    case IoCode::kControlTransfer: {
      if (in == nullptr || out == nullptr || inLength < usb::kControlRequestSize ||
          outLength < usb::kControlRequestSize) {
        return Refused(usb::kErrorInvalidParameter);
      }
      if (out != in) std::memmove(out, in, usb::kControlRequestSize);
      return Completed(overlapped, ControlTransferLocked(out, static_cast<uint32_t>(usb::kControlRequestSize)));
    }
    case IoCode::kResetPipe:
      if (in == nullptr || inLength < 1) return Refused(usb::kErrorInvalidParameter);
      if (in[0] == usb::kEndpointFrames) {
        CancelQueueLocked(usb::kErrorOperationAborted);
        ResetStreamLocked(true);
      }
      return Completed(overlapped, 0);
    case IoCode::kResetPort:
      CancelQueueLocked(usb::kErrorOperationAborted);
      ResetStreamLocked(true);
      memReadRemaining_ = memWriteRemaining_ = 0;
      return Completed(overlapped, 0);
    case IoCode::kAbortPipe:
      if (in == nullptr || inLength < 1) return Refused(usb::kErrorInvalidParameter);
      ++counters_.abortRequests;
      if (in[0] == usb::kEndpointFrames) CancelQueueLocked(usb::kErrorOperationAborted);
      return Completed(overlapped, 0);
    case IoCode::kGetSpeed:
      if (out == nullptr || outLength < 4) return Refused(usb::kErrorInvalidParameter);
      StoreU32(out, config_.linkSpeed);
      return Completed(overlapped, 4);
    case IoCode::kDirectBulkTransfer:
    case IoCode::kBufferedBulkTransfer:
      return BulkIoLocked(lock, overlapped, code, in, inLength, out, outLength);
  }
  return Refused(usb::kErrorInvalidParameter);
}

IoStart VirtualCamera::BulkIoLocked(std::unique_lock<std::mutex>& lock, bool overlapped, IoCode code, uint8_t* in,
                                    uint32_t inLength, uint8_t* out, uint32_t outLength) {
  if (in == nullptr || inLength < usb::kTransferRecordSize) return Refused(usb::kErrorInvalidParameter);
  auto request = std::make_shared<BulkRequest>();
  if (code == IoCode::kDirectBulkTransfer) {
    if (out == nullptr && outLength != 0) return Refused(usb::kErrorInvalidParameter);
    request->record = in;
    request->data = out;
    request->length = outLength;
  } else {
    const uint32_t length = LoadU32(in + usb::record::kBufferLength);
    if (out == nullptr || length > kMaxPayload || outLength < usb::kTransferRecordSize + length ||
        inLength < usb::kTransferRecordSize + length) {
      return Refused(usb::kErrorInvalidParameter);
    }
    if (out != in) std::memmove(out, in, usb::kTransferRecordSize);
    request->record = out;
    request->data = out + usb::kTransferRecordSize;
    request->length = length;
    request->bias = static_cast<uint32_t>(usb::kTransferRecordSize);
  }
  request->endpoint = request->record[usb::record::kEndpoint];
  if (request->endpoint == usb::kEndpointFrames) return QueueLocked(lock, overlapped, request);
  if (request->endpoint == usb::kEndpointOut) {
    const bool ok = BulkOutLocked(request->data, request->length);
    CompleteLocked(*request, true, ok ? request->length : 0, 0, !ok);
  } else if (request->endpoint == usb::kEndpointAux) {
    EnsureRenderedLocked();
    const FrameBytes& frame = variants_.front();
    const auto n = static_cast<uint32_t>(std::min<size_t>(request->length, frame->size()));
    if (n != 0) std::memcpy(request->data, frame->data(), n);
    CompleteLocked(*request, true, n, 0, false);
  } else {
    return Refused(usb::kErrorInvalidParameter);
  }
  IoStart s;
  s.bytes = request->bytes;
  if (overlapped) s.io = std::make_unique<SimPendingIo>(shared_from_this(), request);
  return s;
}

IoStart VirtualCamera::QueueLocked(std::unique_lock<std::mutex>& lock, bool overlapped,
                                   std::shared_ptr<BulkRequest> request) {
  queue_.push_back(request);
  changed_.notify_all();
  IoStart s;
  if (!overlapped) {
    // A synchronous handle: DeviceIoControl returns when the request is done.
    while (!request->done) {
      Clock::time_point wake = Clock::time_point::max();
      if (ProcessFrontLocked(Clock::now(), &wake)) continue;
      if (wake == Clock::time_point::max()) changed_.wait(lock);
      else changed_.wait_until(lock, wake);
    }
    s.error = request->ok ? 0 : request->error;
    s.bytes = request->bytes;
    return s;
  }
  Clock::time_point wake;
  while (!request->done && ProcessFrontLocked(Clock::now(), &wake)) {
  }
  if (request->done && !request->ok) return Refused(request->error);
  s.error = request->done ? 0 : usb::kErrorIoPending;
  s.bytes = request->done ? request->bytes : 0;
  s.io = std::make_unique<SimPendingIo>(shared_from_this(), std::move(request));
  return s;
}

bool VirtualCamera::WaitRequest(const std::shared_ptr<BulkRequest>& request, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  CpuMeter meter(counters_.cpuNs);
  const Clock::time_point deadline = timeoutMs == usb::kInfinite
                                         ? Clock::time_point::max()
                                         : Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (request->done) return true;
    const Clock::time_point now = Clock::now();
    Clock::time_point wake = Clock::time_point::max();
    if (ProcessFrontLocked(now, &wake)) continue;
    if (now >= deadline) return false;
    const Clock::time_point until = std::min(wake, deadline);
    if (until == Clock::time_point::max()) changed_.wait(lock);
    else changed_.wait_until(lock, until);
  }
}

bool VirtualCamera::RequestResult(const std::shared_ptr<BulkRequest>& request, uint32_t* bytes, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!request->done) {
    if (error != nullptr) *error = usb::kErrorIoPending;
    return false;
  }
  if (!request->ok) {
    if (bytes != nullptr) *bytes = 0;
    if (error != nullptr) *error = request->error;
    return false;
  }
  if (bytes != nullptr) *bytes = request->bytes;
  if (error != nullptr) *error = 0;
  return true;
}

void VirtualCamera::CancelRequest(const std::shared_ptr<BulkRequest>& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (request->done) return;
  queue_.erase(std::remove(queue_.begin(), queue_.end(), request), queue_.end());
  ++counters_.requestsCancelled;
  CompleteLocked(*request, false, 0, usb::kErrorOperationAborted, false);
}

void VirtualCamera::CancelQueueLocked(uint32_t error) {
  for (const auto& request : queue_) {
    ++counters_.requestsCancelled;
    CompleteLocked(*request, false, 0, error, false);
  }
  queue_.clear();
}

void VirtualCamera::CompleteLocked(BulkRequest& request, bool ok, uint32_t bytes, uint32_t error,
                                   bool statusFailure) {
  if (ok && failBulkStatus_ > 0) {
    --failBulkStatus_;
    statusFailure = true;
  }
  if (ok && statusFailure) {
    StoreU32(request.record + usb::record::kDriverStatus, kDriverStatusError);
    StoreU32(request.record + usb::record::kUsbStatus, kUsbStatusStall);
    bytes = 0;
  }
  request.done = true;
  request.ok = ok;
  request.bytes = ok ? bytes + request.bias : 0;
  request.error = error;
  // The driver lets go of the caller's buffers here.
  request.data = nullptr;
  request.record = nullptr;
  changed_.notify_all();
}

bool VirtualCamera::ProcessFrontLocked(Clock::time_point now, Clock::time_point* wake) {
  Clock::time_point faultWake;
  if (FireDueFaultsLocked(now, &faultWake)) return true;
  const bool done = ProcessQueueFrontLocked(now, wake);
  *wake = std::min(*wake, faultWake);
  return done;
}

bool VirtualCamera::ProcessQueueFrontLocked(Clock::time_point now, Clock::time_point* wake) {
  *wake = Clock::time_point::max();
  if (queue_.empty()) return false;
  // The request stays alive while it is completed, after it left the queue.
  std::shared_ptr<BulkRequest> front = queue_.front();
  BulkRequest& r = *front;
  // An FPGA memory read in progress comes first.
  if (memReadRemaining_ > 0) return FinishFrontLocked(r, false, ReadMemoryLocked(r));
  if (stream_ == StreamState::kHeader) return SendHeaderLocked(r, now, wake);
  return SendPayloadLocked(r, now, wake);
}

bool VirtualCamera::FinishFrontLocked(BulkRequest& r, bool statusFailure, uint32_t bytes) {
  queue_.pop_front();
  CompleteLocked(r, true, bytes, 0, statusFailure);
  return true;
}

uint32_t VirtualCamera::ReadMemoryLocked(BulkRequest& r) {
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(r.length, memReadRemaining_));
  uint64_t address = memReadAddress_;
  for (uint32_t done = 0; done < n;) {
    const uint64_t page = address / kPageSize;
    const auto offset = static_cast<uint32_t>(address % kPageSize);
    const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(n - done, kPageSize - offset));
    auto it = memory_.find(page);
    if (it != memory_.end()) {
      std::memcpy(r.data + done, it->second.data() + offset, chunk);
    } else {
      for (uint32_t i = 0; i < chunk; ++i) r.data[done + i] = MemoryPattern(address + i);
    }
    done += chunk;
    address += chunk;
  }
  memReadAddress_ = address;
  memReadRemaining_ -= n;
  return n;
}

bool VirtualCamera::SendHeaderLocked(BulkRequest& r, Clock::time_point now, Clock::time_point* wake) {
  // The FPGA sends a header only after the controller has been armed by request 0xC2.
  if (!armed_) return false;
  if (!r.faultDecided) {
    r.faultDecided = true;
    if (failHeaders_ > 0) {
      --failHeaders_;
      r.fail = true;
    } else if (delayHeaders_ > 0) {
      --delayHeaders_;
      r.delayed = true;
      r.notBefore = headerDelayMs_ == kNever ? Clock::time_point::max()
                                             : now + std::chrono::milliseconds(headerDelayMs_);
    }
  }
  if (r.fail) {
    armed_ = false;
    return FinishFrontLocked(r, true, 0);
  }
  const FrameFormat format = FormatLocked();
  Clock::time_point due = now;
  if (config_.pacing == Pacing::kSensorTiming && anyFrame_) {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(format.framePeriodMs));
    due = lastFrameTime_ + period;
    if (due < now && period.count() > 0) {
      // Frames nobody asked for were dropped; the frame that is being read out now (the one that
      // started at the latest period boundary) is the next one sent. Rounding up instead would move
      // the boundary past `now` on every wake-up and no header would ever be due.
      const auto periods = (now - lastFrameTime_) / period;
      due = lastFrameTime_ + period * periods;
    }
  }
  if (r.delayed) due = std::max(due, r.notBefore);
  if (now < due) {
    *wake = due;
    return false;
  }
  StartFrameLocked(std::min(due, now));
  armed_ = false;
  const auto n = static_cast<uint32_t>(std::min<size_t>(r.length, sizeof(header_)));
  if (n != 0) std::memcpy(r.data, header_, n);
  ++counters_.headersSent;
  return FinishFrontLocked(r, false, n);
}

bool VirtualCamera::SendPayloadLocked(BulkRequest& r, Clock::time_point now, Clock::time_point* wake) {
  if (!r.faultDecided) {
    r.faultDecided = true;
    if (failPayloads_ > 0) {
      --failPayloads_;
      r.fail = true;
    } else if (delayPayloads_ > 0) {
      --delayPayloads_;
      r.delayed = true;
      r.notBefore = payloadDelayMs_ == kNever ? Clock::time_point::max()
                                              : now + std::chrono::milliseconds(payloadDelayMs_);
    }
  }
  if (r.fail) return FinishFrontLocked(r, true, 0);
  if (r.delayed && now < r.notBefore) {
    *wake = r.notBefore;
    return false;
  }
  const uint32_t n = std::min(r.length, payloadEnd_ - payloadOffset_);
  if (n != 0) std::memcpy(r.data, frame_->data() + payloadOffset_, n);
  payloadOffset_ += n;
  if (payloadOffset_ >= payloadEnd_) {
    if (payloadEnd_ == frame_->size()) ++counters_.framesCompleted;
    stream_ = StreamState::kHeader;
  }
  return FinishFrontLocked(r, false, n);
}

void VirtualCamera::StartFrameLocked(Clock::time_point frameTime) {
  EnsureRenderedLocked();
  frame_ = variants_[frameCounter_ % variants_.size()];
  ++frameCounter_;
  lastFrameTime_ = frameTime;
  anyFrame_ = true;
  // Besides the payload length, the status words and the counter the device core reads, the header
  // carries the frame's geometry (line length at 20, lines at 24, bytes per pixel at 36) for diagnostics.
  const RenderSettings& s = renderedFor_;
  std::memset(header_, 0, sizeof(header_));
  StoreU32(header_ + usb::frame_header::kPayloadLength, static_cast<uint32_t>(frame_->size()));
  StoreU32(header_ + 20, static_cast<uint32_t>(s.width));
  StoreU32(header_ + 24, static_cast<uint32_t>(s.height));
  StoreU32(header_ + 28, static_cast<uint32_t>(statusWords_[0]));
  StoreU32(header_ + 32, frameCounter_);
  StoreU32(header_ + 36, static_cast<uint32_t>(s.bytesPerPixel));
  StoreU32(header_ + 40, static_cast<uint32_t>(statusWords_[1]));
  StoreU32(header_ + 44, static_cast<uint32_t>(statusWords_[2]));
  payloadOffset_ = 0;
  payloadEnd_ = static_cast<uint32_t>(frame_->size());
  if (shortPayloads_ > 0) {
    --shortPayloads_;
    payloadEnd_ /= 2;
  }
  stream_ = payloadEnd_ > 0 ? StreamState::kPayload : StreamState::kHeader;
}

void VirtualCamera::ResetStreamLocked(bool disarm) {
  stream_ = StreamState::kHeader;
  payloadOffset_ = payloadEnd_ = 0;
  if (disarm) armed_ = false;
  changed_.notify_all();
}

FrameFormat VirtualCamera::FormatLocked() const {
  FrameFormat f;
  RenderSettings& r = f.render;
  auto get16 = [this](uint8_t reg) { return static_cast<int>(fpga_[reg] | (fpga_[reg + 1] << 8)); };
  auto sensor16 = [this](uint16_t low, uint16_t high) { return static_cast<int>(sensor_[low] | (sensor_[high] << 8)); };
  r.width = get16(reg::kLineLengthLow);
  r.height = get16(reg::kHeightLow);
  r.bytesPerPixel = fpga_[reg::kPixelFormat] == reg::kPixelFormat16Bit ? 2 : 1;
  r.subSampled = fpga_[reg::kFullResolution] == 0;
  r.mirrorV = (sensor_[sensor_reg::kMirrorV] & 1) != 0;
  const int vOffset = r.subSampled ? reg::kVerticalMarginReduced
                                   : (r.mirrorV ? reg::kVerticalMarginFullMirrored : reg::kVerticalMarginFull);
  const int hOffset = r.subSampled ? reg::kHorizontalMarginReduced : reg::kHorizontalMarginFull;
  r.originY = std::max(0, get16(reg::kVerticalStartLow) - vOffset);
  r.originX = std::max(0, get16(reg::kHorizontalStartLow) - hOffset);
  const int period = r.subSampled ? kSubPeriodLines : kFullPeriodLines;
  const int lineClocks = r.subSampled ? kSubLineClocks : kFullLineClocks;
  const int frames = sensor16(sensor_reg::kPeriodsLow, sensor_reg::kPeriodsHigh);
  const int shutter = sensor16(sensor_reg::kShutterLow, sensor_reg::kShutterHigh);
  const int lines = std::max(1, period * (frames + 1) - shutter);
  const int gain = std::min(kGainMax, (sensor_[sensor_reg::kGainLow] | ((sensor_[sensor_reg::kGainHigh] & 7) << 8)));
  r.brightness = static_cast<double>(lines) / kDefaultExposureLines * 2048.0 / (2048.0 - gain);
  r.noiseStdDev = config_.noiseStdDev;
  r.noiseSeed = config_.noiseSeed;
  const size_t line = static_cast<size_t>(r.width) * static_cast<size_t>(r.bytesPerPixel);
  if (line != 0 && line * static_cast<size_t>(r.height) > kMaxPayload) r.height = static_cast<int>(kMaxPayload / line);
  f.payloadLength = static_cast<uint32_t>(r.FrameBytes());
  f.framePeriodMs = static_cast<double>(period) * (frames + 1) * lineClocks / kSensorClockKHz;
  return f;
}

void VirtualCamera::EnsureRenderedLocked() {
  const FrameFormat format = FormatLocked();
  if (rendered_ && format.render == renderedFor_) return;
  variants_.clear();
  const int count = format.render.noiseStdDev > 0.0 ? 3 : 1;
  for (int v = 0; v < count; ++v) variants_.push_back(RenderFrame(format.render, v));
  renderedFor_ = format.render;
  rendered_ = true;
  ++counters_.renders;
}

}  // namespace orvane::sim
