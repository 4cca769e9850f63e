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
bool CSensorBase::IsReady() { return false; }
bool CSensorBase::ApplyDefaults() { return false; }

bool CSensorBase::SetWindow(int32_t, int32_t, int32_t, int32_t, int32_t) { return false; }
bool CSensorBase::GetWindow(int32_t*, int32_t*, int32_t*, int32_t*, int32_t*) { return false; }
bool CSensorBase::SetBitDepth(int32_t) { return false; }

bool CSensorBase::SetExposureLines(int32_t) { return false; }
bool CSensorBase::GetExposureLines(int32_t*) { return false; }
bool CSensorBase::GetExposureLinesMin(int32_t*) { return false; }
bool CSensorBase::GetExposureLinesMax(int32_t*) { return false; }
bool CSensorBase::GetExposureLinesDefault(int32_t*) { return false; }

bool CSensorBase::SetGlobalGain(int32_t) { return false; }
bool CSensorBase::GetGlobalGain(int32_t*) { return false; }
bool CSensorBase::GetGlobalGainMin(int32_t*) { return false; }
bool CSensorBase::GetGlobalGainMax(int32_t*) { return false; }
bool CSensorBase::GetGlobalGainDefault(int32_t*) { return false; }

bool CSensorBase::SetColorGainRed(int32_t) { return false; }
bool CSensorBase::GetColorGainRed(int32_t*) { return false; }
bool CSensorBase::SetColorGainGreen1(int32_t) { return false; }
bool CSensorBase::GetColorGainGreen1(int32_t*) { return false; }
bool CSensorBase::SetColorGainGreen2(int32_t) { return false; }
bool CSensorBase::GetColorGainGreen2(int32_t*) { return false; }
bool CSensorBase::SetColorGainBlue(int32_t) { return false; }
bool CSensorBase::GetColorGainBlue(int32_t*) { return false; }
bool CSensorBase::GetColorGainMin(int32_t*) { return false; }
bool CSensorBase::GetColorGainMax(int32_t*) { return false; }
bool CSensorBase::GetColorGainDefault(int32_t*) { return false; }

bool CSensorBase::HasBlackLevel() { return info_.hasBlackLevel; }
bool CSensorBase::SetBlackLevel(int32_t) { return false; }
bool CSensorBase::GetBlackLevel(int32_t* value) { return WriteOut(value, info_.blackLevel, info_.hasBlackLevel); }
bool CSensorBase::GetBlackLevelMin(int32_t* value) {
  return WriteOut(value, info_.blackLevelMin, info_.hasBlackLevel);
}
bool CSensorBase::GetBlackLevelMax(int32_t* value) {
  return WriteOut(value, info_.blackLevelMax, info_.hasBlackLevel);
}
bool CSensorBase::GetBlackLevelDefault(int32_t* value) {
  return WriteOut(value, info_.blackLevelDefault, info_.hasBlackLevel);
}

bool CSensorBase::SetExposureTime(int32_t) { return false; }
bool CSensorBase::GetExposureTime(int32_t*) { return false; }
bool CSensorBase::GetExposureTimeMin(int32_t*) { return false; }
bool CSensorBase::GetExposureTimeMax(int32_t*) { return false; }
bool CSensorBase::GetExposureTimeDefault(int32_t*) { return false; }

bool CSensorBase::SetMirrorV(int32_t) { return false; }
bool CSensorBase::GetMirrorV(int32_t*) { return false; }
bool CSensorBase::SetMirrorH(int32_t) { return false; }
bool CSensorBase::GetMirrorH(int32_t*) { return false; }
int CSensorBase::GetMirrorVDefault() { return info_.mirrorVDefault; }
int CSensorBase::GetMirrorHDefault() { return info_.mirrorHDefault; }
bool CSensorBase::HasMirrorV() { return info_.mirrorVSupported; }
bool CSensorBase::HasMirrorH() { return info_.mirrorHSupported; }

bool CSensorBase::WriteRegister(int32_t, int32_t) { return false; }
bool CSensorBase::ReadRegister(int32_t, int32_t*) { return false; }
bool CSensorBase::WriteRegisterChecked(int32_t, int32_t) { return false; }
bool CSensorBase::ReadRegisterRetry(int32_t, int32_t*) { return false; }

bool CSensorBase::SetReadoutMode(int32_t) { return false; }
bool CSensorBase::GetReadoutMode(int32_t*) { return false; }
bool CSensorBase::SetTriggerMode(int32_t) { return false; }

bool CSensorBase::GetSensorInfo(SensorInfo* info) {
  if (info == nullptr) return false;
  *info = info_;
  return true;
}

bool CSensorBase::IsReadoutStarted() { return false; }
bool CSensorBase::StartReadout() { return false; }
void CSensorBase::StopReadout(int) {}

bool CSensorBase::AllowsNarrowWindow() { return false; }
bool CSensorBase::AllowsLowWindow() { return false; }

bool CSensorBase::HasInternalCorrection(int32_t) { return false; }
bool CSensorBase::SetInternalCorrection(int32_t) { return false; }
bool CSensorBase::GetInternalCorrection(int32_t*) { return false; }
bool CSensorBase::HasPeltier() { return false; }
bool CSensorBase::GetPeltier(int32_t*) { return false; }
bool CSensorBase::SetPeltier(int32_t) { return false; }
bool CSensorBase::HasTemperature() { return false; }
bool CSensorBase::ReadTemperature(double*) { return false; }

bool CSensorBase::HasExposureTimeEx() { return info_.hasExposureTimeEx; }
bool CSensorBase::GetExposureTimeExMin(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeExMin, info_.hasExposureTimeEx);
}
bool CSensorBase::GetExposureTimeExMax(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeExMax, info_.hasExposureTimeEx);
}
bool CSensorBase::GetExposureTimeExDefault(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeExDefault, info_.hasExposureTimeEx);
}
bool CSensorBase::GetExposureTimeEx(double* seconds) {
  return WriteOut(seconds, info_.exposureTimeEx, info_.hasExposureTimeEx);
}
bool CSensorBase::SetExposureTimeEx(double) { return false; }

bool CSensorBase::HasShortExposureMode() { return false; }
bool CSensorBase::GetShortExposureMode(int32_t*) { return false; }
bool CSensorBase::SetShortExposureMode(int32_t) { return false; }

bool CSensorBase::HasGainMode() { return false; }
int CSensorBase::GetGainMode() { return -1; }
bool CSensorBase::SetGainMode(int32_t) { return false; }

int CSensorBase::GetOrientation() { return -1; }

bool CSensorBase::AllowsGray8AndBgrx() { return true; }
bool CSensorBase::AllowsGray16() { return true; }
bool CSensorBase::AllowsColorModes() { return true; }

bool CSensorBase::SetSamplingRate(int32_t, int32_t*) { return false; }
void CSensorBase::PreparePreview() {}
bool CSensorBase::HasPreviewResetSetting() { return false; }
bool CSensorBase::GetPreviewResetSetting(int32_t*) { return false; }
bool CSensorBase::SetPreviewResetSetting(int32_t) { return false; }

bool CSensorBase::AlternateTimingFlag() { return false; }

bool CSensorBase::RearmReadout() {
  if (rearmEnabled_ == 0) return true;
  if (controller_ == nullptr) return false;
  orvane::platform::TimerResolution resolution;
  const uint8_t reg = variant_ == kVariantWithAltRearm ? fpga::kFrameRestartVariant103 : fpga::kFrameRestart;
  controller_->FpgaWriteByte(reg, 1);
  Sleep(kRearmPulseMs);
  controller_->FpgaWriteByte(reg, 0);
  Sleep(kRearmPulseMs);
  return true;
}

bool CSensorBase::PulseFpgaStartup() {
  if (controller_ == nullptr) return false;
  orvane::platform::TimerResolution resolution;
  uint8_t value = 0;
  if (!controller_->FpgaReadByte(fpga::kStartup, &value)) return false;
  const uint8_t low = static_cast<uint8_t>(value & ~fpga::kStartupHandshake);
  const uint8_t high = static_cast<uint8_t>(value | fpga::kStartupHandshake);
  controller_->FpgaWriteByte(fpga::kStartup, low);
  Sleep(kStartupPulseMs);
  controller_->FpgaWriteByte(fpga::kStartup, high);
  Sleep(kStartupPulseMs);
  controller_->FpgaWriteByte(fpga::kStartup, low);
  return true;
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

bool CSensorBase::WriteFpgaGeometry(int32_t lineLength) {
  if (controller_ == nullptr) return false;
  const int32_t vStart = FpgaVerticalStart(info_.windowY, info_.subSampleMode, AlternateTimingFlag() == 1);
  WriteFpgaWord(fpga::kLineLengthLow, fpga::kLineLengthHigh, lineLength);
  WriteFpgaWord(fpga::kHeightLow, fpga::kHeightHigh, info_.windowHeight);
  WriteFpgaWord(fpga::kVerticalStartLow, fpga::kVerticalStartHigh, vStart);
  WriteFpgaWord(fpga::kHorizontalStartLow, fpga::kHorizontalStartHigh, FpgaHorizontalStart(info_.windowX, info_.subSampleMode));
  return true;
}
