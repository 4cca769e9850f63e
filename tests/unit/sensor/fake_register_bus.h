// A small fake of the controller's register interface: it records every I2C write and read and every
// FPGA byte access in order, keeps a register file for the sensor (16-bit addresses), the FPGA byte
// registers and the EEPROM, and fails the operations a test picks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "usb/controller_base.h"

struct BusOp {
  enum class Kind { kI2cWrite, kI2cRead, kFpgaWrite, kFpgaRead, kEepromWrite, kEepromRead, kGpio25 };
  Kind kind;
  uint8_t device = 0;          // I2C device (write form) for I2C operations
  std::vector<uint8_t> bytes;  // data written (I2C), {register, value} for FPGA writes
};

class FakeRegisterBus : public CControllerBase {
 public:
  // Sensor register write as the driver sends it: (address, value).
  struct SensorWrite {
    uint16_t address;
    uint8_t value;
    bool operator==(const SensorWrite&) const = default;
  };
  struct FpgaWrite {
    uint8_t reg;
    uint8_t value;
    bool operator==(const FpgaWrite&) const = default;
  };

  // `fail` returns true to make an operation fail (it is still recorded).
  void SetFailWhen(std::function<bool(const BusOp&)> fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failWhen_ = std::move(fail);
  }

  std::vector<BusOp> Ops() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ops_;
  }
  void ClearOps() {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_.clear();
  }

  // Three-byte I2C writes to `device`, decoded as sensor register writes.
  std::vector<SensorWrite> SensorWrites(uint8_t device = 0x48) const {
    std::vector<SensorWrite> out;
    for (const auto& op : Ops()) {
      if (op.kind == BusOp::Kind::kI2cWrite && op.device == device && op.bytes.size() == 3) {
        out.push_back({static_cast<uint16_t>(op.bytes[0] << 8 | op.bytes[1]), op.bytes[2]});
      }
    }
    return out;
  }
  std::vector<FpgaWrite> FpgaWrites() const {
    std::vector<FpgaWrite> out;
    for (const auto& op : Ops()) {
      if (op.kind == BusOp::Kind::kFpgaWrite) out.push_back({op.bytes[0], op.bytes[1]});
    }
    return out;
  }

  uint8_t SensorRegister(uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sensor_.find(address);
    return it == sensor_.end() ? 0 : it->second;
  }
  void SetSensorRegister(uint16_t address, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    sensor_[address] = value;
  }
  uint8_t FpgaRegister(uint8_t reg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fpga_[reg];
  }
  void SetFpgaRegister(uint8_t reg, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    fpga_[reg] = value;
  }
  void SetEeprom(uint16_t address, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    eeprom_[address] = value;
  }
  uint8_t Eeprom(uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = eeprom_.find(address);
    return it == eeprom_.end() ? 0xFF : it->second;
  }
  void SetGpio25(uint8_t level) {
    std::lock_guard<std::mutex> lock(mutex_);
    gpio25_ = level;
  }

  bool Close() override { return true; }
  bool SelectDevice(int) override { return true; }
  bool FpgaReadWord(uint16_t*) override { return false; }
  bool ReadGpio25(uint8_t* level) override {
    if (!Record({BusOp::Kind::kGpio25, 0, {}})) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    *level = gpio25_;
    return true;
  }
  bool SendRequestCC() override { return false; }

  bool I2cWrite(uint8_t device, const uint8_t* data, int count) override {
    if (count < 0 || count > 64) return false;
    if (!Record({BusOp::Kind::kI2cWrite, device, std::vector<uint8_t>(data, data + count)})) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (count >= 2) pointer_[device] = static_cast<uint16_t>(data[0] << 8 | data[1]);
    if (count == 3 && device == 0x48) sensor_[pointer_[device]] = data[2];
    return true;
  }
  bool I2cRead(uint8_t device, uint8_t* data, int count) override {
    if (count < 0 || count > 64) return false;
    if (!Record({BusOp::Kind::kI2cRead, device, {}})) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < count; ++i) data[i] = device == 0x48 ? sensor_[static_cast<uint16_t>(pointer_[device] + i)] : 0;
    return true;
  }

  bool FpgaWriteRegister(uint32_t, uint32_t) override { return false; }
  bool FpgaReadRegister(uint32_t, uint16_t*) override { return false; }
  bool WritePair(uint16_t, uint16_t) override { return false; }
  bool ReadWord(uint16_t, uint16_t*) override { return false; }

  bool FpgaWriteByte(uint8_t reg, uint8_t value) override {
    if (!Record({BusOp::Kind::kFpgaWrite, 0x40, {reg, value}})) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    fpga_[reg] = value;
    return true;
  }
  bool FpgaReadByte(uint8_t reg, uint8_t* value) override {
    if (!Record({BusOp::Kind::kFpgaRead, 0x40, {reg}})) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    *value = fpga_[reg];
    return true;
  }
  bool WriteReg5A(uint8_t, uint8_t) override { return false; }
  bool ReadReg5A(uint8_t, uint8_t*) override { return false; }

  bool EepromWrite(uint16_t address, uint8_t value) override {
    if (!Record({BusOp::Kind::kEepromWrite, 0xA2, {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value}}))
      return false;
    std::lock_guard<std::mutex> lock(mutex_);
    eeprom_[address] = value;
    return true;
  }
  bool EepromRead(uint16_t address, uint8_t* value) override {
    if (!Record({BusOp::Kind::kEepromRead, 0xA2, {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)}}))
      return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = eeprom_.find(address);
    *value = it == eeprom_.end() ? 0xFF : it->second;
    return true;
  }
  bool AbortPipe() override {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++aborts_;
      hook = onAbort;
    }
    if (hook) hook();
    return true;
  }
  int Aborts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborts_;
  }

  // Called by AbortPipe (set before the bus is shared between threads).
  std::function<void()> onAbort;

 private:
  // Records the operation and answers whether it succeeds.
  bool Record(BusOp op) {
    std::function<bool(const BusOp&)> fail;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ops_.push_back(op);
      fail = failWhen_;
    }
    return !(fail && fail(op));
  }

  mutable std::mutex mutex_;
  std::function<bool(const BusOp&)> failWhen_;  // guarded by mutex_
  std::vector<BusOp> ops_;                  // guarded by mutex_
  std::map<uint16_t, uint8_t> sensor_;      // guarded by mutex_
  std::map<uint8_t, uint16_t> pointer_;     // guarded by mutex_: register pointer per I2C device
  uint8_t fpga_[256] = {};                  // guarded by mutex_
  int aborts_ = 0;                          // guarded by mutex_
  std::map<uint16_t, uint8_t> eeprom_;      // guarded by mutex_; unwritten bytes read 0xFF
  uint8_t gpio25_ = 1;                      // guarded by mutex_
};
