// A fake of the controller's register interface: records every access in order, keeps register files for
// the sensor, FPGA and EEPROM, and fails the operations a test picks.
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
  uint8_t device = 0;
  std::vector<uint8_t> bytes;
};

class FakeRegisterBus : public CControllerBase {
 public:
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

  void SetFailWhen(std::function<bool(const BusOp&)> fail) { Locked([&] { failWhen_ = std::move(fail); }); }
  std::vector<BusOp> Ops() const { return Locked([&] { return ops_; }); }
  void ClearOps() { Locked([&] { ops_.clear(); }); }
  int Count(BusOp::Kind kind) const {
    int n = 0;
    for (const auto& op : Ops()) n += op.kind == kind ? 1 : 0;
    return n;
  }

  std::vector<SensorWrite> SensorWrites() const {
    std::vector<SensorWrite> out;
    for (const auto& op : Ops()) {
      if (op.kind == BusOp::Kind::kI2cWrite && op.device == 0x48 && op.bytes.size() == 3) {
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

  void SetSensorRegister(uint16_t address, uint8_t value) { Locked([&] { sensor_[address] = value; }); }
  uint8_t FpgaRegister(uint8_t reg) const { return Locked([&] { return fpga_[reg]; }); }
  void SetFpgaRegister(uint8_t reg, uint8_t value) { Locked([&] { fpga_[reg] = value; }); }
  uint8_t Eeprom(uint16_t address) const { return Locked([&] { return Read(eeprom_, address, 0xFF); }); }
  void SetEeprom(uint16_t address, uint8_t value) { Locked([&] { eeprom_[address] = value; }); }
  void SetGpio25(uint8_t level) { Locked([&] { gpio25_ = level; }); }
  int Aborts() const { return Locked([&] { return aborts_; }); }

  bool Close() override { return true; }
  bool SelectDevice(int) override {
    if (onSelect) onSelect();
    return true;
  }
  bool FpgaReadWord(uint16_t*) override { return false; }
  bool SendRequestCC() override { return false; }
  bool FpgaWriteRegister(uint32_t, uint32_t) override { return false; }
  bool FpgaReadRegister(uint32_t, uint16_t*) override { return false; }
  bool WritePair(uint16_t, uint16_t) override { return false; }
  bool ReadWord(uint16_t, uint16_t*) override { return false; }
  bool WriteReg5A(uint8_t, uint8_t) override { return false; }
  bool ReadReg5A(uint8_t, uint8_t*) override { return false; }

  bool ReadGpio25(uint8_t* level) override {
    return Record({BusOp::Kind::kGpio25, 0, {}}) && Locked([&] { return *level = gpio25_, true; });
  }
  bool I2cWrite(uint8_t device, const uint8_t* data, int count) override {
    if (count < 0 || count > 64 || !Record({BusOp::Kind::kI2cWrite, device, {data, data + count}})) return false;
    return Locked([&] {
      if (count >= 2) pointer_[device] = static_cast<uint16_t>(data[0] << 8 | data[1]);
      if (count == 3 && device == 0x48) sensor_[pointer_[device]] = data[2];
      return true;
    });
  }
  bool I2cRead(uint8_t device, uint8_t* data, int count) override {
    if (count < 0 || count > 64 || !Record({BusOp::Kind::kI2cRead, device, {}})) return false;
    return Locked([&] {
      for (int i = 0; i < count; ++i) {
        data[i] = device == 0x48 ? Read(sensor_, static_cast<uint16_t>(pointer_[device] + i), 0) : 0;
      }
      return true;
    });
  }
  bool FpgaWriteByte(uint8_t reg, uint8_t value) override {
    return Record({BusOp::Kind::kFpgaWrite, 0x40, {reg, value}}) && Locked([&] { return fpga_[reg] = value, true; });
  }
  bool FpgaReadByte(uint8_t reg, uint8_t* value) override {
    return Record({BusOp::Kind::kFpgaRead, 0x40, {reg}}) && Locked([&] { return *value = fpga_[reg], true; });
  }
  bool EepromWrite(uint16_t address, uint8_t value) override {
    return Record({BusOp::Kind::kEepromWrite, 0xA2, {uint8_t(address >> 8), uint8_t(address), value}}) &&
           Locked([&] { return eeprom_[address] = value, true; });
  }
  bool EepromRead(uint16_t address, uint8_t* value) override {
    return Record({BusOp::Kind::kEepromRead, 0xA2, {uint8_t(address >> 8), uint8_t(address)}}) &&
           Locked([&] { return *value = Read(eeprom_, address, 0xFF), true; });
  }
  bool AbortPipe() override {
    Locked([&] { ++aborts_; });
    if (onAbort) onAbort();
    return true;
  }

  std::function<void()> onAbort;   // set before the bus is shared between threads
  std::function<void()> onSelect;  // likewise

 private:
  template <typename F>
  auto Locked(F f) const -> decltype(f()) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }
  static uint8_t Read(const std::map<uint16_t, uint8_t>& m, uint16_t address, uint8_t unwritten) {
    auto it = m.find(address);
    return it == m.end() ? unwritten : it->second;
  }
  bool Record(BusOp op) {
    auto fail = Locked([&] {
      ops_.push_back(op);
      return failWhen_;
    });
    return !(fail && fail(op));
  }

  mutable std::mutex mutex_;
  std::function<bool(const BusOp&)> failWhen_;  // guarded by mutex_
  std::vector<BusOp> ops_;                      // guarded by mutex_
  std::map<uint16_t, uint8_t> sensor_;          // guarded by mutex_; unwritten registers read 0
  std::map<uint8_t, uint16_t> pointer_;         // guarded by mutex_: register pointer per I2C device
  uint8_t fpga_[256] = {};                      // guarded by mutex_
  std::map<uint16_t, uint8_t> eeprom_;          // guarded by mutex_; unwritten bytes read 0xFF
  uint8_t gpio25_ = 1;                          // guarded by mutex_
  int aborts_ = 0;                              // guarded by mutex_
};
