// Driver of the Sony IMX226 sensor of camera type 0x31F0. It programs the sensor's registers over I2C
// through the FX3 and the FPGA's window registers through the FPGA byte-register port.
#pragma once

#include <cstdint>
#include <mutex>

#include "hardware/camera_registers.h"
#include "sensor/sensor_base.h"

class CSensorIMX226 : public CSensorBase {
 public:
  // I2C write address of the sensor on this board.
  static constexpr uint8_t kI2cAddress = orvane::camera::i2c::kSensor;

  // `controller` is borrowed for the driver's life (may be null: settings are then only stored or fail).
  CSensorIMX226(CControllerBase* controller, uint8_t i2cAddress);
  ~CSensorIMX226() override = default;

  bool IsReady() override;
  bool ApplyDefaults() override;

  bool SetWindow(int32_t x, int32_t width, int32_t y, int32_t height, int32_t mode) override;
  bool GetWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height, int32_t* mode) override;
  bool SetBitDepth(int32_t mode) override;

  bool SetExposureLines(int32_t lines) override;
  bool GetExposureLines(int32_t* lines) override;
  bool GetExposureLinesMin(int32_t* lines) override;
  bool GetExposureLinesMax(int32_t* lines) override;
  bool GetExposureLinesDefault(int32_t* lines) override;

  bool SetGlobalGain(int32_t code) override;
  bool GetGlobalGain(int32_t* code) override;
  bool GetGlobalGainMin(int32_t* code) override;
  bool GetGlobalGainMax(int32_t* code) override;
  bool GetGlobalGainDefault(int32_t* code) override;

  bool GetColorGainMin(int32_t* value) override;
  bool GetColorGainMax(int32_t* value) override;
  bool GetColorGainDefault(int32_t* value) override;

  bool SetExposureTime(int32_t time) override;
  bool GetExposureTime(int32_t* time) override;
  bool GetExposureTimeMin(int32_t* time) override;
  bool GetExposureTimeMax(int32_t* time) override;
  bool GetExposureTimeDefault(int32_t* time) override;

  bool SetMirrorV(int32_t flag) override;
  bool GetMirrorV(int32_t* flag) override;
  // The driver does not mirror horizontally: the flag is kept for the image pipeline and false returned.
  bool SetMirrorH(int32_t flag) override;
  bool GetMirrorH(int32_t* flag) override;

  bool WriteRegister(int32_t address, int32_t value) override;
  bool ReadRegister(int32_t address, int32_t* value) override;
  bool WriteRegisterChecked(int32_t address, int32_t value) override;
  bool ReadRegisterRetry(int32_t address, int32_t* value) override;

  // The vertical mirror shifts the full-resolution readout by one line.
  bool AlternateTimingFlag() override;

 private:
  // Serialises each sensor register access so that the address and data phases of a read are not
  // interleaved with another access. Compound sequences take it per register.
  std::mutex registerLock_;
};
