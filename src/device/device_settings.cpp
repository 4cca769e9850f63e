// The device settings: bit depth, readout mode, window, trigger mode and exposure, and the plain
// forwards to the sensor driver.
#include "device/orvane_device.h"
#include "hardware/camera_registers.h"

namespace {

namespace fpga = orvane::camera::fpga;

// Transfer timeout of the streaming thread: 5 s, or exposure / 5 above 5 s of exposure.
constexpr int32_t kDefaultTransferTimeoutMs = 5000;
constexpr int32_t kLongExposureThreshold = 50000;  // 100 us units; above it the timeout is exposure / 5

}  // namespace

bool COrvaneR3O5Base::SetBitDepth(int32_t mode) {
  if (!controller_) return false;
  const uint8_t format = mode == 1 ? fpga::kPixelFormat16Bit : fpga::kPixelFormat8Bit;
  if (!controller_->Registers()->FpgaWriteByte(fpga::kPixelFormat, format)) return false;
  if (mode == bitDepthMode_) return true;
  bitDepthMode_ = mode;
  // The streaming thread writes the current buffers: they change at the next start.
  if (thread_.joinable()) {
    reconfigureNeeded_ = true;
    return true;
  }
  return ConfigureBuffers();
}

bool COrvaneR3O5Base::SetReadoutMode(int32_t mode) {
  if (!sensor_) return false;
  if (mode == 2) {
    uint32_t speed = 0;
    // Mode 2 needs the bandwidth of a USB 3.0 link (speed code 4).
    if (!controller_->GetLinkSpeed(&speed) || speed != 4) mode = 0;
  }
  return sensor_->SetReadoutMode(mode);
}

bool COrvaneR3O5Base::GetReadoutMode(int32_t* mode) { return sensor_ ? sensor_->GetReadoutMode(mode) : false; }

bool COrvaneR3O5Base::SetWindow(int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode) {
  if (!sensor_) return false;
  const SensorInfo& info = sensor_->Info();
  if (info.windowX == x && info.windowY == y && info.windowWidth == width && info.windowHeight == height &&
      info.subSampleMode == mode) {
    return true;
  }
  if (!sensor_->SetWindow(x, width, y, height, mode)) return false;
  reconfigureNeeded_ = true;
  return true;
}

bool COrvaneR3O5Base::GetWindow(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t* mode) {
  if (!sensor_) return false;
  return sensor_->GetWindow(x, width, y, height, mode);
}

bool COrvaneR3O5Base::SetTriggerMode(int32_t mode, int32_t force) {
  if (!sensor_) return false;
  if (force == 0 && mode == triggerMode_) return true;
  StopTransfer(0);
  EnsureFrameEvent();
  sensor_->SetTriggerMode(mode);
  if (mode >= 1 && mode <= 3) ReadFrameCounter();
  triggerMode_ = mode;
  return true;
}

bool COrvaneR3O5Base::SetExposureTime(int32_t value) {
  if (!sensor_) return false;
  transferTimeout_ = value <= kLongExposureThreshold ? kDefaultTransferTimeoutMs : value / 5;
  return sensor_->SetExposureTime(value);
}

// Plain forwards to the sensor driver: 0 (or the stated default) without one.
#define ORVANE_FORWARD(call, fallback) return sensor_ ? sensor_->call : (fallback)

bool COrvaneR3O5Base::SetMirrorH(int32_t flag) { ORVANE_FORWARD(SetMirrorH(flag), 0); }
bool COrvaneR3O5Base::SetMirrorV(int32_t flag) { ORVANE_FORWARD(SetMirrorV(flag), 0); }
bool COrvaneR3O5Base::GetMirrorH(int32_t* flag) { ORVANE_FORWARD(GetMirrorH(flag), 0); }
bool COrvaneR3O5Base::GetMirrorV(int32_t* flag) { ORVANE_FORWARD(GetMirrorV(flag), 0); }
int COrvaneR3O5Base::GetMirrorVDefault() { ORVANE_FORWARD(GetMirrorVDefault(), 0); }
int COrvaneR3O5Base::GetMirrorHDefault() { ORVANE_FORWARD(GetMirrorHDefault(), 0); }
bool COrvaneR3O5Base::HasMirrorV() { ORVANE_FORWARD(HasMirrorV(), 0); }
bool COrvaneR3O5Base::HasMirrorH() { ORVANE_FORWARD(HasMirrorH(), 0); }
bool COrvaneR3O5Base::AllowsNarrowWindow() { ORVANE_FORWARD(AllowsNarrowWindow(), 0); }
bool COrvaneR3O5Base::AllowsLowWindow() { ORVANE_FORWARD(AllowsLowWindow(), 0); }
bool COrvaneR3O5Base::SetGlobalGain(int32_t code) { ORVANE_FORWARD(SetGlobalGain(code), 0); }
bool COrvaneR3O5Base::GetGlobalGain(int32_t* code) { ORVANE_FORWARD(GetGlobalGain(code), 0); }
bool COrvaneR3O5Base::GetGlobalGainMin(int32_t* code) { ORVANE_FORWARD(GetGlobalGainMin(code), 0); }
bool COrvaneR3O5Base::GetGlobalGainMax(int32_t* code) { ORVANE_FORWARD(GetGlobalGainMax(code), 0); }
bool COrvaneR3O5Base::GetGlobalGainDefault(int32_t* code) { ORVANE_FORWARD(GetGlobalGainDefault(code), 0); }
bool COrvaneR3O5Base::GetExposureTime(int32_t* value) { ORVANE_FORWARD(GetExposureTime(value), 0); }
bool COrvaneR3O5Base::GetExposureTimeMin(int32_t* value) { ORVANE_FORWARD(GetExposureTimeMin(value), 0); }
bool COrvaneR3O5Base::GetExposureTimeMax(int32_t* value) { ORVANE_FORWARD(GetExposureTimeMax(value), 0); }
bool COrvaneR3O5Base::GetExposureTimeDefault(int32_t* value) { ORVANE_FORWARD(GetExposureTimeDefault(value), 0); }
bool COrvaneR3O5Base::HasExposureTimeEx() { ORVANE_FORWARD(HasExposureTimeEx(), 0); }
bool COrvaneR3O5Base::SetExposureTimeEx(double seconds) { ORVANE_FORWARD(SetExposureTimeEx(seconds), 0); }
bool COrvaneR3O5Base::GetExposureTimeEx(double* seconds) { ORVANE_FORWARD(GetExposureTimeEx(seconds), 0); }
bool COrvaneR3O5Base::GetExposureTimeExMin(double* seconds) { ORVANE_FORWARD(GetExposureTimeExMin(seconds), 0); }
bool COrvaneR3O5Base::GetExposureTimeExMax(double* seconds) { ORVANE_FORWARD(GetExposureTimeExMax(seconds), 0); }
bool COrvaneR3O5Base::GetExposureTimeExDefault(double* seconds) {
  ORVANE_FORWARD(GetExposureTimeExDefault(seconds), 0);
}
bool COrvaneR3O5Base::SetColorGainRed(int32_t value) { ORVANE_FORWARD(SetColorGainRed(value), 0); }
bool COrvaneR3O5Base::GetColorGainRed(int32_t* value) { ORVANE_FORWARD(GetColorGainRed(value), 0); }
bool COrvaneR3O5Base::SetColorGainGreen1(int32_t value) { ORVANE_FORWARD(SetColorGainGreen1(value), 0); }
bool COrvaneR3O5Base::GetColorGainGreen1(int32_t* value) { ORVANE_FORWARD(GetColorGainGreen1(value), 0); }
bool COrvaneR3O5Base::SetColorGainGreen2(int32_t value) { ORVANE_FORWARD(SetColorGainGreen2(value), 0); }
bool COrvaneR3O5Base::GetColorGainGreen2(int32_t* value) { ORVANE_FORWARD(GetColorGainGreen2(value), 0); }
bool COrvaneR3O5Base::SetColorGainBlue(int32_t value) { ORVANE_FORWARD(SetColorGainBlue(value), 0); }
bool COrvaneR3O5Base::GetColorGainBlue(int32_t* value) { ORVANE_FORWARD(GetColorGainBlue(value), 0); }
bool COrvaneR3O5Base::GetColorGainMin(int32_t* value) { ORVANE_FORWARD(GetColorGainMin(value), 0); }
bool COrvaneR3O5Base::GetColorGainMax(int32_t* value) { ORVANE_FORWARD(GetColorGainMax(value), 0); }
bool COrvaneR3O5Base::GetColorGainDefault(int32_t* value) { ORVANE_FORWARD(GetColorGainDefault(value), 0); }
bool COrvaneR3O5Base::HasBlackLevel() { ORVANE_FORWARD(HasBlackLevel(), 0); }
bool COrvaneR3O5Base::SetBlackLevel(int32_t value) { ORVANE_FORWARD(SetBlackLevel(value), 0); }
bool COrvaneR3O5Base::GetBlackLevel(int32_t* value) { ORVANE_FORWARD(GetBlackLevel(value), 0); }
bool COrvaneR3O5Base::GetBlackLevelMin(int32_t* value) { ORVANE_FORWARD(GetBlackLevelMin(value), 0); }
bool COrvaneR3O5Base::GetBlackLevelMax(int32_t* value) { ORVANE_FORWARD(GetBlackLevelMax(value), 0); }
bool COrvaneR3O5Base::GetBlackLevelDefault(int32_t* value) { ORVANE_FORWARD(GetBlackLevelDefault(value), 0); }
bool COrvaneR3O5Base::HasGainMode() { ORVANE_FORWARD(HasGainMode(), 0); }
bool COrvaneR3O5Base::SetGainMode(int32_t mode) { ORVANE_FORWARD(SetGainMode(mode), 0); }
int COrvaneR3O5Base::GetGainMode() { ORVANE_FORWARD(GetGainMode(), -1); }
bool COrvaneR3O5Base::HasShortExposureMode() { ORVANE_FORWARD(HasShortExposureMode(), 0); }
bool COrvaneR3O5Base::GetShortExposureMode(int32_t* flag) { ORVANE_FORWARD(GetShortExposureMode(flag), 0); }
bool COrvaneR3O5Base::SetShortExposureMode(int32_t flag) { ORVANE_FORWARD(SetShortExposureMode(flag), 0); }
bool COrvaneR3O5Base::AllowsGray8AndBgrx() { ORVANE_FORWARD(AllowsGray8AndBgrx(), 1); }
bool COrvaneR3O5Base::AllowsGray16() { ORVANE_FORWARD(AllowsGray16(), 1); }
bool COrvaneR3O5Base::AllowsColorModes() { ORVANE_FORWARD(AllowsColorModes(), 1); }
bool COrvaneR3O5Base::SetSamplingRate(int32_t, int32_t word, int32_t* rate) {
  ORVANE_FORWARD(SetSamplingRate(word, rate), 0);
}
bool COrvaneR3O5Base::HasPreviewResetSetting() { ORVANE_FORWARD(HasPreviewResetSetting(), 0); }
bool COrvaneR3O5Base::GetPreviewResetSetting(int32_t* value) { ORVANE_FORWARD(GetPreviewResetSetting(value), 0); }
bool COrvaneR3O5Base::SetPreviewResetSetting(int32_t value) { ORVANE_FORWARD(SetPreviewResetSetting(value), 0); }
bool COrvaneR3O5Base::HasPeltier() { ORVANE_FORWARD(HasPeltier(), 0); }
bool COrvaneR3O5Base::GetPeltier(int32_t* value) { ORVANE_FORWARD(GetPeltier(value), 0); }
bool COrvaneR3O5Base::SetPeltier(int32_t value) { ORVANE_FORWARD(SetPeltier(value), 0); }
bool COrvaneR3O5Base::HasTemperature() { ORVANE_FORWARD(HasTemperature(), 0); }
bool COrvaneR3O5Base::ReadTemperature(double* celsius) { ORVANE_FORWARD(ReadTemperature(celsius), 0); }
bool COrvaneR3O5Base::WriteSensorRegister(int32_t, int32_t address, int32_t value) {
  ORVANE_FORWARD(WriteRegister(address, value), 0);
}

#undef ORVANE_FORWARD

void COrvaneR3O5Base::PreparePreview() {
  if (sensor_) sensor_->PreparePreview();
}

int32_t COrvaneR3O5Base::ReadSensorRegister(int32_t, int32_t address, int32_t* ok) {
  int32_t value = 0;
  const int result = sensor_ ? sensor_->ReadRegister(address, &value) : 0;
  if (ok) *ok = result != 0 ? 1 : 0;
  return result != 0 ? value : 0;
}
