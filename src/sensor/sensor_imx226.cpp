#include "sensor/sensor_imx226.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "hardware/camera_registers.h"

namespace {

// Initial values of the information block for this sensor (4168 x 3062 array, 4160 x 3056 usable,
// 4000 x 3000 delivered in full resolution).
constexpr int32_t kTotalWidth = 4168;
constexpr int32_t kTotalHeight = 3062;
constexpr int32_t kMaxWidth = 4160;
constexpr int32_t kMaxHeight = 3056;
constexpr int32_t kInitialLineLength = 2368;
constexpr int32_t kInitialFrameLines = 1582;
constexpr int32_t kGainMax = orvane::camera::imx226::kGainMax;
constexpr uint32_t kExposureLinesMin = 4;
constexpr uint32_t kExposureLinesMax = 0x0C06FFF8;
constexpr int32_t kExposureLinesDefault = orvane::camera::imx226::kDefaultExposureLines;
constexpr int32_t kExposureTimeMin = 1;       // 100 us
constexpr int32_t kExposureTimeMax = 20000;   // 2 s
constexpr int32_t kExposureTimeDefault = 281;
constexpr int32_t kSensorClockKHz = orvane::camera::imx226::kSensorClockKHz;
constexpr int32_t kVariant = 60;

// Delivered frame limits: full resolution, and the reduced (2 x 2 sub-sampled) mode whose native output
// is 2048 x 1080; any other reduced request is halved.
constexpr int32_t kFullWidthLimit = 4000;
constexpr int32_t kFullHeightLimit = 3000;
constexpr int32_t kReducedNativeWidth = 2048;
constexpr int32_t kReducedNativeHeight = 1080;
constexpr int32_t kFrameLinesMargin = 46;
constexpr uint32_t kWindowSettleMs = 100;

namespace fpga = orvane::camera::fpga;
namespace reg = orvane::camera::imx226;

// Timing model per readout mode: lines per frame period, 72 MHz clocks per line and the clock offset of
// the exposure conversion.
struct ReadoutTiming {
  int32_t framePeriodLines;
  int32_t clocksPerLine;
  int32_t clockOffset;
};
constexpr ReadoutTiming kFullTiming{reg::kFullPeriodLines, reg::kFullLineClocks, 201};
constexpr ReadoutTiming kReducedTiming{reg::kReducedPeriodLines, reg::kReducedLineClocks, 149};

const ReadoutTiming& TimingFor(int32_t subSampleMode) {
  return subSampleMode != 0 ? kReducedTiming : kFullTiming;
}

// Values of the FPGA receiver's line-timing registers (fpga::kReceiverTiming, in that order) per mode.
struct ModeValues {
  uint8_t full;
  uint8_t reduced;
};
constexpr std::array<ModeValues, fpga::kReceiverTiming.size()> kReceiverTimingValues{
    {{0x07, 0xA8}, {0x0C, 0x08}, {0x39, 0x10}, {0x03, 0x02}}};

// Readout mode registers, written after the FPGA window.
struct SensorModeValue {
  uint16_t address;
  uint8_t full;
  uint8_t reduced;
};
constexpr std::array<SensorModeValue, 4> kReadoutMode{{{reg::kDriveMode, 0x11, 0x33},
                                                       {reg::kSubSampling, 0x00, 0x89},
                                                       {reg::kOutputSetting, 0x07, 0x4D},
                                                       {reg::kAdcSetting, 0x47, 0x67}}};

// Gain-dependent compensation pair (C1, C2) of the reduced mode; full resolution always uses (60, 59).
struct GainCompensation {
  int32_t maxGain;
  int32_t c1;
  int32_t c2;
};
constexpr GainCompensation kFullGainCompensation{kGainMax, 60, 59};
constexpr std::array<GainCompensation, 6> kReducedGainCompensation{
    {{326, 30, 29}, {1024, 32, 31}, {1324, 37, 36}, {1686, 39, 38}, {1867, 43, 42}, {1957, 47, 46}}};

// Line-length setting of the bit-depth operation: 16-bit and 8-bit output.
constexpr int32_t kLineLength16 = 858;
constexpr int32_t kLineLength8 = 444;

constexpr int kReadRetries = 30;

bool IsMultiple(int32_t value, int32_t step) { return value >= 0 && value % step == 0; }

uint8_t Low(int32_t v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t High(int32_t v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }

template <typename T>
int Report(T* out, T value) {
  if (out == nullptr) return 0;
  *out = value;
  return 1;
}

}  // namespace

CSensorIMX226::CSensorIMX226(CControllerBase* controller, uint8_t i2cAddress) {
  controller_ = controller;
  i2cAddress_ = i2cAddress;
  info_ = SensorInfo{};
  info_.totalWidth = kTotalWidth;
  info_.totalHeight = kTotalHeight;
  info_.maxWidth = kMaxWidth;
  info_.maxHeight = kMaxHeight;
  info_.windowWidth = kMaxWidth;
  info_.windowHeight = kMaxHeight;
  info_.lineLength = kInitialLineLength;
  info_.frameLines = kInitialFrameLines;
  info_.gainMax = kGainMax;
  info_.gainGroupWord = 1;
  info_.exposureLinesMin = kExposureLinesMin;
  info_.exposureLinesMax = kExposureLinesMax;
  info_.exposureLines = kExposureLinesDefault;
  info_.exposureLinesDefault = kExposureLinesDefault;
  info_.exposureLinesGroupWord = 1;
  info_.exposureTimeMin = kExposureTimeMin;
  info_.exposureTimeMax = kExposureTimeMax;
  info_.exposureTime = kExposureTimeDefault;
  info_.exposureTimeDefault = kExposureTimeDefault;
  info_.mirrorVSupported = 1;
  info_.sensorClockKHz = kSensorClockKHz;
  info_.clockWord = 4;
  variant_ = kVariant;
}

bool CSensorIMX226::IsReady() { return true; }

bool CSensorIMX226::ApplyDefaults() {
  SetGlobalGain(info_.gainDefault);
  SetExposureLines(info_.exposureLinesDefault);
  SetMirrorH(info_.mirrorHDefault);
  SetMirrorV(info_.mirrorVDefault);
  SetWindow(info_.defaultX, info_.maxWidth, info_.defaultY, info_.maxHeight, 0);
  return true;
}

bool CSensorIMX226::SetWindow(int32_t x, int32_t width, int32_t y, int32_t height, int32_t mode) {
  // A window of no pixels would give frames of no bytes; refused like a misaligned one.
  if (width <= 0 || height <= 0) return false;
  const bool reduced = mode != 0;
  if (!reduced) {
    if (!IsMultiple(x, 8) || !IsMultiple(width, 8) || !IsMultiple(y, 2) || !IsMultiple(height, 2)) return false;
    width = std::min(width, kFullWidthLimit);
    height = std::min(height, kFullHeightLimit);
  } else {
    if (mode != 1 && mode != 17) return false;
    if (!IsMultiple(x, 8) || !IsMultiple(width, 8) || !IsMultiple(y, 4) || !IsMultiple(height, 4)) return false;
    if (!(width == kReducedNativeWidth && height == kReducedNativeHeight)) {
      width = std::min(width, kReducedNativeWidth);
      height = std::min(height, kReducedNativeHeight);
      if (width != kReducedNativeWidth) width /= 2;
      if (height != kReducedNativeHeight) height /= 2;
    }
  }

  if (controller_ != nullptr) {
    WriteFpgaWord(fpga::kHeightLow, fpga::kHeightHigh, height);
    WriteFpgaWord(fpga::kLineLengthLow, fpga::kLineLengthHigh, width);
    for (size_t i = 0; i < fpga::kReceiverTiming.size(); ++i) {
      controller_->FpgaWriteByte(fpga::kReceiverTiming[i],
                                 reduced ? kReceiverTimingValues[i].reduced : kReceiverTimingValues[i].full);
    }
    WriteFpgaWord(fpga::kVerticalStartLow, fpga::kVerticalStartHigh, FpgaVerticalStart(y, mode, info_.mirrorV != 0));
    WriteFpgaWord(fpga::kHorizontalStartLow, fpga::kHorizontalStartHigh, FpgaHorizontalStart(x, mode));
    controller_->FpgaWriteByte(fpga::kFullResolution, reduced ? 0 : 1);
    for (const auto& r : kReadoutMode) WriteRegister(r.address, reduced ? r.reduced : r.full);
    Sleep(kWindowSettleMs);
  }

  info_.windowX = x;
  info_.windowY = y;
  info_.windowWidth = width;
  info_.windowHeight = height;
  info_.frameLines = height + kFrameLinesMargin;
  info_.subSampleMode = mode;
  return true;
}

bool CSensorIMX226::GetWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height, int32_t* mode) {
  if (x) *x = info_.windowX;
  if (width) *width = info_.windowWidth;
  if (y) *y = info_.windowY;
  if (height) *height = info_.windowHeight;
  if (mode) *mode = info_.subSampleMode;
  return true;
}

bool CSensorIMX226::SetBitDepth(int32_t mode) {
  const int32_t value = mode == 1 ? kLineLength16 : kLineLength8;
  WriteRegister(reg::kLineLengthLow, Low(value));
  WriteRegister(reg::kLineLengthHigh, High(value));
  info_.lineLength = value * 16 / 3;
  info_.bitsPerPixel = mode != 0 ? 16 : 8;
  SetWindow(info_.windowX, info_.windowWidth, info_.windowY, info_.windowHeight, info_.subSampleMode);
  return true;
}

bool CSensorIMX226::SetExposureLines(int32_t lines) {
  // Unsigned limits: the line count is a 32-bit register quantity.
  uint32_t l = static_cast<uint32_t>(lines);
  l = std::max(l, info_.exposureLinesMin);
  l = std::min(l, info_.exposureLinesMax);
  const int64_t period = TimingFor(info_.subSampleMode).framePeriodLines;
  // N lives in a 16-bit register pair: 65535 periods with the shortest shutter start (8) are the longest
  // exposure it can express, 65536 P - 8 lines (exactly exposureLinesMax in full resolution). Longer
  // requests are limited to it, and at that length N = trunc((L + 8) / P) would be 65536 and wrap to 0,
  // so N is held at 65535 (S = 8 then, the same exposure).
  constexpr int64_t kMaxPeriods = 0xFFFF;
  l = static_cast<uint32_t>(std::min<int64_t>(l, period * (kMaxPeriods + 1) - 8));
  const int64_t lineCount = l;
  // A long exposure spans N whole frame periods plus a shutter start S within the last one; S stays
  // between 8 and P + 8.
  int64_t periods = 0;
  int64_t shutter = period - lineCount;
  if (lineCount > period - 8) {
    const double n = std::trunc(static_cast<double>(lineCount + 8) / static_cast<double>(period));
    periods = std::min(n < 0 ? 0 : static_cast<int64_t>(n), kMaxPeriods);
    shutter = period * (periods + 1) - lineCount;
  }
  WriteRegister(reg::kPeriodsLow, static_cast<uint8_t>(periods & 0xFF));
  WriteRegister(reg::kPeriodsHigh, static_cast<uint8_t>((periods >> 8) & 0xFF));
  WriteRegister(reg::kShutterLow, static_cast<uint8_t>(shutter & 0xFF));
  if (WriteRegister(reg::kShutterHigh, static_cast<uint8_t>((shutter >> 8) & 0xFF)) == 0) return false;
  info_.exposureLines = static_cast<int32_t>(l);
  return true;
}

bool CSensorIMX226::GetExposureLines(int32_t* lines) { return Report(lines, info_.exposureLines); }
bool CSensorIMX226::GetExposureLinesMin(int32_t* lines) {
  return Report(lines, static_cast<int32_t>(info_.exposureLinesMin));
}
bool CSensorIMX226::GetExposureLinesMax(int32_t* lines) {
  return Report(lines, static_cast<int32_t>(info_.exposureLinesMax));
}
bool CSensorIMX226::GetExposureLinesDefault(int32_t* lines) { return Report(lines, info_.exposureLinesDefault); }

bool CSensorIMX226::SetGlobalGain(int32_t code) {
  const int32_t gain =
      static_cast<int32_t>(std::min(static_cast<uint32_t>(code), static_cast<uint32_t>(info_.gainMax)));
  GainCompensation comp = kFullGainCompensation;
  if (info_.subSampleMode != 0) {
    for (const auto& row : kReducedGainCompensation) {
      if (gain <= row.maxGain) {
        comp = row;
        break;
      }
    }
  }
  if (!WriteRegister(reg::kGainLow, Low(gain))) return false;
  WriteRegister(reg::kGainHigh, static_cast<uint8_t>((gain >> 8) & 7));
  info_.gain = gain;
  WriteRegister(reg::kGainCompensationALow, Low(comp.c1));
  WriteRegister(reg::kGainCompensationAHigh, static_cast<uint8_t>((comp.c1 >> 8) & 1));
  WriteRegister(reg::kGainCompensationBLow, Low(comp.c2));
  WriteRegister(reg::kGainCompensationBHigh, static_cast<uint8_t>((comp.c2 >> 8) & 1));
  return true;
}

bool CSensorIMX226::GetGlobalGain(int32_t* code) { return Report(code, info_.gain); }
bool CSensorIMX226::GetGlobalGainMin(int32_t* code) { return Report(code, info_.gainMin); }
bool CSensorIMX226::GetGlobalGainMax(int32_t* code) { return Report(code, info_.gainMax); }
bool CSensorIMX226::GetGlobalGainDefault(int32_t* code) { return Report(code, info_.gainDefault); }

bool CSensorIMX226::GetColorGainMin(int32_t* value) { return Report(value, info_.colorGainMin); }
bool CSensorIMX226::GetColorGainMax(int32_t* value) { return Report(value, info_.colorGainMax); }
bool CSensorIMX226::GetColorGainDefault(int32_t* value) { return Report(value, info_.colorGainDefault); }

bool CSensorIMX226::SetExposureTime(int32_t time) {
  // time is in 100 us; 72000 x time / 10 is the number of 72 MHz clocks it lasts.
  const ReadoutTiming& timing = TimingFor(info_.subSampleMode);
  const double clocks = static_cast<double>(info_.sensorClockKHz) * static_cast<double>(time);
  double lines = std::trunc(((clocks - timing.clockOffset) / timing.clocksPerLine) / 10.0);
  // A non-positive time is the shortest exposure, not (through the unsigned line limits) the longest.
  lines = std::clamp(lines, 0.0, static_cast<double>(std::numeric_limits<int32_t>::max()));
  if (!SetExposureLines(static_cast<int32_t>(lines))) return false;
  info_.exposureTime = time;
  return true;
}

bool CSensorIMX226::GetExposureTime(int32_t* time) { return Report(time, info_.exposureTime); }
bool CSensorIMX226::GetExposureTimeMin(int32_t* time) { return Report(time, info_.exposureTimeMin); }
bool CSensorIMX226::GetExposureTimeMax(int32_t* time) { return Report(time, info_.exposureTimeMax); }
bool CSensorIMX226::GetExposureTimeDefault(int32_t* time) { return Report(time, info_.exposureTimeDefault); }

bool CSensorIMX226::SetMirrorV(int32_t flag) {
  if (!WriteRegisterChecked(reg::kMirrorV, flag)) return false;
  WriteFpgaWord(fpga::kVerticalStartLow, fpga::kVerticalStartHigh,
                FpgaVerticalStart(info_.windowY, info_.subSampleMode, flag != 0));
  info_.mirrorV = flag;
  return true;
}

bool CSensorIMX226::GetMirrorV(int32_t* flag) { return Report(flag, info_.mirrorV); }

bool CSensorIMX226::SetMirrorH(int32_t flag) {
  info_.mirrorH = flag;
  return false;
}

bool CSensorIMX226::GetMirrorH(int32_t* flag) { return Report(flag, info_.mirrorH); }

bool CSensorIMX226::WriteRegister(int32_t address, int32_t value) {
  if (controller_ == nullptr) return false;
  const uint8_t bytes[3] = {High(address), Low(address), Low(value)};
  std::lock_guard<std::mutex> lock(registerLock_);
  return controller_->I2cWrite(i2cAddress_, bytes, 3);
}

bool CSensorIMX226::ReadRegister(int32_t address, int32_t* value) {
  if (controller_ == nullptr || value == nullptr) return false;
  const uint8_t bytes[2] = {High(address), Low(address)};
  uint8_t data = 0;
  std::lock_guard<std::mutex> lock(registerLock_);
  if (!controller_->I2cWrite(i2cAddress_, bytes, 2)) return false;
  if (!controller_->I2cRead(i2cAddress_, &data, 1)) return false;
  *value = data;
  return true;
}

bool CSensorIMX226::WriteRegisterChecked(int32_t address, int32_t value) {
  return WriteRegister(address, value);
}

bool CSensorIMX226::ReadRegisterRetry(int32_t address, int32_t* value) {
  if (value == nullptr) return false;
  for (int attempt = 0; attempt < kReadRetries; ++attempt) {
    int32_t v = 0;
    if (ReadRegister(address, &v)) {
      *value = v;
      return true;
    }
  }
  return false;
}

bool CSensorIMX226::AlternateTimingFlag() { return info_.mirrorV != 0; }
