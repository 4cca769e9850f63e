// The virtual camera's knobs and what tests read of it: pacing, GPIO 25, firmware version, counters,
// registers, EEPROM and memory bytes, the current format and the last frame.
#include "sim/virtual_camera.h"
#include "sim/virtual_camera_model.h"

namespace orvane::sim {

using model::kPageSize;
using model::MemoryPattern;

void VirtualCamera::SetPacing(Pacing pacing) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.pacing = pacing;
  changed_.notify_all();
}

void VirtualCamera::SetGpio25DelayMs(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.gpio25DelayMs = ms;
}

void VirtualCamera::SetFirmwareVersion(uint16_t version) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.firmwareVersion = version;
}

CameraCounters VirtualCamera::counters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

size_t VirtualCamera::PendingBulkRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

uint8_t VirtualCamera::FpgaRegister(uint8_t r) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FpgaByteReadLocked(r);
}

void VirtualCamera::SetFpgaRegister(uint8_t r, uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  FpgaByteWriteLocked(r, value);
}

uint8_t VirtualCamera::SensorRegister(uint16_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sensor_[address];
}

uint8_t VirtualCamera::EepromByte(uint16_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return eeprom_[address];
}

uint8_t VirtualCamera::Device5ARegister(uint8_t r) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reg5A_[r];
}

uint8_t VirtualCamera::ControlByte() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return controlByte_;
}

uint8_t VirtualCamera::MemoryByte(uint64_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = memory_.find(address / kPageSize);
  return it != memory_.end() ? it->second[address % kPageSize] : MemoryPattern(address);
}

FrameFormat VirtualCamera::CurrentFormat() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FormatLocked();
}

FrameBytes VirtualCamera::LastFramePayload() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_;
}

uint32_t VirtualCamera::FrameCounter() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameCounter_;
}

}  // namespace orvane::sim
