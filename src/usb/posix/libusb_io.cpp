// The I/O control codes of the libusb backend.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/log.h"
#include "usb/posix/libusb_backend.h"
#include "usb/transfer_record.h"

namespace orvane::usb::posix {
namespace {

// Control requests whose record carries no timeout still end: a device that never answers must
// not hold the caller forever.
constexpr unsigned kDefaultControlTimeoutMs = 3000;
constexpr uint32_t kMaxRecordTimeoutSeconds = 60;

// One asynchronous bulk transfer into (or from) the caller's buffer. The event thread completes it;
// the owner waits on it. Destroying it while in flight cancels it and waits until libusb has given
// the buffer back, so the buffer is never written after the request object is gone.
class BulkIo final : public PendingIo {
 public:
  BulkIo(std::shared_ptr<OpenDevice> device, uint8_t* record, uint32_t bias)
      : device_(std::move(device)), record_(record), bias_(bias), transfer_(libusb_alloc_transfer(0)) {}
  ~BulkIo() override {
    if (submitted_) {
      if (!Wait(0)) libusb_cancel_transfer(transfer_);
      Wait(kInfinite);
      device_->Untrack(transfer_);
    }
    libusb_free_transfer(transfer_);
  }
  BulkIo(const BulkIo&) = delete;
  BulkIo& operator=(const BulkIo&) = delete;

  // Submits the transfer; a libusb error code when it was refused.
  int Submit(uint8_t endpoint, uint8_t* data, uint32_t length) {
    if (transfer_ == nullptr) return LIBUSB_ERROR_NO_MEM;
    libusb_fill_bulk_transfer(transfer_, device_->handle(), endpoint, data, static_cast<int>(length), OnComplete,
                              this, 0);
    device_->Track(transfer_);
    const int rc = libusb_submit_transfer(transfer_);
    if (rc != LIBUSB_SUCCESS) {
      device_->Untrack(transfer_);
      return rc;
    }
    submitted_ = true;
    return LIBUSB_SUCCESS;
  }

  bool Wait(uint32_t timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        timeoutMs == kInfinite ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      // In slices, so that a wait outliving the event thread (process exit) handles events itself.
      const Clock::time_point slice = std::min(end, Clock::now() + std::chrono::milliseconds(100));
      if (done_.wait_until(lock, slice, [this] { return completed_; })) return true;
      if (Clock::now() >= end) return false;
      lock.unlock();
      device_->driver().HandleEventsIfStopped();
      lock.lock();
    }
  }

  bool GetResult(uint32_t* bytes, uint32_t* error) override {
    libusb_transfer_status status;
    uint32_t actual = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!completed_) {
        if (error != nullptr) *error = kErrorIoPending;
        return false;
      }
      status = status_;
      actual = actual_;
    }
    if (bytes != nullptr) *bytes = bias_ + actual;
    uint32_t code = kErrorSuccess;
    switch (status) {
      case LIBUSB_TRANSFER_COMPLETED: break;
      case LIBUSB_TRANSFER_STALL: StoreU32(record_ + record::kUsbStatus, kUsbStatusStall); break;
      case LIBUSB_TRANSFER_OVERFLOW: StoreU32(record_ + record::kUsbStatus, kUsbStatusBabble); break;
      case LIBUSB_TRANSFER_CANCELLED:
      case LIBUSB_TRANSFER_TIMED_OUT: code = kErrorOperationAborted; break;
      case LIBUSB_TRANSFER_NO_DEVICE: code = kErrorDeviceNotConnected; break;
      default: code = kErrorGenFailure; break;
    }
    if (error != nullptr) *error = code;
    return code == kErrorSuccess;
  }

 private:
  static void LIBUSB_CALL OnComplete(libusb_transfer* transfer) {
    auto* self = static_cast<BulkIo*>(transfer->user_data);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->status_ = transfer->status;
    self->actual_ = static_cast<uint32_t>(std::max(transfer->actual_length, 0));
    self->completed_ = true;
    self->done_.notify_all();
  }

  std::shared_ptr<OpenDevice> device_;
  uint8_t* const record_;  // the request's record: its USB status word reports a stall
  const uint32_t bias_;    // bytes of record counted in the result (buffered transfers)
  libusb_transfer* const transfer_;
  bool submitted_ = false;  // owner thread only

  std::mutex mutex_;
  std::condition_variable done_;
  bool completed_ = false;  // guarded by mutex_
  libusb_transfer_status status_ = LIBUSB_TRANSFER_ERROR;  // guarded by mutex_
  uint32_t actual_ = 0;     // guarded by mutex_
};

// A request that completed at once, for an overlapped handle.
class DoneIo final : public PendingIo {
 public:
  DoneIo(uint32_t error, uint32_t bytes) : error_(error), bytes_(bytes) {}
  bool Wait(uint32_t) override { return true; }
  bool GetResult(uint32_t* bytes, uint32_t* error) override {
    if (bytes != nullptr) *bytes = bytes_;
    if (error != nullptr) *error = error_;
    return error_ == kErrorSuccess;
  }

 private:
  uint32_t error_;
  uint32_t bytes_;
};

uint32_t SpeedCode(int speed) {
  switch (speed) {
    case LIBUSB_SPEED_LOW: return 1;
    case LIBUSB_SPEED_FULL: return 2;
    case LIBUSB_SPEED_HIGH: return 3;
    case LIBUSB_SPEED_SUPER:
    case LIBUSB_SPEED_SUPER_PLUS: return 4;  // the device core knows 4 as the USB 3 link
    default: return 0;
  }
}

}  // namespace

IoStart LibusbHandle::Completed(uint32_t error, uint32_t bytes) {
  IoStart start;
  start.error = error;
  start.bytes = bytes;
  if (overlapped_ && error == kErrorSuccess) start.io = std::make_unique<DoneIo>(error, bytes);
  return start;
}

IoStart LibusbHandle::Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) {
  auto* input = static_cast<uint8_t*>(in);
  auto* output = static_cast<uint8_t*>(out);
  libusb_device_handle* handle = device_->handle();
  switch (code) {
    case IoCode::kControlTransfer:
      return ControlTransfer(input, inLength, output, outLength);
    case IoCode::kDirectBulkTransfer:
      if (input == nullptr || inLength < kTransferRecordSize || (output == nullptr && outLength != 0)) break;
      return BulkTransfer(input, input[record::kEndpoint], output, outLength, 0);
    case IoCode::kBufferedBulkTransfer: {
      if (input == nullptr || output == nullptr || inLength < kTransferRecordSize) break;
      const uint32_t length = LoadU32(input + record::kBufferLength);
      if (LoadU32(input + record::kBufferOffset) != kTransferRecordSize || length > inLength - kTransferRecordSize ||
          outLength < inLength) {
        break;
      }
      if (output != input) std::memmove(output, input, inLength);
      return BulkTransfer(output, output[record::kEndpoint], output + kTransferRecordSize, length,
                          static_cast<uint32_t>(kTransferRecordSize));
    }
    case IoCode::kAbortPipe:
      if (input == nullptr || inLength < 1) break;
      device_->CancelEndpoint(input[0]);
      return Completed(kErrorSuccess, 0);
    case IoCode::kResetPipe: {
      if (input == nullptr || inLength < 1) break;
      device_->CancelEndpoint(input[0]);
      return Completed(ErrorFromLibusb(libusb_clear_halt(handle, input[0])), 0);
    }
    case IoCode::kResetPort:
      return Completed(ErrorFromLibusb(libusb_reset_device(handle)), 0);
    case IoCode::kGetSpeed: {
      if (output == nullptr || outLength < 4) break;
      StoreU32(output, SpeedCode(libusb_get_device_speed(libusb_get_device(handle))));
      return Completed(kErrorSuccess, 4);
    }
  }
  return Completed(kErrorInvalidParameter, 0);
}

IoStart LibusbHandle::ControlTransfer(uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) {
  if (in == nullptr || out == nullptr || inLength < kTransferRecordSize || outLength < inLength) {
    return Completed(kErrorInvalidParameter, 0);
  }
  if (out != in) std::memmove(out, in, inLength);
  // The data stage is where the record says; wLength of the record is the driver's envelope (the
  // whole request), the data stage's own length goes on the wire.
  const uint32_t offset = LoadU32(out + record::kBufferOffset);
  const uint32_t length = LoadU32(out + record::kBufferLength);
  if (offset < kTransferRecordSize || offset > inLength || length > inLength - offset || length > 0xFFFF) {
    return Completed(kErrorInvalidParameter, 0);
  }
  const uint32_t seconds = std::min(LoadU32(out + record::kTimeout), kMaxRecordTimeoutSeconds);
  const unsigned timeoutMs = seconds != 0 ? seconds * 1000u : kDefaultControlTimeoutMs;
  const int rc = libusb_control_transfer(device_->handle(), out[record::kRequestType], out[record::kRequest],
                                         LoadU16(out + record::kValue), LoadU16(out + record::kIndex), out + offset,
                                         static_cast<uint16_t>(length), timeoutMs);
  if (rc >= 0) return Completed(kErrorSuccess, static_cast<uint32_t>(kTransferRecordSize) + static_cast<uint32_t>(rc));
  // A stall or an oversized reply is the device's answer: the record says so, the call succeeds.
  if (rc == LIBUSB_ERROR_PIPE || rc == LIBUSB_ERROR_OVERFLOW) {
    StoreU32(out + record::kUsbStatus, rc == LIBUSB_ERROR_PIPE ? kUsbStatusStall : kUsbStatusBabble);
    ORVANE_LOG(kUsb, kDebug, "control request 0x%02X: %s", out[record::kRequest], libusb_error_name(rc));
    return Completed(kErrorSuccess, static_cast<uint32_t>(kTransferRecordSize));
  }
  ORVANE_LOG(kUsb, kDebug, "control request 0x%02X failed: %s", out[record::kRequest], libusb_error_name(rc));
  return Completed(ErrorFromLibusb(rc), 0);
}

IoStart LibusbHandle::BulkTransfer(uint8_t* record, uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t bias) {
  auto io = std::make_unique<BulkIo>(device_, record, bias);
  const int rc = io->Submit(endpoint, data, length);
  if (rc != LIBUSB_SUCCESS) {
    ORVANE_LOG(kUsb, kDebug, "bulk transfer on 0x%02X refused: %s", endpoint, libusb_error_name(rc));
    return Completed(ErrorFromLibusb(rc), 0);
  }
  IoStart start;
  if (overlapped_) {
    start.error = kErrorIoPending;
    start.io = std::move(io);
    return start;
  }
  io->Wait(kInfinite);
  uint32_t error = kErrorSuccess;
  const bool ok = io->GetResult(&start.bytes, &error);
  start.error = ok ? kErrorSuccess : error;
  return start;
}

}  // namespace orvane::usb::posix
