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

  int IsReady() override;
  int ApplyDefaults() override;

  int SetWindow(int32_t x, int32_t width, int32_t y, int32_t height, int32_t mode) override;
  int GetWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height, int32_t* mode) override;
  int SetBitDepth(int32_t mode) override;

  int SetExposureLines(int32_t lines) override;
  int GetExposureLines(int32_t* lines) override;
  int GetExposureLinesMin(int32_t* lines) override;
  int GetExposureLinesMax(int32_t* lines) override;
  int GetExposureLinesDefault(int32_t* lines) override;

  int SetGlobalGain(int32_t code) override;
  int GetGlobalGain(int32_t* code) override;
  int GetGlobalGainMin(int32_t* code) override;
  int GetGlobalGainMax(int32_t* code) override;
  int GetGlobalGainDefault(int32_t* code) override;

  int GetColorGainMin(int32_t* value) override;
  int GetColorGainMax(int32_t* value) override;
  int GetColorGainDefault(int32_t* value) override;

  int SetExposureTime(int32_t time) override;
  int GetExposureTime(int32_t* time) override;
  int GetExposureTimeMin(int32_t* time) override;
  int GetExposureTimeMax(int32_t* time) override;
  int GetExposureTimeDefault(int32_t* time) override;

  int SetMirrorV(int32_t flag) override;
  int GetMirrorV(int32_t* flag) override;
  // The driver does not mirror horizontally: the flag is kept for the image pipeline and 0 returned.
  int SetMirrorH(int32_t flag) override;
  int GetMirrorH(int32_t* flag) override;

  int WriteRegister(int32_t address, int32_t value) override;
  int ReadRegister(int32_t address, int32_t* value) override;
  int WriteRegisterChecked(int32_t address, int32_t value) override;
  int ReadRegisterRetry(int32_t address, int32_t* value) override;

  // The vertical mirror shifts the full-resolution readout by one line.
  int AlternateTimingFlag() override;

 private:
  // Serialises each sensor register access so that the address and data phases of a read are not
  // interleaved with another access. Compound sequences take it per register.
  std::mutex registerLock_;
};
