// Settings: the filter exports and their wrappers, exposure in its three units, mirrors, device
// options, registers, EEPROM, the I/O port, the defect mask and the per-frame pipeline hand-over. The
// filter values themselves live in the image and device settings parts (src/settings/); this file
// forwards to them and turns their outcomes into the exports' results.

#include "sdk/orvane.h"

using orvane::image::DibImage;

using orvane::settings::SettingStatus;

int COrvane::Finish(SettingStatus status) {
  switch (status) {
    case SettingStatus::kOk: return 1;
    case SettingStatus::kOkRecorded: ReportError(ORVANE_ERR_NONE); return 1;
    case SettingStatus::kDeviceRefused: return 0;
    case SettingStatus::kArgument: ReportError(ORVANE_ERR_ARGUMENT); return 0;
    case SettingStatus::kNotSupported: ReportError(ORVANE_ERR_NOT_SUPPORTED); return 0;
    case SettingStatus::kDeviceIo: ReportError(ORVANE_ERR_DEVICE_IO); return 0;
  }
  return 0;
}

// The automatic exposure's view of the device: every step goes through the device settings, which
// cache it and announce it.
class COrvane::DeviceExposure : public orvane::image::ExposureControl {
 public:
  explicit DeviceExposure(COrvane& sdk) : sdk_(sdk) {}
  int GetGlobalGain() override { return sdk_.deviceSettings_.GlobalGain(); }
  int GetGlobalGainMin() override { return Query(&COrvaneR3O5Base::GetGlobalGainMin); }
  int GetGlobalGainMax() override { return Query(&COrvaneR3O5Base::GetGlobalGainMax); }
  bool SetGlobalGain(int gain) override {
    DeviceAccess device = sdk_.Dev();
    return sdk_.deviceSettings_.ApplyAutomaticGain(*device.get(), gain);
  }
  int GetExposure() override { return sdk_.deviceSettings_.Exposure(); }
  int GetExposureMin() override { return Query(&COrvaneR3O5Base::GetExposureTimeMin); }
  int GetExposureMax() override { return Query(&COrvaneR3O5Base::GetExposureTimeMax); }
  bool SetExposure(int value) override {
    DeviceAccess device = sdk_.Dev();
    return sdk_.deviceSettings_.ApplyAutomaticExposure(*device.get(), value);
  }

 private:
  int Query(bool (COrvaneR3O5Base::*getter)(int32_t*)) {
    int32_t value = 0;
    (sdk_.Dev().get()->*getter)(&value);
    return value;
  }
  COrvane& sdk_;
};

orvane::image::PipelineSettings COrvane::SnapshotSettings() const {
  orvane::image::PipelineSettings s;
  s.colorMode = colorMode_;
  imageSettings_.Snapshot(s);
  deviceSettings_.SnapshotMirrors(s);
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
  imageSettings_.StoreFrameUpdates(updates);
}

// ---- Filter values -------------------------------------------------------------------------------

int COrvane::SetFilterValue(int filterId, int value) {
  if (!RequireDevice()) return 0;
  const orvane::settings::FilterRow* row = orvane::settings::FindFilter(filterId);
  if (row == nullptr) return Finish(SettingStatus::kArgument);
  if (orvane::settings::AnsweredByImageSettings(row->kind)) {
    if ((filterId == ORVANE_FILTER_DOT || filterId == ORVANE_FILTER_MASK) && value == 1) {
      // The references and maps are taken when a correction is first switched on.
      orvane::platform::MutexLock frame(frameLock_);
      if (!mask_.EnsureAllocated()) {
        ReportError(ORVANE_ERR_MEMORY);
        return 0;
      }
    }
    return Finish(imageSettings_.Set(filterId, value));
  }
  DeviceAccess device = Dev();
  return Finish(deviceSettings_.Set(*device.get(), filterId, value));
}

int COrvane::GetFilterValue(int filterId, int* ok) {
  if (!HasDevice()) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  const orvane::settings::FilterRow* row = orvane::settings::FindFilter(filterId);
  int32_t value = 0;
  SettingStatus status = SettingStatus::kArgument;
  if (row != nullptr && orvane::settings::AnsweredByImageSettings(row->kind)) {
    status = imageSettings_.Get(filterId, &value);
  } else if (row != nullptr) {
    DeviceAccess device = Dev();
    status = deviceSettings_.Get(*device.get(), filterId, &value);
  }
  if (ok) *ok = orvane::settings::Succeeded(status) ? 1 : 0;
  Finish(status);
  return value;  // the getter's value on every outcome (-1 for an unsupported Peltier or temperature)
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
    if (orvane::image::BitsOfColorMode(mode) != bitsPerPixel) continue;
    if (device_) {
      const bool grayAndBgrx = Dev()->AllowsGray8AndBgrx() != 0;
      const bool colour = Dev()->AllowsColorModes() != 0;
      const bool refused = (!grayAndBgrx && (mode == 0 || mode == 3)) || (!colour && mode >= 2);
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
  return mode >= 0 && mode < 6 ? orvane::image::BitsOfColorMode(mode) : -1;
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
  DeviceAccess device = Dev();
  return Finish(deviceSettings_.SetExposureSeconds(*device.get(), seconds));
}

double COrvane::GetExposureTimeEx(int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return -1.0;
  double seconds = 0;
  SettingStatus status;
  {
    DeviceAccess device = Dev();
    status = deviceSettings_.ReadExposureSeconds(*device.get(), &seconds);
  }
  if (ok) *ok = orvane::settings::Succeeded(status) ? 1 : 0;
  Finish(status);
  return seconds;
}

int COrvane::SetRealExposureTime(int microseconds) {
  if (!RequireDevice()) return 0;
  DeviceAccess device = Dev();
  return Finish(deviceSettings_.SetRealExposure(*device.get(), microseconds));
}

int COrvane::GetRealExposureTime(int* ok) {
  if (!HasDevice()) {
    if (ok) *ok = 0;
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (ok) *ok = 1;
  return deviceSettings_.RealExposure();
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
  DeviceAccess device = Dev();
  deviceSettings_.SetMirror(*device.get(), false, on);
  return 1;
}

int COrvane::GetMirrorH() {
  if (!RequireDevice()) return 0;
  return deviceSettings_.Mirror(false);
}

int COrvane::SetMirrorV(int on) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  DeviceAccess device = Dev();
  deviceSettings_.SetMirror(*device.get(), true, on);
  return 1;
}

int COrvane::GetMirrorV() {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return deviceSettings_.Mirror(true);
}

int COrvane::SetAutoIris(int mode) {
  if (imageSettings_.SetAutoIris(mode) != SettingStatus::kOk) {
    NotifyError(ORVANE_ERR_ARGUMENT);  // notify-only, unlike the filter values
    return 0;
  }
  return 1;
}

int COrvane::GetAutoIris(int* ok) {
  if (ok) *ok = 1;
  return imageSettings_.AutoIris();
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
  orvane::platform::MutexLock frame(frameLock_);
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
  orvane::platform::MutexLock frame(frameLock_);
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
  orvane::platform::MutexLock frame(frameLock_);
  const int mode = ActiveMode();
  const DibImage& raw = (mode == 1 || mode >= 4) ? image16_ : image8_;
  if (!raw.Valid() || mask_.Capture(raw, which) != orvane::image::MaskStatus::kOk) {
    ReportError(ORVANE_ERR_CONVERSION);
    return 0;
  }
  return 1;
}

bool COrvane::QueryDevice(bool (COrvaneR3O5Base::*query)()) {
  if (!HasDevice()) return false;
  DeviceAccess device = Dev();
  return (device.get()->*query)();
}
