// The controller interface: the register, I2C, EEPROM and pipe operations of the FX3 controller that
// the device core uses and hands to the sensor driver (which holds it as a non-owning pointer).
// Every operation answers true for success and false for failure; nothing is logged here.
#pragma once

#include <cstdint>

class CControllerBase {
 public:
  virtual ~CControllerBase() = default;

  // Closes the stream handle and frees the staging buffer; the device can be selected again.
  virtual bool Close() = 0;
  // Selects the device-table entry `index` (0..31) when its path can be opened.
  virtual bool SelectDevice(int index) = 0;

  // 16-bit value of the FPGA byte registers 0x10 (low) and 0x11 (high), read through I2C device 0x40.
  virtual bool FpgaReadWord(uint16_t* value) = 0;
  // Level of the controller's GPIO 25 input (1 = high): vendor request 0xC3.
  virtual bool ReadGpio25(uint8_t* level) = 0;
  // Vendor request 0xCC.
  virtual bool SendRequestCC() = 0;

  // I2C transfers of at most 64 bytes. `device` is the 8-bit write address; the read sets bit 0.
  virtual bool I2cWrite(uint8_t device, const uint8_t* data, int count) = 0;
  virtual bool I2cRead(uint8_t device, uint8_t* data, int count) = 0;

  // FPGA register access by vendor requests 0xD0 / 0xD1 (15-bit register number plus bit 15).
  virtual bool FpgaWriteRegister(uint32_t address, uint32_t value) = 0;
  virtual bool FpgaReadRegister(uint32_t address, uint16_t* value) = 0;

  // Vendor requests 0x3E / 0x3F.
  virtual bool WritePair(uint16_t first, uint16_t second) = 0;
  virtual bool ReadWord(uint16_t argument, uint16_t* value) = 0;

  // FPGA byte-register port (I2C device 0x40/0x41), each under the controller's lock.
  virtual bool FpgaWriteByte(uint8_t reg, uint8_t value) = 0;
  virtual bool FpgaReadByte(uint8_t reg, uint8_t* value) = 0;

  // I2C device 0x5A/0x5B.
  virtual bool WriteReg5A(uint8_t reg, uint8_t value) = 0;
  virtual bool ReadReg5A(uint8_t reg, uint8_t* value) = 0;

  // Serial EEPROM at I2C device 0xA2/0xA3, 16-bit byte addresses.
  virtual bool EepromWrite(uint16_t address, uint8_t value) = 0;
  virtual bool EepromRead(uint16_t address, uint8_t* value) = 0;

  // Cancels the pending bulk reads of endpoint 0x81 and waits until the driver released them.
  virtual bool AbortPipe() = 0;
};
