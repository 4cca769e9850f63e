#include "sensor/sensor_base.h"

#include <cstring>

#include "hardware/camera_registers.h"
#include "platform/time.h"

namespace {

namespace fpga = orvane::camera::fpga;

// The board variant whose FPGA takes the readout re-arm pulse on a register of its own.
constexpr int32_t kVariantWithAltRearm = 103;
constexpr uint32_t kRearmPulseMs = 1;
constexpr uint32_t kStartupPulseMs = 50;

template <typename T>
int WriteOut(T* out, T value, int result) {
  if (out != nullptr) *out = value;
  return result;
}

}  // namespace

CSensorBase::CSensorBase() { std::memset(&info_, 0, sizeof(info_)); }

void CSensorBase::SetSleeper(Sleeper sleeper) { sleeper_ = std::move(sleeper); }

void CSensorBase::Sleep(uint32_t ms) const {
  if (sleeper_) {
    sleeper_(ms);
  } else {
    orvane::platform::SleepMs(ms);
  }
}

void CSensorBase::SetVariant(int32_t value) { variant_ = value; }
void CSensorBase::SetStreamParameter(int32_t value) { streamParameter_ = value; }
int32_t CSensorBase::GetStreamParameter() { return streamParameter_; }
int CSensorBase::IsReady() { return 0; }
int CSensorBase::ApplyDefaults() { return 0; }

int CSensorBase::SetWindow(int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int CSensorBase::GetWindow(int32_t*, int32_t*, int32_t*, int32_t*, int32_t*) { return 0; }
int CSensorBase::SetBitDepth(int32_t) { return 0; }

int CSensorBase::SetExposureLines(int32_t) { return 0; }
int CSensorBase::GetExposureLines(int32_t*) { return 0; }
int CSensorBase::GetExposureLinesMin(int32_t*) { return 0; }
int CSensorBase::GetExposureLinesMax(int32_t*) { return 0; }
int CSensorBase::GetExposureLinesDefault(int32_t*) { return 0; }

int CSensorBase::SetGlobalGain(int32_t) { return 0; }
int CSensorBase::GetGlobalGain(int32_t*) { return 0; }
int CSensorBase::GetGlobalGainMin(int32_t*) { return 0; }
int CSensorBase::GetGlobalGainMax(int32_t*) { return 0; }
int CSensorBase::GetGlobalGainDefault(int32_t*) { return 0; }

int CSensorBase::SetColorGainRed(int32_t) { return 0; }
int CSensorBase::GetColorGainRed(int32_t*) { return 0; }
int CSensorBase::SetColorGainGreen1(int32_t) { return 0; }
int CSensorBase::GetColorGainGreen1(int32_t*) { return 0; }
int CSensorBase::SetColorGainGreen2(int32_t) { return 0; }
int CSensorBase::GetColorGainGreen2(int32_t*) { return 0; }
int CSensorBase::SetColorGainBlue(int32_t) { return 0; }
int CSensorBase::GetColorGainBlue(int32_t*) { return 0; }
int CSensorBase::GetColorGainMin(int32_t*) { return 0; }
int CSensorBase::GetColorGainMax(int32_t*) { return 0; }
int CSensorBase::GetColorGainDefault(int32_t*) { return 0; }

int CSensorBase::HasBlackLevel() { return info_.hasBlackLevel; }
int CSensorBase::SetBlackLevel(int32_t) { return 0; }
int CSensorBase::GetBlackLevel(int32_t* value) { return WriteOut(value, info_.blackLevel, info_.hasBlackLevel); }
int CSensorBase::GetBlackLevelMin(int32_t* value) {
  return WriteOut(value, info_.blackLevelMin, info_.hasBlackLevel);
}
int CSensorBase::GetBlackLevelMax(int32_t* value) {
  return WriteOut(value, info_.blackLevelMax, info_.hasBlackLevel);
}
int CSensorBase::GetBlackLevelDefault(int32_t* value) {
  return WriteOut(value, info_.blackLevelDefault, info_.hasBlackLevel);
}

int CSensorBase::SetExposureTime(int32_t) { return 0; }
int CSensorBase::GetExposureTime(int32_t*) { return 0; }
int CSensorBase::GetExposureTimeMin(int32_t*) { return 0; }
int CSensorBase::GetExposureTimeMax(int32_t*) { return 0; }
int CSensorBase::GetExposureTimeDefault(int32_t*) { return 0; }

int CSensorBase::SetMirrorV(int32_t) { return 0; }
int CSensorBase::GetMirrorV(int32_t*) { return 0; }
int CSensorBase::SetMirrorH(int32_t) { return 0; }
int CSensorBase::GetMirrorH(int32_t*) { return 0; }
int CSensorBase::GetMirrorVDefault() { return info_.mirrorVDefault; }
int CSensorBase::GetMirrorHDefault() { return info_.mirrorHDefault; }
int CSensorBase::HasMirrorV() { return info_.mirrorVSupported; }
int CSensorBase::HasMirrorH() { return info_.mirrorHSupported; }

int CSensorBase::WriteRegister(int32_t, int32_t) { return 0; }
int CSensorBase::ReadRegister(int32_t, int32_t*) { return 0; }
int CSensorBase::WriteRegisterChecked(int32_t, int32_t) { return 0; }
int CSensorBase::ReadRegisterRetry(int32_t, int32_t*) { return 0; }

int CSensorBase::SetReadoutMode(int32_t) { return 0; }
int CSensorBase::GetReadoutMode(int32_t*) { return 0; }
int CSensorBase::SetTriggerMode(int32_t) { return 0; }

int CSensorBase::GetSensorInfo(SensorInfo* info) {
  if (info == nullptr) return 0;
  *info = info_;
  return 1;
}

int CSensorBase::IsReadoutStarted() { return 0; }
int CSensorBase::StartReadout() { return 0; }
void CSensorBase::StopReadout(int) {}

int CSensorBase::AllowsNarrowWindow() { return 0; }
int CSensorBase::AllowsLowWindow() { return 0; }

int CSensorBase::HasInternalCorrection(int32_t) { return 0; }
int CSensorBase::SetInternalCorrection(int32_t) { return 0; }
int CSensorBase::GetInternalCorrection(int32_t*) { return 0; }
int CSensorBase::HasPeltier() { return 0; }
int CSensorBase::GetPeltier(int32_t*) { return 0; }
int CSensorBase::SetPeltier(int32_t) { return 0; }
int CSensorBase::HasTemperature() { return 0; }
int CSensorBase::ReadTemperature(double*) { return 0; }

int CSensorBase::HasExposureTimeEx() { return info_.hasExposureTimeEx; }
int CSensorBase::GetExposureTimeExMin(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeExMin, info_.hasExposureTimeEx);
}
int CSensorBase::GetExposureTimeExMax(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeExMax, info_.hasExposureTimeEx);
}
int CSensorBase::GetExposureTimeExDefault(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeExDefault, info_.hasExposureTimeEx);
}
int CSensorBase::GetExposureTimeEx(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeEx, info_.hasExposureTimeEx);
}
int CSensorBase::SetExposureTimeEx(double) { return 0; }

int CSensorBase::HasShortExposureMode() { return 0; }
int CSensorBase::GetShortExposureMode(int32_t*) { return 0; }
int CSensorBase::SetShortExposureMode(int32_t) { return 0; }

int CSensorBase::HasGainMode() { return 0; }
int CSensorBase::GetGainMode() { return -1; }
int CSensorBase::SetGainMode(int32_t) { return 0; }

int CSensorBase::GetOrientation() { return -1; }

int CSensorBase::AllowsGray8AndBgrx() { return 1; }
int CSensorBase::AllowsGray16() { return 1; }
int CSensorBase::AllowsColorModes() { return 1; }

int CSensorBase::SetSamplingRate(int32_t, int32_t*) { return 0; }
void CSensorBase::PreparePreview() {}
int CSensorBase::HasPreviewResetSetting() { return 0; }
int CSensorBase::GetPreviewResetSetting(int32_t*) { return 0; }
int CSensorBase::SetPreviewResetSetting(int32_t) { return 0; }

int CSensorBase::AlternateTimingFlag() { return 0; }

int CSensorBase::RearmReadout() {
  if (rearmEnabled_ == 0) return 1;
  if (controller_ == nullptr) return 0;
  orvane::platform::TimerResolution resolution;
  const uint8_t reg = variant_ == kVariantWithAltRearm ? fpga::kFrameRestartVariant103 : fpga::kFrameRestart;
  controller_->FpgaWriteByte(reg, 1);
  Sleep(kRearmPulseMs);
  controller_->FpgaWriteByte(reg, 0);
  Sleep(kRearmPulseMs);
  return 1;
}

int CSensorBase::PulseFpgaStartup() {
  if (controller_ == nullptr) return 0;
  orvane::platform::TimerResolution resolution;
  uint8_t value = 0;
  if (!controller_->FpgaReadByte(fpga::kStartup, &value)) return 0;
  const uint8_t low = static_cast<uint8_t>(value & ~fpga::kStartupHandshake);
  const uint8_t high = static_cast<uint8_t>(value | fpga::kStartupHandshake);
  controller_->FpgaWriteByte(fpga::kStartup, low);
  Sleep(kStartupPulseMs);
  controller_->FpgaWriteByte(fpga::kStartup, high);
  Sleep(kStartupPulseMs);
  controller_->FpgaWriteByte(fpga::kStartup, low);
  return 1;
}

int32_t CSensorBase::FpgaVerticalStart(int32_t y, int32_t subSampleMode, bool alternateTiming) {
  if (subSampleMode != 0) return y + fpga::kVerticalMarginReduced;
  return y + (alternateTiming ? fpga::kVerticalMarginFullMirrored : fpga::kVerticalMarginFull);
}

int32_t CSensorBase::FpgaHorizontalStart(int32_t x, int32_t subSampleMode) {
  return x + (subSampleMode != 0 ? fpga::kHorizontalMarginReduced : fpga::kHorizontalMarginFull);
}

void CSensorBase::WriteFpgaWord(uint8_t lowRegister, uint8_t highRegister, int32_t value) {
  if (controller_ == nullptr) return;
  controller_->FpgaWriteByte(lowRegister, static_cast<uint8_t>(value));
  controller_->FpgaWriteByte(highRegister, static_cast<uint8_t>(value >> 8));
}

int CSensorBase::WriteFpgaGeometry(int32_t lineLength) {
  if (controller_ == nullptr) return 0;
  const int32_t vStart = FpgaVerticalStart(info_.windowY, info_.subSampleMode, AlternateTimingFlag() == 1);
  WriteFpgaWord(fpga::kLineLengthLow, fpga::kLineLengthHigh, lineLength);
  WriteFpgaWord(fpga::kHeightLow, fpga::kHeightHigh, info_.windowHeight);
  WriteFpgaWord(fpga::kVerticalStartLow, fpga::kVerticalStartHigh, vStart);
  WriteFpgaWord(fpga::kHorizontalStartLow, fpga::kHorizontalStartHigh, FpgaHorizontalStart(info_.windowX, info_.subSampleMode));
  return 1;
}
