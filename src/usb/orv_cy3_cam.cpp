#include "usb/orv_cy3_cam.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/log.h"
#include "hardware/camera_registers.h"
#include "platform/time.h"
#include "usb/vendor_requests.h"

using namespace orvane::usb;
using orvane::platform::SleepMs;
namespace camera = orvane::camera;

COrvCy3Cam::COrvCy3Cam() : COrvCy3Cam(ControllerOptions{}) {}

COrvCy3Cam::COrvCy3Cam(const InterfaceGuid& guid) : COrvCy3Cam(ControllerOptions{guid, nullptr, kDefaultSectionName}) {}

COrvCy3Cam::COrvCy3Cam(const ControllerOptions& options) : CFx3Api(options) {}

COrvCy3Cam::~COrvCy3Cam() { Close(); }

int COrvCy3Cam::DeviceIndex() const { return deviceIndex_.load(); }

// ---------------------------------------------------------------------------------------------------
// Handles

COrvCy3Cam::HandlePtr COrvCy3Cam::AcquireStreamHandle(bool* openedHere) {
  *openedHere = false;
  std::lock_guard<std::mutex> lock(streamMutex_);
  if (!streamHandle_) {
    std::unique_ptr<DeviceHandle> handle = OpenSelectedHandle(true);
    if (!handle) return nullptr;
    streamHandle_ = std::move(handle);
    *openedHere = true;
  }
  return streamHandle_;
}

COrvCy3Cam::HandlePtr COrvCy3Cam::CurrentStreamHandle() const {
  std::lock_guard<std::mutex> lock(streamMutex_);
  return streamHandle_;
}

bool COrvCy3Cam::EnsureStreamHandle() {
  bool opened = false;
  return AcquireStreamHandle(&opened) != nullptr;
}

void COrvCy3Cam::CloseStreamHandle() {
  HandlePtr old;
  {
    std::lock_guard<std::mutex> lock(streamMutex_);
    old = std::move(streamHandle_);
  }
}

bool COrvCy3Cam::Close() {
  CloseStreamHandle();
  std::lock_guard<std::mutex> lock(stagingMutex_);
  stagingAllocated_.store(false);
  stagingBuffer_.reset();
  return true;
}

bool COrvCy3Cam::StagingAllocated() const { return stagingAllocated_.load(); }

bool COrvCy3Cam::PrepareStreaming() {
  {
    std::lock_guard<std::mutex> lock(stagingMutex_);
    if (!stagingBuffer_) {
      stagingBuffer_.reset(new (std::nothrow) uint8_t[kStagingBufferSize]);
      if (!stagingBuffer_) return false;
      stagingAllocated_.store(true);
    }
  }
  ResetPort();
  return true;
}

bool COrvCy3Cam::ResetPort() {
  std::unique_ptr<DeviceHandle> handle = OpenSelectedHandle(false);
  if (!handle) return false;
  return handle->Control(IoCode::kResetPort, nullptr, 0, nullptr, 0).error == kErrorSuccess;
}

bool COrvCy3Cam::ResetPipe(uint8_t endpoint) {
  std::unique_ptr<DeviceHandle> handle = OpenSelectedHandle(false);
  if (!handle) return false;
  uint8_t in = endpoint;
  return handle->Control(IoCode::kResetPipe, &in, 1, nullptr, 0).error == kErrorSuccess;
}

bool COrvCy3Cam::GetLinkSpeed(uint32_t* speed) {
  if (speed == nullptr) return false;
  std::unique_ptr<DeviceHandle> handle = OpenSelectedHandle(false);
  if (!handle) return false;
  uint8_t in[4] = {};
  uint8_t out[4] = {};
  const IoStart start = handle->Control(IoCode::kGetSpeed, in, 4, out, 4);
  if (start.error != kErrorSuccess) return false;
  *speed = LoadU32(out);
  return true;
}

bool COrvCy3Cam::AbortPipeOn(DeviceHandle* handle) {
  std::unique_ptr<DeviceHandle> own;
  if (handle == nullptr) {
    own = OpenSelectedHandle(false);
    if (!own) return true;
    handle = own.get();
  }
  uint8_t endpoint = kEndpointFrames;
  IoStart start = handle->Control(IoCode::kAbortPipe, &endpoint, 1, nullptr, 0);
  if (start.error == kErrorIoPending && start.io) start.io->Wait(kInfinite);
  return true;
}

bool COrvCy3Cam::AbortPipe() {
  streamAborts_.fetch_add(1);
  HandlePtr handle = CurrentStreamHandle();
  return AbortPipeOn(handle.get());
}

// ---------------------------------------------------------------------------------------------------
// Driver I/O primitives

bool COrvCy3Cam::ControlRequest(DeviceHandle* handle, uint8_t* rec, uint32_t length, uint32_t* bytesReturned) {
  if (handle == nullptr || rec == nullptr || length < kTransferRecordSize) return false;
  IoStart start = handle->Control(IoCode::kControlTransfer, rec, length, rec, length);
  uint32_t bytes = start.bytes;
  if (start.io) {
    // A control request on an overlapped handle (the arming request on the stream handle): the
    // firmware answers within the record's 3 s timeout, so the driver always completes it.
    if (start.error == kErrorIoPending) start.io->Wait(kInfinite);
    else if (start.error != kErrorSuccess) return false;
    uint32_t error = 0;
    if (!start.io->GetResult(&bytes, &error)) return false;
  } else if (start.error != kErrorSuccess) {
    return false;
  }
  // A stalled request (an I2C device that did not acknowledge, say) comes back with a status word set.
  if (RecordFailed(rec)) return false;
  if (bytesReturned != nullptr) *bytesReturned = bytes;
  return true;
}

bool COrvCy3Cam::VendorRequest(uint8_t type, uint8_t request, uint16_t value, uint16_t index, const uint8_t* dataOut,
                               size_t dataOutLength, uint8_t* dataIn, uint32_t* dataCount, DeviceHandle* handle) {
  if (dataOutLength > kControlDataSize || (dataOut == nullptr && dataOutLength != 0)) return false;
  uint8_t rec[kControlRequestSize];
  BuildControlRecord(rec, type, request, value, index);
  if (dataOutLength != 0) std::memcpy(rec + kTransferRecordSize, dataOut, dataOutLength);
  std::unique_ptr<DeviceHandle> own;
  if (handle == nullptr) {
    own = OpenSelectedHandle(false);
    if (!own) return false;
    handle = own.get();
  }
  uint32_t bytes = 0;
  if (!ControlRequest(handle, rec, static_cast<uint32_t>(kControlRequestSize), &bytes)) return false;
  if (dataCount != nullptr) {
    *dataCount = bytes >= kTransferRecordSize ? bytes - static_cast<uint32_t>(kTransferRecordSize) : bytes;
  }
  if (dataIn != nullptr) std::memcpy(dataIn, rec + kTransferRecordSize, kControlDataSize);
  return true;
}

bool COrvCy3Cam::ArmRead(DeviceHandle* handle) {
  const uint8_t zeros[kControlDataSize] = {};
  return VendorRequest(kVendorOutEndpoint, vendor::kArmRead, 0, 0, zeros, sizeof(zeros), nullptr, nullptr, handle);
}

bool COrvCy3Cam::BufferedBulkRead(DeviceHandle* handle, void* data, size_t length, uint8_t endpoint, uint32_t* count) {
  if (handle == nullptr || length > kMaxBulkLength) return false;
  std::lock_guard<std::mutex> lock(stagingMutex_);
  if (!stagingBuffer_) return false;
  uint8_t* staging = stagingBuffer_.get();
  const auto total = static_cast<uint32_t>(kTransferRecordSize + length);
  std::memset(staging, 0, total);
  staging[record::kEndpoint] = endpoint;
  StoreU32(staging + record::kBufferOffset, static_cast<uint32_t>(kTransferRecordSize));
  StoreU32(staging + record::kBufferLength, static_cast<uint32_t>(length));

  IoStart start = handle->Control(IoCode::kBufferedBulkTransfer, staging, total, staging, total);
  bool ok = false;
  uint32_t bytes = start.bytes;
  uint32_t error = 0;
  if (start.error == kErrorSuccess) {
    ok = start.io ? start.io->GetResult(&bytes, &error) : true;
  } else if (start.error == kErrorIoPending && start.io) {
    if (start.io->Wait(kBufferedReadTimeoutMs)) {
      ok = start.io->GetResult(&bytes, &error);
    } else {
      // Cancel, and keep the staging buffer locked until the driver has let go of it.
      AbortPipeOn(handle);
      if (!start.io->Wait(kAbortGraceMs)) {
        AbortPipeOn(handle);
        start.io->Wait(kInfinite);
      }
    }
  }
  if (ok && RecordFailed(staging)) ok = false;
  if (!ok) return false;
  const uint32_t dataCount = bytes >= kTransferRecordSize ? bytes - static_cast<uint32_t>(kTransferRecordSize) : bytes;
  if (dataCount <= length && data != nullptr) std::memcpy(data, staging + kTransferRecordSize, dataCount);
  if (count != nullptr) *count = dataCount;
  return true;
}

bool COrvCy3Cam::DirectBulkTransfer(DeviceHandle* handle, void* data, size_t length, uint8_t endpoint,
                                    uint32_t* count, uint32_t timeoutMs) {
  if (handle == nullptr || length > kMaxBulkLength || (data == nullptr && length != 0) || !StagingAllocated()) {
    return false;
  }
  uint8_t rec[kTransferRecordSize] = {};
  rec[record::kEndpoint] = endpoint;
  IoStart start = handle->Control(IoCode::kDirectBulkTransfer, rec, static_cast<uint32_t>(kTransferRecordSize), data,
                                  static_cast<uint32_t>(length));
  lastDriverError_.store(start.error);

  bool done = false;
  if (start.error == kErrorSuccess) {
    done = true;
  } else if (start.error == kErrorIoPending && start.io) {
    done = start.io->Wait(timeoutMs);
  } else {
    return false;
  }

  if (!done) {
    if (endpoint == kEndpointFrames) frameTimeouts_.fetch_add(1, std::memory_order_relaxed);
    ORVANE_LOG(kUsb, kDebug, "bulk transfer of %u bytes on endpoint 0x%02x timed out after %u ms", static_cast<unsigned>(length), endpoint, timeoutMs);
    // The request is still in flight: cancel it and wait until the driver has released `data`, so
    // the caller may reuse or free it as soon as we return.
    AbortPipeOn(handle);
    if (!start.io->Wait(kAbortGraceMs)) {
      AbortPipeOn(handle);
      start.io->Wait(kInfinite);
    }
    return false;
  }

  uint32_t bytes = start.bytes;
  uint32_t error = 0;
  bool ok = start.io ? start.io->GetResult(&bytes, &error) : true;
  if (ok && RecordFailed(rec)) {
    ORVANE_LOG(kUsb, kDebug, "bulk transfer of %u bytes on endpoint 0x%02x: device status set", static_cast<unsigned>(length), endpoint);
    SleepMs(1);
    ok = false;
  }
  if (!ok) return false;
  if (count != nullptr) *count = bytes;
  return true;
}

bool COrvCy3Cam::DirectBulkTransfer(DeviceHandle* handle, void* data, size_t length, uint8_t endpoint,
                                    uint32_t* count) {
  return DirectBulkTransfer(handle, data, length, endpoint, count, kDefaultBulkTimeoutMs);
}

bool COrvCy3Cam::ArmedBulkRead(DeviceHandle* handle, void* data, size_t length, uint8_t endpoint, uint32_t* count) {
  if (handle == nullptr || length > kMaxBulkLength || (data == nullptr && length != 0) || !StagingAllocated()) {
    return false;
  }
  if (!ArmRead(handle)) return false;
  return DirectBulkTransfer(handle, data, length, endpoint, count, kArmedReadTimeoutMs);
}

// ---------------------------------------------------------------------------------------------------
// Frames and FPGA memory

bool COrvCy3Cam::ReadFrameHeader(FrameTransferRequest* request) {
  if (request == nullptr) return false;
  bool openedHere = false;
  HandlePtr handle = AcquireStreamHandle(&openedHere);
  if (!handle) return false;
  uint8_t scratch[kFrameHeaderSize] = {};
  const uint64_t aborts = streamAborts_.load();
  for (int attempt = 0; streamAborts_.load() == aborts; ++attempt) {
    // The arming request precedes every attempt, and is sent once more after the last failure.
    if (!ArmRead(handle.get()) || attempt >= kHeaderAttempts) break;
    uint32_t count = 0;
    const uint64_t timeouts = frameTimeouts_.load(std::memory_order_relaxed);
    const bool read =
        DirectBulkTransfer(handle.get(), scratch, kFrameHeaderSize, kEndpointFrames, &count, kHeaderTimeoutMs);
    request->timeouts += static_cast<uint32_t>(frameTimeouts_.load(std::memory_order_relaxed) - timeouts);
    if (read && count == kFrameHeaderSize) {
      std::memcpy(request->header, scratch, kFrameHeaderSize);
      request->frameCounterWord = LoadU32(scratch + frame_header::kFrameCounter);
      return true;
    }
    ORVANE_LOG(kUsb, kDebug, "frame header attempt %d of %d failed, retrying", attempt + 1, kHeaderAttempts);
    // Restart the FPGA's frame output before the next attempt.
    FpgaWriteByte(camera::fpga::kFrameRestart, 1);
    FpgaWriteByte(camera::fpga::kFrameRestart, 0);
    SleepMs(kHeaderRetryPauseMs);
  }
  ORVANE_LOG(kUsb, kWarn, "frame header read failed (arming failed or %d attempts)", kHeaderAttempts);
  if (openedHere) {
    std::lock_guard<std::mutex> lock(streamMutex_);
    if (streamHandle_ == handle) streamHandle_.reset();
  }
  return false;
}

bool COrvCy3Cam::ReadFrameData(FrameTransferRequest* request, uint32_t timeoutMs) {
  if (request == nullptr) return false;
  bool openedHere = false;
  HandlePtr handle = AcquireStreamHandle(&openedHere);
  if (!handle) return false;
  const uint32_t length = request->PayloadLength();
  bool ok = request->bufferSize >= length && (request->buffer != nullptr || length == 0);
  for (uint32_t offset = 0; ok && offset < length;) {
    const uint32_t piece = std::min(length - offset, kFramePieceSize);
    uint32_t count = 0;
    const uint64_t timeouts = frameTimeouts_.load(std::memory_order_relaxed);
    // A short piece leaves the rest of the frame stale: the frame failed.
    ok = DirectBulkTransfer(handle.get(), request->buffer + offset, piece, kEndpointFrames, &count, timeoutMs) &&
         count == piece;
    request->timeouts += static_cast<uint32_t>(frameTimeouts_.load(std::memory_order_relaxed) - timeouts);
    offset += piece;
  }
  if (!ok) ORVANE_LOG(kUsb, kWarn, "frame payload of %u bytes failed", length);
  if (openedHere) {
    std::lock_guard<std::mutex> lock(streamMutex_);
    if (streamHandle_ == handle) streamHandle_.reset();
  }
  return ok;
}

bool COrvCy3Cam::ReadFrameAux(FrameTransferRequest* request) {
  if (request == nullptr) return false;
  bool openedHere = false;
  HandlePtr handle = AcquireStreamHandle(&openedHere);
  if (!handle) return false;
  uint32_t count = 0;
  const bool ok = request->buffer != nullptr && request->frameSize <= request->bufferSize &&
                  ArmedBulkRead(handle.get(), request->buffer, request->frameSize, kEndpointAux, &count) &&
                  count == request->frameSize;
  if (!ok && openedHere) {
    std::lock_guard<std::mutex> lock(streamMutex_);
    if (streamHandle_ == handle) streamHandle_.reset();
  }
  return ok;
}

bool COrvCy3Cam::ReadImage(FrameTransferRequest* request, uint64_t* length, uint32_t timeoutMs) {
  if (request == nullptr || length == nullptr) return false;
  bool openedHere = false;
  HandlePtr handle = AcquireStreamHandle(&openedHere);
  if (!handle) return false;
  const uint64_t amount = (static_cast<uint64_t>(static_cast<uint32_t>(*length)) & ~uint64_t{kImageGranule - 1}) +
                          kImageGranule;
  bool ok = amount <= 0xFFFFFFFFu && request->buffer != nullptr && request->bufferSize >= amount;
  uint64_t total = 0;
  if (ok) {
    uint8_t header[kMemoryHeaderSize];
    BuildMemoryHeader(header, false, 0, static_cast<uint32_t>(amount));
    uint32_t sent = 0;
    ok = DirectBulkTransfer(handle.get(), header, kMemoryHeaderSize, kEndpointOut, &sent) && sent == kMemoryHeaderSize;
  }
  while (ok && total < amount) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(amount - total, kImagePieceSize));
    uint32_t count = 0;
    ok = DirectBulkTransfer(handle.get(), request->buffer + total, piece, kEndpointFrames, &count, timeoutMs);
    total += count;
    if (count != piece) ok = false;
  }
  if (openedHere) {
    std::lock_guard<std::mutex> lock(streamMutex_);
    if (streamHandle_ == handle) streamHandle_.reset();
  }
  if (ok) *length = total;
  return ok;
}

uint64_t COrvCy3Cam::MemoryTransferAmount(uint64_t length) {
  if (length > kMaxMemoryLength) return 0;
  return (length & ~uint64_t{kMemoryGranule - 1}) + kMemoryGranule;
}

bool COrvCy3Cam::MemoryTransfer(bool write, uint64_t address, uint8_t* data, uint64_t length, size_t bufferSize) {
  if (data == nullptr) return false;
  if (length > kMaxMemoryLength) return true;
  const uint64_t amount = MemoryTransferAmount(length);
  if (bufferSize < amount) return false;
  bool openedHere = false;
  HandlePtr handle = AcquireStreamHandle(&openedHere);
  if (!handle) return false;
  uint64_t remaining = amount;
  uint64_t offset = 0;
  bool ok = false;
  for (;;) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(remaining, kMemoryPieceSize));
    uint8_t header[kMemoryHeaderSize];
    BuildMemoryHeader(header, write, address, piece);
    uint32_t sent = 0;
    if (!DirectBulkTransfer(handle.get(), header, kMemoryHeaderSize, kEndpointOut, &sent) || sent != kMemoryHeaderSize) {
      break;
    }
    uint32_t count = 0;
    const bool moved =
        DirectBulkTransfer(handle.get(), data + offset, piece, write ? kEndpointOut : kEndpointFrames, &count);
    if (!moved && !write) SleepMs(1);
    if (!moved || count != piece) break;
    if (count == remaining) {
      ok = true;
      break;
    }
    remaining -= count;
    address += count;
    offset += count;
  }
  if (openedHere) {
    std::lock_guard<std::mutex> lock(streamMutex_);
    if (streamHandle_ == handle) streamHandle_.reset();
  }
  return ok;
}

bool COrvCy3Cam::ReadMemory(uint64_t address, void* destination, uint64_t length, size_t bufferSize) {
  return MemoryTransfer(false, address, static_cast<uint8_t*>(destination), length, bufferSize);
}

bool COrvCy3Cam::WriteMemory(uint64_t address, const void* source, uint64_t length, size_t bufferSize) {
  // The driver only reads the buffer of a transfer to endpoint 0x01.
  return MemoryTransfer(true, address, static_cast<uint8_t*>(const_cast<void*>(source)), length, bufferSize);
}

// ---------------------------------------------------------------------------------------------------
// Single vendor requests

bool COrvCy3Cam::WriteControlByte(uint32_t value) {
  const uint8_t data[4] = {static_cast<uint8_t>(value & 0xFF), 0, 0, 0};
  return VendorRequest(kVendorOutDevice, vendor::kWriteControlByte, 0, 0, data, sizeof(data), nullptr, nullptr);
}

bool COrvCy3Cam::ReadControlByte(uint8_t* value) {
  if (value == nullptr) return false;
  uint8_t in[kControlDataSize];
  uint32_t count = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kReadControlByte, 0, 0, nullptr, 0, in, &count)) return false;
  if (count != 0) *value = in[0];
  return true;
}

bool COrvCy3Cam::WritePair(uint16_t first, uint16_t second) {
  const uint8_t data[4] = {static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first),
                           static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second)};
  return VendorRequest(kVendorOutDevice, vendor::kWritePair, 0, 0, data, sizeof(data), nullptr, nullptr);
}

bool COrvCy3Cam::ReadWord(uint16_t argument, uint16_t* value) {
  if (value == nullptr) return false;
  uint8_t in[kControlDataSize];
  uint32_t count = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kReadWord, argument, 0, nullptr, 0, in, &count)) return false;
  if (count != 0) *value = LoadU16(in);
  return true;
}

bool COrvCy3Cam::ReadControllerInfo(uint8_t* block64) {
  if (block64 == nullptr) return false;
  uint8_t in[kControlDataSize];
  uint32_t count = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kControllerInfo, 0, 0, nullptr, 0, in, &count)) return false;
  if (count == kControlDataSize) std::memcpy(block64, in, kControlDataSize);
  return true;
}

bool COrvCy3Cam::ReadControllerStatus(uint8_t* block64) {
  if (block64 == nullptr) return false;
  uint8_t in[kControlDataSize];
  uint32_t count = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kControllerStatus, 0, 0, nullptr, 0, in, &count)) return false;
  if (count == kControlDataSize) std::memcpy(block64, in, kControlDataSize);
  return true;
}

bool COrvCy3Cam::SendStreamReset() {
  const uint8_t zeros[kControlDataSize] = {};
  return VendorRequest(kVendorOutDevice, vendor::kStreamReset, 0, 0, zeros, sizeof(zeros), nullptr, nullptr);
}

bool COrvCy3Cam::ReadGpio25(uint8_t* level) {
  if (level == nullptr) return false;
  uint8_t in[kControlDataSize];
  uint32_t count = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kReadGpio25, 0, 0, nullptr, 0, in, &count)) return false;
  if (count == kControlDataSize) *level = in[0];
  return true;
}

bool COrvCy3Cam::SendRequestCC() {
  const uint8_t zeros[kControlDataSize] = {};
  return VendorRequest(kVendorOutEndpoint, vendor::kRequestCC, 0, 0, zeros, sizeof(zeros), nullptr, nullptr);
}

bool COrvCy3Cam::I2cWrite(uint8_t device, const uint8_t* data, int count) {
  if (count < 0 || count > kMaxI2cCount || (data == nullptr && count != 0)) return false;
  return VendorRequest(kVendorOutDevice, vendor::kI2cWrite, static_cast<uint16_t>(count), device, data,
                       static_cast<size_t>(count), nullptr, nullptr);
}

bool COrvCy3Cam::I2cRead(uint8_t device, uint8_t* data, int count) {
  if (count < 0 || count > kMaxI2cCount || (data == nullptr && count != 0)) return false;
  uint8_t in[kControlDataSize];
  uint32_t got = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kI2cRead, static_cast<uint16_t>(count), device | 1, nullptr, 0, in,
                     &got)) {
    return false;
  }
  if (got >= static_cast<uint32_t>(count) && count != 0) std::memcpy(data, in, static_cast<size_t>(count));
  return true;
}

bool COrvCy3Cam::FpgaWriteRegister(uint32_t address, uint32_t value) {
  uint8_t data[4];
  StoreU32(data, value);
  return VendorRequest(kVendorOutDevice, vendor::kFpgaWriteRegister, static_cast<uint16_t>((address >> 15) & 1),
                       static_cast<uint16_t>(address & 0x7FFF), data, sizeof(data), nullptr, nullptr);
}

bool COrvCy3Cam::FpgaReadRegister(uint32_t address, uint16_t* value) {
  if (value == nullptr) return false;
  uint8_t in[kControlDataSize];
  uint32_t count = 0;
  if (!VendorRequest(kVendorInDevice, vendor::kFpgaReadRegister, 0, static_cast<uint16_t>(address), nullptr, 0, in,
                     &count)) {
    return false;
  }
  *value = count >= kControlDataSize ? LoadU16(in) : 0;
  return true;
}

bool COrvCy3Cam::FpgaWriteByte(uint8_t reg, uint8_t value) {
  const uint8_t data[3] = {reg, 0, value};
  std::lock_guard<std::mutex> lock(fpgaPortMutex_);
  return I2cWrite(camera::i2c::kFpgaPort, data, 3);
}

bool COrvCy3Cam::FpgaReadByte(uint8_t reg, uint8_t* value) {
  if (value == nullptr) return false;
  uint8_t in[2] = {};
  std::lock_guard<std::mutex> lock(fpgaPortMutex_);
  if (!I2cWrite(camera::i2c::kFpgaPort, &reg, 1) || !I2cRead(camera::i2c::kFpgaPort, in, 2)) return false;
  *value = in[1];
  return true;
}

bool COrvCy3Cam::FpgaReadWord(uint16_t* value) {
  if (value == nullptr) return false;
  uint8_t low = 0;
  uint8_t high = 0;
  if (!FpgaReadByte(camera::fpga::kVersionLow, &low) || !FpgaReadByte(camera::fpga::kVersionHigh, &high)) return false;
  *value = static_cast<uint16_t>(high * 256 + low);
  return true;
}

bool COrvCy3Cam::WriteReg5A(uint8_t reg, uint8_t value) {
  const uint8_t data[2] = {reg, value};
  return I2cWrite(camera::i2c::kDevice5A, data, 2);
}

bool COrvCy3Cam::ReadReg5A(uint8_t reg, uint8_t* value) {
  if (value == nullptr) return false;
  // The register pointer and the read are one sequence; keep other threads' pointers out of it.
  std::lock_guard<std::mutex> lock(i2cSequenceMutex_);
  return I2cWrite(camera::i2c::kDevice5A, &reg, 1) && I2cRead(camera::i2c::kDevice5A, value, 1);
}

bool COrvCy3Cam::EepromWrite(uint16_t address, uint8_t value) {
  const uint8_t data[3] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value};
  std::lock_guard<std::mutex> lock(i2cSequenceMutex_);
  if (!I2cWrite(camera::i2c::kEeprom, data, 3)) return false;
  SleepMs(kEepromWriteCycleMs);
  return true;
}

bool COrvCy3Cam::EepromRead(uint16_t address, uint8_t* value) {
  if (value == nullptr) return false;
  const uint8_t data[2] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
  std::lock_guard<std::mutex> lock(i2cSequenceMutex_);
  if (!I2cWrite(camera::i2c::kEeprom, data, 2)) return false;
  SleepMs(kEepromReadSettleMs);
  return I2cRead(camera::i2c::kEeprom, value, 1);
}
