// Device information and auxiliary I/O: FPGA registers, the EEPROM with the serial number and the
// identification bytes, the internal correction and the FPGA temperature.
#include <algorithm>
#include <cstring>

#include "device/orvane_device.h"
#include "hardware/camera_registers.h"
#include "platform/time.h"

namespace {

namespace fpga = orvane::camera::fpga;
namespace eeprom = orvane::camera::eeprom;

// Reading the serial number: a pause after each byte. Identification bytes live in the EEPROM's
// first 4 KiB.
constexpr uint32_t kSerialByteDelayMs = 10;
constexpr int32_t kIdAddressMask = 0xFFF;
constexpr int kIdReadBacks = 10;

constexpr int32_t kInternalCorrectionTypeArg = 16;

}  // namespace

bool COrvaneR3O5Base::WriteFpgaRegister(int32_t address, int32_t value) {
  if (!controller_) return false;
  return controller_->Registers()->FpgaWriteByte(static_cast<uint8_t>(address), static_cast<uint8_t>(value));
}

int32_t COrvaneR3O5Base::ReadFpgaRegister(int32_t address, int32_t* ok) {
  uint8_t value = 0;
  const bool read = controller_ && controller_->Registers()->FpgaReadByte(static_cast<uint8_t>(address), &value);
  if (ok) *ok = read ? 1 : 0;
  return read ? value : 0;
}

bool COrvaneR3O5Base::WaitFpgaIdle(int32_t ms) {
  if (!controller_) return false;
  const uint32_t start = orvane::platform::TickCountMs();
  while (static_cast<int64_t>(orvane::platform::TickCountMs() - start) < ms) {
    uint8_t status = 0;
    if (!controller_->Registers()->FpgaReadByte(fpga::kStatus, &status)) return false;
    if ((status & fpga::kStatusBusy) == 0) return true;
    orvane::platform::SleepMs(1);
  }
  return false;
}

bool COrvaneR3O5Base::WriteEeprom(int32_t address, uint8_t value) {
  if (!controller_ || address < 0 || address > 0xFFFF) return false;
  return controller_->Registers()->EepromWrite(static_cast<uint16_t>(address), value);
}

bool COrvaneR3O5Base::ReadEeprom(int32_t address, uint8_t* value) {
  if (!controller_ || value == nullptr || address < 0 || address > 0xFFFF) return false;
  return controller_->Registers()->EepromRead(static_cast<uint16_t>(address), value);
}

bool COrvaneR3O5Base::WriteConfigurationByte(uint8_t value) { return WriteEeprom(eeprom::kConfigurationByte, value); }
bool COrvaneR3O5Base::ReadConfigurationByte(uint8_t* value) { return ReadEeprom(eeprom::kConfigurationByte, value); }

bool COrvaneR3O5Base::ReadSerialNumber(char* buffer, int32_t length) {
  if (!controller_ || buffer == nullptr || length <= 0) return false;
  char text[eeprom::kSerialNumberLength] = {};
  int count = 0;
  bool firstReadFailed = false;
  for (int i = 0; i < eeprom::kSerialNumberLength; ++i) {
    uint8_t byte = 0;
    const bool read = ReadEeprom(eeprom::kSerialNumber + i, &byte);
    Sleep(kSerialByteDelayMs);
    if (!read) {
      firstReadFailed = i == 0;
      break;
    }
    if (byte == eeprom::kSerialNumberEnd) break;
    text[count++] = static_cast<char>(byte);
  }
  if (count == 0) return firstReadFailed ? 0 : 1;
  // Never more than the caller's buffer: at most length - 1 characters and the terminator.
  const int copied = std::min(count, length - 1);
  std::memcpy(buffer, text, static_cast<size_t>(copied));
  buffer[copied] = '\0';
  return true;
}

bool COrvaneR3O5Base::WriteIdentificationByte(int32_t address, uint8_t value, int32_t* readBackFailures) {
  if (readBackFailures) *readBackFailures = 0;
  const int32_t masked = address & kIdAddressMask;
  if (!WriteEeprom(masked, value)) return false;
  for (int i = 0; i < kIdReadBacks; ++i) {
    uint8_t back = 0;
    if (ReadEeprom(masked, &back)) {
      if (back == value) break;
    } else if (readBackFailures) {
      ++*readBackFailures;
    }
    static_cast<void>(WriteEeprom(masked, value));  // the next read-back tells whether it took
  }
  return true;
}

bool COrvaneR3O5Base::ReadIdentificationByte(int32_t address, uint8_t* value) {
  return ReadEeprom(address & kIdAddressMask, value);
}

bool COrvaneR3O5Base::HasInternalCorrection() {
  return sensor_ ? sensor_->HasInternalCorrection(kInternalCorrectionTypeArg) : false;
}

int COrvaneR3O5Base::GetInternalCorrection() {
  // The correction is never on for this camera type, even where a driver offers it.
  return 0;
}

bool COrvaneR3O5Base::SetInternalCorrection(int32_t on) {
  if (!HasInternalCorrection()) return false;
  return on == GetInternalCorrection();
}

bool COrvaneR3O5Base::GetFpgaTemperature(double* celsius) {
  if (cameraType_ == kCameraTypeImx226 || !controller_ || celsius == nullptr) return false;
  uint8_t low = 0, high = 0;
  CControllerBase* regs = controller_->Registers();
  if (!regs->FpgaReadByte(fpga::kTemperatureLow, &low) || !regs->FpgaReadByte(fpga::kTemperatureHigh, &high)) return false;
  const double raw = static_cast<double>(low | high << 8);
  *celsius = raw * 503.975 / 65536.0 - 273.15;
  return true;
}
