// Settings: the filter table and its wrappers, exposure in its three units, mirrors, device options,
// registers, EEPROM, the I/O port, the defect mask and the per-frame pipeline hand-over.

#include <cmath>
#include <cstring>

#include "platform/time.h"
#include "sdk/orvane.h"

using orvane::image::DibImage;

namespace {

constexpr int kBitsPerMode[] = {8, 16, 24, 32, 48, 64};

// The plain stored image settings of the filter table: inclusive range and where the value lives.
struct StoredFilter {
  int id;
  int min, max;
};
constexpr StoredFilter kStoredFilters[] = {
    {ORVANE_FILTER_BRIGHTNESS, -255, 255},   {ORVANE_FILTER_CONTRAST, -127, 127},
    {ORVANE_FILTER_HUE, -360, 360},          {ORVANE_FILTER_SATURATION, -255, 255},
    {ORVANE_FILTER_SHARPNESS, 0, 30},        {ORVANE_FILTER_BAYER_GAIN_RED, 0, 400},
    {ORVANE_FILTER_BAYER_GAIN_GREEN, 0, 400}, {ORVANE_FILTER_BAYER_GAIN_BLUE, 0, 400},
    {ORVANE_FILTER_GAMMA, 0, 200},           {ORVANE_FILTER_BAYER_MODE, 0, 3},
    {ORVANE_FILTER_GRAY_MODE, 0, 2},         {ORVANE_FILTER_GRAY_GAIN_R, 0, 255},
    {ORVANE_FILTER_GRAY_GAIN_G1, 0, 255},    {ORVANE_FILTER_GRAY_GAIN_G2, 0, 255},
    {ORVANE_FILTER_GRAY_GAIN_B, 0, 255},     {ORVANE_FILTER_GRAY_OFFSET_R, -255, 255},
    {ORVANE_FILTER_GRAY_OFFSET_G1, -255, 255}, {ORVANE_FILTER_GRAY_OFFSET_G2, -255, 255},
    {ORVANE_FILTER_GRAY_OFFSET_B, -255, 255}, {ORVANE_FILTER_28, 0, 1},
    {ORVANE_FILTER_DOT, 0, 1},               {ORVANE_FILTER_MASK, 0, 1},
};

const StoredFilter* FindStored(int id) {
  for (const StoredFilter& filter : kStoredFilters) {
    if (filter.id == id) return &filter;
  }
  return nullptr;
}

}  // namespace

// The automatic exposure's view of the device: every change also lands in the settings cache.
class COrvane::DeviceExposure : public orvane::image::ExposureControl {
 public:
  explicit DeviceExposure(COrvane& sdk) : sdk_(sdk) {}
  int GetGlobalGain() override { return sdk_.globalGain_; }
  int GetGlobalGainMin() override { return Query(&COrvaneR3O5Base::GetGlobalGainMin); }
  int GetGlobalGainMax() override { return Query(&COrvaneR3O5Base::GetGlobalGainMax); }
  bool SetGlobalGain(int gain) override {
    if (!sdk_.Dev()->SetGlobalGain(gain)) return false;
    sdk_.globalGain_ = sdk_.colorGainG1_ = sdk_.colorGainR_ = sdk_.colorGainB_ = sdk_.colorGainG2_ = gain;
    return true;
  }
  int GetExposure() override { return sdk_.exposure_; }
  int GetExposureMin() override { return Query(&COrvaneR3O5Base::GetExposureTimeMin); }
  int GetExposureMax() override { return Query(&COrvaneR3O5Base::GetExposureTimeMax); }
  bool SetExposure(int value) override {
    if (!sdk_.Dev()->SetExposureTime(value)) return false;
    sdk_.exposure_ = value;
    double seconds = 0;
    if (sdk_.Dev()->HasExposureTimeEx() && sdk_.Dev()->GetExposureTimeEx(&seconds)) sdk_.exposureSeconds_ = seconds;
    return true;
  }

 private:
  int Query(int (COrvaneR3O5Base::*getter)(int32_t*)) {
    int32_t value = 0;
    (sdk_.Dev().get()->*getter)(&value);
    return value;
  }
  COrvane& sdk_;
};

orvane::image::PipelineSettings COrvane::SnapshotSettings() const {
  orvane::image::PipelineSettings s;
  s.colorMode = colorMode_;
  s.brightness = brightness_;
  s.contrast = contrast_;
  s.hue = hue_;
  s.saturation = saturation_;
  s.sharpness = sharpness_;
  s.gamma = gamma_;
  s.bayerPhase = bayerMode_;
  s.bayerGainRed = bayerGainRed_;
  s.bayerGainGreen = bayerGainGreen_;
  s.bayerGainBlue = bayerGainBlue_;
  s.autoWhiteBalance = bayerGainAuto_;
  s.whiteBalanceOnce[0] = whiteBalanceOnce_[0];
  s.whiteBalanceOnce[1] = whiteBalanceOnce_[1];
  s.grayMode = grayMode_;
  for (int i = 0; i < 4; ++i) {
    s.grayGain[i] = grayGain_[i];
    s.grayOffset[i] = grayOffset_[i];
  }
  s.autoGrayBalance = autoGrayBalance_;
  s.mirrorV = mirrorV_;
  s.mirrorH = mirrorH_;
  s.hardwareMirrorV = hardwareMirrorV_;
  s.hardwareMirrorH = hardwareMirrorH_;
  s.maskFilter = maskFilter_;
  s.dotFilter = dotFilter_;
  s.autoIris = autoIris_;
  s.offsetX = ehs_;
  s.offsetY = evs_;
  return s;
}

void COrvane::ConvertFrame(int mode) {
  orvane::image::PipelineSettings settings = SnapshotSettings();
  settings.colorMode = mode;
  orvane::image::PipelineImages images{&image8_, &image16_, &image24_, &image32_, &image48_, &image64_};
  orvane::image::PipelineUpdates updates;
  DeviceExposure exposure(*this);
  pipeline_->Run(settings, images, &mask_, settings.autoIris != 0 ? &exposure : nullptr, &updates);
  if (updates.whiteBalanceMeasured) {
    bayerGainRed_ = updates.bayerGainRed;
    bayerGainGreen_ = updates.bayerGainGreen;
    bayerGainBlue_ = updates.bayerGainBlue;
  }
  if (updates.whiteBalanceFinished) {
    bayerGainAuto_ = 0;
    whiteBalanceOnce_[0] = whiteBalanceOnce_[1] = 0;
  }
  if (updates.grayBalanceMeasured) {
    for (int i = 0; i < 4; ++i) grayGain_[i] = updates.grayGain[i];
    autoGrayBalance_ = 0;
  }
}

// ---- Filter values -------------------------------------------------------------------------------

namespace {
std::atomic<int>* StoredField(int id, std::atomic<int>* brightness, std::atomic<int>* contrast, std::atomic<int>* hue,
                              std::atomic<int>* saturation, std::atomic<int>* sharpness) {
  switch (id) {
    case ORVANE_FILTER_BRIGHTNESS: return brightness;
    case ORVANE_FILTER_CONTRAST: return contrast;
    case ORVANE_FILTER_HUE: return hue;
    case ORVANE_FILTER_SATURATION: return saturation;
    case ORVANE_FILTER_SHARPNESS: return sharpness;
    default: return nullptr;
  }
}
}  // namespace

int COrvane::SetFilterValue(int filterId, int value) {
  if (!RequireDevice()) return 0;
  auto refuse = [this] {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  };
  if (const StoredFilter* stored = FindStored(filterId)) {
    if (value < stored->min || value > stored->max) return refuse();
    std::atomic<int>* field = StoredField(filterId, &brightness_, &contrast_, &hue_, &saturation_, &sharpness_);
    switch (filterId) {
      case ORVANE_FILTER_BAYER_GAIN_RED: field = &bayerGainRed_; break;
      case ORVANE_FILTER_BAYER_GAIN_GREEN: field = &bayerGainGreen_; break;
      case ORVANE_FILTER_BAYER_GAIN_BLUE: field = &bayerGainBlue_; break;
      case ORVANE_FILTER_GAMMA: field = &gamma_; break;
      case ORVANE_FILTER_BAYER_MODE: field = &bayerMode_; break;
      case ORVANE_FILTER_GRAY_MODE: field = &grayMode_; break;
      case ORVANE_FILTER_28: field = &autoGrayBalance_; break;
      case ORVANE_FILTER_DOT: field = &dotFilter_; break;
      case ORVANE_FILTER_MASK: field = &maskFilter_; break;
      default:
        if (filterId >= ORVANE_FILTER_GRAY_GAIN_R && filterId <= ORVANE_FILTER_GRAY_GAIN_B) {
          field = &grayGain_[filterId - ORVANE_FILTER_GRAY_GAIN_R];
        } else if (filterId >= ORVANE_FILTER_GRAY_OFFSET_R && filterId <= ORVANE_FILTER_GRAY_OFFSET_B) {
          field = &grayOffset_[filterId - ORVANE_FILTER_GRAY_OFFSET_R];
        }
    }
    if ((filterId == ORVANE_FILTER_DOT || filterId == ORVANE_FILTER_MASK) && value == 1) {
      // The references and maps are taken when a correction is first switched on.
      std::lock_guard frame(frameLock_);
      if (!mask_.EnsureAllocated()) {
        ReportError(ORVANE_ERR_MEMORY);
        return 0;
      }
    }
    *field = value;
    return 1;
  }
  int32_t limit = 0;
  switch (filterId) {
    case ORVANE_FILTER_BAYER_GAIN_RGB:
      bayerGainRed_ = value & 0xFF;
      bayerGainGreen_ = (value >> 8) & 0xFF;
      bayerGainBlue_ = (value >> 16) & 0xFF;
      return 1;
    case ORVANE_FILTER_BAYER_GAIN_AUTO:
      bayerGainAuto_ = value != 0 ? 1 : 0;
      return 1;
    case ORVANE_FILTER_GLOBAL_GAIN:
      if (!Dev()->GetGlobalGainMin(&limit) || value < limit) return refuse();
      if (!Dev()->GetGlobalGainMax(&limit) || value > limit) return refuse();
      globalGain_ = colorGainG1_ = colorGainR_ = colorGainB_ = colorGainG2_ = value;
      return Dev()->SetGlobalGain(value);
    case ORVANE_FILTER_COLOR_GAIN_RED:
    case ORVANE_FILTER_COLOR_GAIN_GREEN1:
    case ORVANE_FILTER_COLOR_GAIN_GREEN2:
    case ORVANE_FILTER_COLOR_GAIN_BLUE: {
      if (!Dev()->GetColorGainMin(&limit) || value < limit) return refuse();
      if (!Dev()->GetColorGainMax(&limit) || value > limit) return refuse();
      if (filterId == ORVANE_FILTER_COLOR_GAIN_RED) {
        colorGainR_ = value;
        return Dev()->SetColorGainRed(value);
      }
      if (filterId == ORVANE_FILTER_COLOR_GAIN_GREEN1) {
        colorGainG1_ = value;
        return Dev()->SetColorGainGreen1(value);
      }
      if (filterId == ORVANE_FILTER_COLOR_GAIN_GREEN2) {
        colorGainG2_ = value;
        return Dev()->SetColorGainGreen2(value);
      }
      colorGainB_ = value;
      return Dev()->SetColorGainBlue(value);
    }
    case ORVANE_FILTER_EXPOSURE_TIME: {
      if (!Dev()->GetExposureTimeMin(&limit) || value < limit) return refuse();
      if (!Dev()->GetExposureTimeMax(&limit) || value > limit) return refuse();
      exposure_ = value;
      int result = Dev()->SetExposureTime(value);
      double seconds = 0;
      if (Dev()->HasExposureTimeEx() && Dev()->GetExposureTimeEx(&seconds)) exposureSeconds_ = seconds;
      return result;
    }
    case ORVANE_FILTER_PELTIER:
      if (!Dev()->HasPeltier()) {
        ReportError(ORVANE_ERR_NOT_SUPPORTED);
        return 0;
      }
      return Dev()->SetPeltier(value);
    case ORVANE_FILTER_GAIN_MODE:
      return Dev()->SetGainMode(value);
    case ORVANE_FILTER_SHORT_EXPOSURE:
      if (!Dev()->HasShortExposureMode()) {
        ReportError(ORVANE_ERR_NOT_SUPPORTED);
        return 0;
      }
      if (!Dev()->SetShortExposureMode(value > 0 ? 1 : 0)) {
        ReportError(ORVANE_ERR_DEVICE_IO);
        return 0;
      }
      return 1;
    case ORVANE_FILTER_BLACK_LEVEL:
      if (!Dev()->HasBlackLevel()) {
        ReportError(ORVANE_ERR_NOT_SUPPORTED);
        return 0;
      }
      if (!Dev()->SetBlackLevel(value)) {
        ReportError(ORVANE_ERR_DEVICE_IO);
        return 0;
      }
      blackLevel_ = value;
      ReportError(ORVANE_ERR_NONE);
      return 1;
    default:
      return refuse();
  }
}

int COrvane::GetFilterValue(int filterId, int* ok) {
  if (!HasDevice()) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (ok) *ok = 1;
  auto refuse = [&] {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  };
  if (filterId == ORVANE_FILTER_28) return refuse();  // set only
  if (FindStored(filterId) != nullptr) {
    std::atomic<int>* field = StoredField(filterId, &brightness_, &contrast_, &hue_, &saturation_, &sharpness_);
    if (field) return *field;
    switch (filterId) {
      case ORVANE_FILTER_BAYER_GAIN_RED: return bayerGainRed_;
      case ORVANE_FILTER_BAYER_GAIN_GREEN: return bayerGainGreen_;
      case ORVANE_FILTER_BAYER_GAIN_BLUE: return bayerGainBlue_;
      case ORVANE_FILTER_GAMMA: return gamma_;
      case ORVANE_FILTER_BAYER_MODE: return bayerMode_;
      case ORVANE_FILTER_GRAY_MODE: return grayMode_;
      case ORVANE_FILTER_DOT: return dotFilter_;
      case ORVANE_FILTER_MASK: return maskFilter_;
      default:
        if (filterId >= ORVANE_FILTER_GRAY_GAIN_R && filterId <= ORVANE_FILTER_GRAY_GAIN_B)
          return grayGain_[filterId - ORVANE_FILTER_GRAY_GAIN_R];
        return grayOffset_[filterId - ORVANE_FILTER_GRAY_OFFSET_R];
    }
  }
  int32_t value = 0;
  switch (filterId) {
    case ORVANE_FILTER_BAYER_GAIN_RGB:
      return (bayerGainRed_ & 0xFF) + (bayerGainGreen_ & 0xFF) * 256 + (bayerGainBlue_ & 0xFF) * 65536;
    case ORVANE_FILTER_BAYER_GAIN_AUTO: return bayerGainAuto_;
    case ORVANE_FILTER_GLOBAL_GAIN: Dev()->GetGlobalGain(&value); return value;
    case ORVANE_FILTER_COLOR_GAIN_RED: Dev()->GetColorGainRed(&value); return value;
    case ORVANE_FILTER_COLOR_GAIN_GREEN1: Dev()->GetColorGainGreen1(&value); return value;
    case ORVANE_FILTER_COLOR_GAIN_GREEN2: Dev()->GetColorGainGreen2(&value); return value;
    case ORVANE_FILTER_COLOR_GAIN_BLUE: Dev()->GetColorGainBlue(&value); return value;
    case ORVANE_FILTER_EXPOSURE_TIME: Dev()->GetExposureTime(&value); return value;
    case ORVANE_FILTER_PELTIER:
      if (!Dev()->HasPeltier()) {
        if (ok) *ok = 0;
        ReportError(ORVANE_ERR_NOT_SUPPORTED);
        return -1;
      }
      Dev()->GetPeltier(&value);
      return value;
    case ORVANE_FILTER_TEMPERATURE:
      if (ok) *ok = 0;
      ReportError(ORVANE_ERR_NOT_SUPPORTED);
      return -1;
    case ORVANE_FILTER_GAIN_MODE: return Dev()->GetGainMode();
    case ORVANE_FILTER_SHORT_EXPOSURE:
      if (!Dev()->HasShortExposureMode()) {
        if (ok) *ok = 0;
        ReportError(ORVANE_ERR_NOT_SUPPORTED);
        return 0;
      }
      if (!Dev()->GetShortExposureMode(&value)) {
        if (ok) *ok = 0;
        ReportError(ORVANE_ERR_DEVICE_IO);
        return 0;
      }
      ReportError(ORVANE_ERR_NONE);
      return value != 0 ? 1 : 0;
    case ORVANE_FILTER_BLACK_LEVEL:
      if (!Dev()->HasBlackLevel()) {
        if (ok) *ok = 0;
        ReportError(ORVANE_ERR_NOT_SUPPORTED);
        return 0;
      }
      Dev()->GetBlackLevel(&value);
      blackLevel_ = value;
      ReportError(ORVANE_ERR_NONE);
      return value;
    default:
      return refuse();
  }
}

namespace {
constexpr bool IsChannel(int channel) { return channel >= 1 && channel <= 4; }
// Channels 1-4 name filter ids 29-32 (gains) and 33-36 (offsets), which the table does not hold.
constexpr int kChannelGainBase = 28;
constexpr int kChannelOffsetBase = 32;
}  // namespace

int COrvane::SetChannelGain(int channel, int value) {
  return IsChannel(channel) ? SetFilterValue(kChannelGainBase + channel, value) : 0;
}
int COrvane::GetChannelGain(int channel, int* ok) {
  return IsChannel(channel) ? GetFilterValue(kChannelGainBase + channel, ok) : 0;
}
int COrvane::SetChannelOffset(int channel, int value) {
  return IsChannel(channel) ? SetFilterValue(kChannelOffsetBase + channel, value) : 0;
}
int COrvane::GetChannelOffset(int channel, int* ok) {
  return IsChannel(channel) ? GetFilterValue(kChannelOffsetBase + channel, ok) : 0;
}

// ---- Image format ----------------------------------------------------------------------------------

int COrvane::SetColorMode(int bitsPerPixel) {
  for (int mode = 0; mode < 6; ++mode) {
    if (kBitsPerMode[mode] != bitsPerPixel) continue;
    if (device_) {
      bool refused = (!Dev()->ColorModeQuery1() && (mode == 0 || mode == 3)) ||
                     (!Dev()->ColorModeQuery3() && mode >= 2);
      if (refused) break;
    }
    colorMode_ = mode;
    return 1;
  }
  ReportError(ORVANE_ERR_ARGUMENT);
  return 0;
}

int COrvane::GetColorMode() const {
  int mode = colorMode_;
  return mode >= 0 && mode < 6 ? kBitsPerMode[mode] : -1;
}

int COrvane::SetSubSample(int mode) {
  if (mode != 0 && mode != 17) return 0;
  subSample_ = mode;
  return 1;
}

int COrvane::GetCameraInfo(OrvaneCameraInfo* info) {
  if (!RequireDevice()) return 0;
  if (info == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  int32_t size = info->size;
  if (size < 36) {
    ReportError(ORVANE_ERR_MEMORY);
    return 0;
  }
  int32_t value = 0;
  info->maxWidth = kSensorWidth;
  info->maxHeight = kSensorHeight;
  info->globalGainMin = Dev()->GetGlobalGainMin(&value) ? value : 0;
  info->globalGainMax = Dev()->GetGlobalGainMax(&value) ? value : 0;
  info->colorGainMin = Dev()->GetColorGainMin(&value) ? value : 0;
  info->colorGainMax = Dev()->GetColorGainMax(&value) ? value : 0;
  info->exposureMin = Dev()->GetExposureTimeMin(&value) ? value : 0;
  info->exposureMax = Dev()->GetExposureTimeMax(&value) ? value : 0;
  if (size >= 56) {
    double seconds = 0;
    info->exposureTimeExMin = Dev()->GetExposureTimeExMin(&seconds) ? seconds : 0.0;
    info->exposureTimeExMax = Dev()->GetExposureTimeExMax(&seconds) ? seconds : 0.0;
  }
  return 1;
}

// ---- Exposure, mirrors and device options -----------------------------------------------------------

int COrvane::SetExposureTimeEx(double seconds) {
  if (!RequireDevice()) return 0;
  if (!Dev()->HasExposureTimeEx()) {
    ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  }
  if (!Dev()->SetExposureTimeEx(seconds)) return 0;
  exposureSeconds_ = seconds;
  // Seconds in the device unit of 100 us, rounded to the nearest (0.5 s is 5000, not 0).
  exposure_ = static_cast<int>(std::lround(seconds * 10000.0));
  return 1;
}

double COrvane::GetExposureTimeEx(int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return -1.0;
  if (!Dev()->HasExposureTimeEx()) {
    ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return -1.0;
  }
  double seconds = 0;
  int result = Dev()->GetExposureTimeEx(&seconds);
  if (ok) *ok = result;
  if (result) exposureSeconds_ = seconds;
  return seconds;
}

int COrvane::SetRealExposureTime(int microseconds) {
  if (!RequireDevice()) return 0;
  int value = static_cast<int>(microseconds / 100.0);
  int32_t min = 0, max = 0;
  Dev()->GetExposureTimeMin(&min);
  Dev()->GetExposureTimeMax(&max);
  if (value < min || value > max) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  realExposureRequest_ = value;
  exposure_ = value;
  Dev()->SetExposureTime(value & 0xFFFF);
  double seconds = 0;
  if (Dev()->HasExposureTimeEx() && Dev()->GetExposureTimeEx(&seconds)) exposureSeconds_ = seconds;
  return 1;
}

int COrvane::GetRealExposureTime(int* ok) {
  if (!HasDevice()) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  int value = exposure_ * 100;
  realExposureCache_ = value;
  if (ok) *ok = 1;
  return value;
}

double COrvane::GetTemperatureEx(int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0.0;
  if (!Dev()->HasTemperature()) {
    ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return 0.0;
  }
  double celsius = 0.0;
  int result = Dev()->ReadTemperature(&celsius);
  if (ok) *ok = result;
  ReportError(result ? ORVANE_ERR_NONE : ORVANE_ERR_CONVERSION);
  return celsius;
}

int COrvane::SetMirrorH(int on) {
  if (!RequireDevice()) return 0;
  int flag = on != 0 ? 1 : 0;
  Dev()->SetMirrorH(flag);
  mirrorH_ = flag;
  return 1;
}

int COrvane::GetMirrorH() {
  if (!RequireDevice()) return 0;
  return mirrorH_;
}

int COrvane::SetMirrorV(int on) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  int flag = on != 0 ? 1 : 0;
  Dev()->SetMirrorV(flag);
  mirrorV_ = flag;
  return 1;
}

int COrvane::GetMirrorV() {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return mirrorV_;
}

int COrvane::SetAutoIris(int mode) {
  if (mode < 0 || mode > 2) {
    NotifyError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  autoIris_ = mode;
  return 1;
}

int COrvane::GetAutoIris(int* ok) {
  if (ok) *ok = 1;
  return autoIris_;
}

int COrvane::SetInternalCorrection(int value) {
  if (!RequireDevice()) return 0;
  if (!Dev()->HasInternalCorrection()) {
    NotifyError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  }
  return Dev()->SetInternalCorrection(value);
}

int COrvane::GetInternalCorrection(int* ok) {
  if (!RequireDevice()) return 0;
  if (!Dev()->HasInternalCorrection()) {
    NotifyError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  }
  if (ok) *ok = 1;
  return Dev()->GetInternalCorrection();
}

int COrvane::SetSamplingRate(int rate) {
  if (!HasDevice()) return 0;
  int32_t value = rate;
  return Dev()->SetSamplingRate(0, 0, &value);
}

// ---- Registers, EEPROM and port ------------------------------------------------------------------------

int COrvane::ReadRegister(int address, int* ok, bool fullAddress) {
  if (!HasDevice()) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  int32_t success = 0;
  int32_t value = Dev()->ReadSensorRegister(0, fullAddress ? address : (address & 0xFF), &success);
  if (!success) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_DEVICE_IO);
    return 0;
  }
  if (ok) *ok = 1;
  return value;
}

int COrvane::WriteRegister(int address, int value, bool fullAddress) {
  if (!RequireDevice()) return 0;
  if (!Dev()->WriteSensorRegister(0, fullAddress ? address : (address & 0xFF), fullAddress ? value : (value & 0xFFFF))) {
    ReportError(ORVANE_ERR_DEVICE_IO);
    return 0;
  }
  return 1;
}

int COrvane::FpgaReadRegister(int address, int* ok) {
  if (!HasDevice()) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  int32_t success = 0;
  int32_t value = Dev()->ReadFpgaRegister(address & 0xFF, &success);
  if (ok) *ok = success ? 1 : 0;
  if (!success) {
    ReportError(ORVANE_ERR_DEVICE_IO);
    return 0;
  }
  return value & 0xFFFF;
}

int COrvane::FpgaWriteRegister(int address, int value) {
  if (!RequireDevice()) return 0;
  if (!Dev()->WriteFpgaRegister(address & 0xFF, value & 0xFFFF)) {
    ReportError(ORVANE_ERR_DEVICE_IO);
    return 0;
  }
  return 1;
}

int COrvane::ReadSromID(int address, int* ok) {
  uint8_t byte = 0;
  if (!HasDevice() || !Dev()->ReadIdentificationByte(address & 0xFFF, &byte)) {
    if (ok) *ok = 0;
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (ok) *ok = 1;
  return byte;
}

int COrvane::WriteSromID(int address, int value) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  int32_t failedReads = 0;
  int result = Dev()->WriteIdentificationByte(address & 0xFFF, static_cast<uint8_t>(value & 0xFF), &failedReads);
  if (!result) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  for (int i = 0; i < failedReads; ++i) NotifyError(ORVANE_ERR_NOT_NOW);
  return 1;
}

int COrvane::ReadSerialNumberA(char* buffer, int length) {
  if (buffer == nullptr || length < 32) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  return Dev()->ReadSerialNumber(buffer, length) ? 1 : 0;
}

int COrvane::ReadSerialNumberW(ORVANE_WCHAR* buffer, int length) {
  if (buffer == nullptr || length < 0) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  char narrow[kTextBufferSize] = {};
  if (!ReadSerialNumberA(narrow, sizeof(narrow))) return 0;
  return ConvertResult(narrow, buffer, length) ? 1 : 0;
}

int COrvane::GetIOPort(unsigned char* value) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  int32_t success = 0;
  int32_t port = value != nullptr ? Dev()->ReadFpgaRegister(7, &success) : 0;
  if (!success) {
    NotifyError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  *value = static_cast<unsigned char>(port);
  return 1;
}

int COrvane::SetIOPort(int value) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return Dev()->WriteFpgaRegister(7, value & 0xFF);
}

// ---- Image files, defect mask, dialogs -----------------------------------------------------------------

int COrvane::SaveImageW(const ORVANE_WCHAR* fileName, int type) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return SaveImage(narrow.data(), type);
}

int COrvane::LoadMaskFile(const char* fileName) {
  if (!RequireDevice()) return 0;
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::lock_guard frame(frameLock_);
  if (mask_.Load(fileName) != orvane::image::MaskStatus::kOk) {
    ReportError(ORVANE_ERR_MASK_FILE);
    return 0;
  }
  return 1;
}

int COrvane::LoadMaskFileW(const ORVANE_WCHAR* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return LoadMaskFile(narrow.data());
}

int COrvane::SaveMaskFile(const char* fileName) {
  if (!RequireDevice()) return 0;
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::lock_guard frame(frameLock_);
  if (mask_.Save(fileName) != orvane::image::MaskStatus::kOk) {
    ReportError(ORVANE_ERR_MASK_FILE);
    return 0;
  }
  return 1;
}

int COrvane::SaveMaskFileW(const ORVANE_WCHAR* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return SaveMaskFile(narrow.data());
}

int COrvane::UpdateMaskData(int which) {
  if (!RequireDevice()) return 0;
  std::lock_guard frame(frameLock_);
  const int mode = ActiveMode();
  const DibImage& raw = (mode == 1 || mode >= 4) ? image16_ : image8_;
  if (!raw.Valid() || mask_.Capture(raw, which) != orvane::image::MaskStatus::kOk) {
    ReportError(ORVANE_ERR_CONVERSION);
    return 0;
  }
  return 1;
}

int COrvane::OpenDialog(orvane::ui::Dialog, HWND) {
  if (!RequireDevice()) return 0;
  if (!orvane::ui::DialogsAvailable()) {
    ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  }
  // The dialogs are not part of this build.
  ReportError(ORVANE_ERR_NOT_SUPPORTED);
  return 0;
}
