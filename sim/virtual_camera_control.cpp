// The virtual camera's control endpoint: the vendor requests of the FX3 firmware, the I2C devices
// behind it, the FPGA byte registers, and FPGA memory writes through endpoint 0x01.
#include <algorithm>
#include <cstring>

#include "hardware/camera_registers.h"
#include "sim/virtual_camera.h"
#include "sim/virtual_camera_model.h"
#include "usb/transfer_record.h"
#include "usb/vendor_requests.h"

namespace orvane::sim {

using usb::LoadU16;
using usb::LoadU32;
using usb::StoreU16;
using usb::StoreU32;

namespace {

using model::kFpgaVersion;
using model::kPageSize;
using model::kUsbStatusStall;
using model::MemoryPattern;

namespace reg = camera::fpga;

constexpr uint32_t kFull = static_cast<uint32_t>(usb::kControlRequestSize);

// A refused request: the stall status in the record, no data.
uint32_t Stall(uint8_t* rec) {
  StoreU32(rec + usb::record::kUsbStatus, kUsbStatusStall);
  return static_cast<uint32_t>(usb::kTransferRecordSize);
}

bool EnvelopeIsValid(const uint8_t* rec) {
  namespace rf = usb::record;
  return LoadU16(rec + rf::kLength) == usb::kControlRequestSize && LoadU32(rec + rf::kTimeout) == 3 &&
         rec[rf::kReserved] == 0 && rec[rf::kEndpoint] == 0 && LoadU32(rec + rf::kDriverStatus) == 0 &&
         LoadU32(rec + rf::kUsbStatus) == 0 && LoadU32(rec + rf::kIsoOffset) == 0 &&
         LoadU32(rec + rf::kIsoLength) == 0 && LoadU32(rec + rf::kBufferOffset) == usb::kTransferRecordSize &&
         LoadU32(rec + rf::kBufferLength) == usb::kControlDataSize;
}

}  // namespace

// The fields of a vendor request's record that the handlers read, and its data stage.
struct VirtualCamera::ControlRequest {
  explicit ControlRequest(uint8_t* record)
      : rec(record),
        type(record[usb::record::kRequestType]),
        request(record[usb::record::kRequest]),
        value(LoadU16(record + usb::record::kValue)),
        index(LoadU16(record + usb::record::kIndex)),
        data(record + usb::kTransferRecordSize),
        in(type == usb::kVendorInDevice),
        out(type == usb::kVendorOutDevice) {}
  uint8_t* rec;  // the whole record: a refused request stalls it
  uint8_t type;
  uint8_t request;
  uint16_t value;
  uint16_t index;
  uint8_t* data;
  bool in;   // device to host, addressed to the device
  bool out;  // host to device, addressed to the device
};

uint32_t VirtualCamera::ControlTransferLocked(uint8_t* rec, uint32_t) {
  ++counters_.controlRequests;
  // The firmware accepts only the envelope the driver documents.
  if (!EnvelopeIsValid(rec)) return Stall(rec);
  if (rec[usb::record::kRequestType] == usb::kVendorInDevice) {
    std::memset(rec + usb::kTransferRecordSize, 0, usb::kControlDataSize);
  }
  const ControlRequest r(rec);
  if (r.request < usb::vendor::kControllerInfo) return PortRequestLocked(r);
  if (r.request >= usb::vendor::kFpgaWriteRegister) return FpgaRegisterRequestLocked(r);
  return ControllerRequestLocked(r);
}

// I2C transfers, the control byte and the word pair.
uint32_t VirtualCamera::PortRequestLocked(const ControlRequest& r) {
  namespace vr = usb::vendor;
  switch (r.request) {
    case vr::kI2cWrite:
      if (!r.out || r.value > usb::kMaxI2cCount || (r.index & 1) != 0) return Stall(r.rec);
      return I2cWriteLocked(static_cast<uint8_t>(r.index), r.data, r.value) ? kFull : Stall(r.rec);
    case vr::kI2cRead: {
      if (!r.in || r.value > usb::kMaxI2cCount || (r.index & 1) == 0) return Stall(r.rec);
      if (!I2cReadLocked(static_cast<uint8_t>(r.index & 0xFE), r.data, r.value)) return Stall(r.rec);
      return static_cast<uint32_t>(usb::kTransferRecordSize) + r.value;
    }
    case vr::kWriteControlByte:
      if (!r.out) return Stall(r.rec);
      controlByte_ = r.data[0];
      return kFull;
    case vr::kReadControlByte:
      if (!r.in) return Stall(r.rec);
      r.data[0] = controlByte_;
      return kFull;
    case vr::kWritePair:
      if (!r.out) return Stall(r.rec);
      pair_[0] = static_cast<uint16_t>((r.data[0] << 8) | r.data[1]);
      pair_[1] = static_cast<uint16_t>((r.data[2] << 8) | r.data[3]);
      return kFull;
    case vr::kReadWord:
      if (!r.in) return Stall(r.rec);
      StoreU16(r.data, r.value < 2 ? pair_[r.value] : r.value);
      return kFull;
    default:
      return Stall(r.rec);
  }
}

// The controller's records, the stream and GPIO 25.
uint32_t VirtualCamera::ControllerRequestLocked(const ControlRequest& r) {
  namespace vr = usb::vendor;
  switch (r.request) {
    case vr::kControllerInfo:
      if (!r.in) return Stall(r.rec);
      std::memcpy(r.data, "FX3 ORVANE-SIM", 14);
      StoreU16(r.data + 24, config_.firmwareVersion);
      r.data[52] = 1;  // GPIO 25 is wired to the FPGA's ready output
      return kFull;
    case vr::kControllerStatus:
      if (!r.in) return Stall(r.rec);
      std::memcpy(r.data, "KD7-USB3-R5", 11);
      StoreU16(r.data + 16, config_.productId);
      StoreU16(r.data + 18, kFpgaVersion);
      return kFull;
    case vr::kStreamReset:
      if (!r.out) return Stall(r.rec);
      ++counters_.streamResets;
      streaming_ = false;
      ResetStreamLocked(true);
      return kFull;
    case vr::kArmRead:
      if (r.type != usb::kVendorOutEndpoint) return Stall(r.rec);
      ++counters_.armRequests;
      NoteStreamingLocked(Clock::now());
      // Arming starts a new frame; the rest of an interrupted one is dropped.
      if (stream_ == StreamState::kPayload) ResetStreamLocked(false);
      armed_ = true;
      changed_.notify_all();
      return kFull;
    case vr::kReadGpio25: {
      if (!r.in) return Stall(r.rec);
      const bool risen = !gpio25Never_ && Clock::now() - powerOn_ >= std::chrono::milliseconds(config_.gpio25DelayMs);
      r.data[0] = risen ? 1 : 0;
      return kFull;
    }
    case vr::kRequestCC:
      if (r.type != usb::kVendorOutEndpoint) return Stall(r.rec);
      return kFull;
    default:
      return Stall(r.rec);
  }
}

// FPGA registers by number (15 bits plus bit 15 in the value); the byte registers are those of the port.
uint32_t VirtualCamera::FpgaRegisterRequestLocked(const ControlRequest& r) {
  namespace vr = usb::vendor;
  switch (r.request) {
    case vr::kFpgaWriteRegister: {
      if (!r.out || r.value > 1) return Stall(r.rec);
      const uint32_t address = (static_cast<uint32_t>(r.value) << 15) | (r.index & 0x7FFF);
      const uint32_t v = LoadU32(r.data);
      if (address < 256) FpgaByteWriteLocked(static_cast<uint8_t>(address), static_cast<uint8_t>(v));
      else fpgaWide_[static_cast<uint16_t>(address)] = v;
      return kFull;
    }
    case vr::kFpgaReadRegister: {
      if (!r.in) return Stall(r.rec);
      uint32_t v = 0;
      if (r.index < 256) {
        v = FpgaByteReadLocked(static_cast<uint8_t>(r.index));
      } else if (auto it = fpgaWide_.find(r.index); it != fpgaWide_.end()) {
        v = it->second;
      }
      StoreU16(r.data, static_cast<uint16_t>(v));
      return kFull;
    }
    default:
      return Stall(r.rec);
  }
}

bool VirtualCamera::I2cWriteLocked(uint8_t device, const uint8_t* data, int count) {
  switch (device) {
    case camera::i2c::kFpgaPort:
      // Register, high byte (0), value; or the register alone to set the read pointer.
      if (count == 1) fpgaPointer_ = data[0];
      else if (count == 3) FpgaByteWriteLocked(data[0], data[2]);
      else if (count != 0) return false;
      return true;
    case camera::i2c::kDevice5A:
      if (count >= 1) pointer5A_ = data[0];
      for (int i = 1; i < count; ++i) reg5A_[pointer5A_++] = data[i];
      return true;
    case camera::i2c::kEeprom:
      if (count == 1) return false;
      if (count >= 2) eepromPointer_ = static_cast<uint16_t>((data[0] << 8) | data[1]);
      if (count > 2 && eepromWritesFail_) return false;
      for (int i = 2; i < count; ++i) eeprom_[eepromPointer_++] = data[i];
      return true;
    case camera::i2c::kSensor:
      if (count == 1) return false;
      if (count >= 2) sensorPointer_ = static_cast<uint16_t>((data[0] << 8) | data[1]);
      for (int i = 2; i < count; ++i) sensor_[sensorPointer_++] = data[i];
      return true;
    default:
      return false;  // nobody acknowledges
  }
}

bool VirtualCamera::I2cReadLocked(uint8_t device, uint8_t* data, int count) {
  switch (device) {
    case camera::i2c::kFpgaPort: {
      // The port answers a 16-bit register: high byte (always 0) first, then the register's byte.
      const uint8_t v = FpgaByteReadLocked(fpgaPointer_);
      if (count == 1) data[0] = v;
      else if (count >= 2) data[1] = v;
      return true;
    }
    case camera::i2c::kDevice5A:
      for (int i = 0; i < count; ++i) data[i] = reg5A_[pointer5A_++];
      return true;
    case camera::i2c::kEeprom:
      for (int i = 0; i < count; ++i) data[i] = eeprom_[eepromPointer_++];
      return true;
    case camera::i2c::kSensor:
      for (int i = 0; i < count; ++i) data[i] = sensor_[sensorPointer_++];
      return true;
    default:
      return false;
  }
}

void VirtualCamera::FpgaByteWriteLocked(uint8_t r, uint8_t value) {
  if (r == reg::kStatus || r == reg::kFrameCounter) return;  // read-only
  if (r == reg::kFrameRestart && fpga_[r] == 1 && value == 0) {
    ++counters_.frameRestartPulses;
    ResetStreamLocked(false);
  }
  fpga_[r] = value;
}

uint8_t VirtualCamera::FpgaByteReadLocked(uint8_t r) const {
  if (r == reg::kStatus) return static_cast<uint8_t>((fpga_[r] & ~reg::kStatusBusy) | (fpgaBusy_ ? reg::kStatusBusy : 0));
  if (r == reg::kFrameCounter) return static_cast<uint8_t>(frameCounter_);
  return fpga_[r];
}

bool VirtualCamera::BulkOutLocked(const uint8_t* data, uint32_t length) {
  if (memWriteRemaining_ > 0) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(length, memWriteRemaining_));
    uint64_t address = memWriteAddress_;
    for (uint32_t done = 0; done < n;) {
      const uint64_t page = address / kPageSize;
      const auto offset = static_cast<uint32_t>(address % kPageSize);
      const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(n - done, kPageSize - offset));
      auto [it, inserted] = memory_.try_emplace(page);
      if (inserted) {
        it->second.resize(kPageSize);
        for (uint64_t i = 0; i < kPageSize; ++i) it->second[i] = MemoryPattern(page * kPageSize + i);
      }
      std::memcpy(it->second.data() + offset, data + done, chunk);
      done += chunk;
      address += chunk;
    }
    memWriteAddress_ = address;
    memWriteRemaining_ -= n;
    return true;
  }
  if (data == nullptr || length < usb::kMemoryHeaderSize || LoadU32(data + 4) != usb::kMemoryCommandVersion) {
    return false;
  }
  const uint64_t address = LoadU32(data + 8) | (static_cast<uint64_t>(LoadU32(data + 12)) << 32);
  const uint32_t count = LoadU32(data + 16);
  if (std::memcmp(data, usb::kMemoryReadMagic, 4) == 0) {
    memReadAddress_ = address;
    memReadRemaining_ = count;
    changed_.notify_all();
    return true;
  }
  if (std::memcmp(data, usb::kMemoryWriteMagic, 4) == 0) {
    memWriteAddress_ = address;
    memWriteRemaining_ = count;
    return true;
  }
  return false;
}

}  // namespace orvane::sim
