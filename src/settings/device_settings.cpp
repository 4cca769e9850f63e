#include "settings/device_settings.h"

#include <cmath>

namespace orvane::settings {

namespace {

// The colour-gain rows with their cache field and device setter.
struct ColorGain {
  int id;
  int32_t AnalogSettings::*member;
  bool (COrvaneR3O5Base::*set)(int32_t);
  bool (COrvaneR3O5Base::*get)(int32_t*);
};
constexpr ColorGain kColorGains[] = {
    {ORVANE_FILTER_COLOR_GAIN_RED, &AnalogSettings::colorR, &COrvaneR3O5Base::SetColorGainRed,
     &COrvaneR3O5Base::GetColorGainRed},
    {ORVANE_FILTER_COLOR_GAIN_GREEN1, &AnalogSettings::colorG1, &COrvaneR3O5Base::SetColorGainGreen1,
     &COrvaneR3O5Base::GetColorGainGreen1},
    {ORVANE_FILTER_COLOR_GAIN_GREEN2, &AnalogSettings::colorG2, &COrvaneR3O5Base::SetColorGainGreen2,
     &COrvaneR3O5Base::GetColorGainGreen2},
    {ORVANE_FILTER_COLOR_GAIN_BLUE, &AnalogSettings::colorB, &COrvaneR3O5Base::SetColorGainBlue,
     &COrvaneR3O5Base::GetColorGainBlue},
};

const ColorGain* FindColorGain(int id) {
  for (const ColorGain& gain : kColorGains) {
    if (gain.id == id) return &gain;
  }
  return nullptr;
}

// The device's inclusive range from its two queries; false when either fails.
bool DeviceRange(COrvaneR3O5Base& device, bool (COrvaneR3O5Base::*min)(int32_t*),
                 bool (COrvaneR3O5Base::*max)(int32_t*), Range* range) {
  return (device.*min)(&range->min) && (device.*max)(&range->max);
}

// The device's minimum is asked first; its maximum only when the value is not below it.
bool WithinDeviceRange(COrvaneR3O5Base& device, bool (COrvaneR3O5Base::*min)(int32_t*),
                       bool (COrvaneR3O5Base::*max)(int32_t*), int32_t value) {
  int32_t limit = 0;
  if (!(device.*min)(&limit) || value < limit) return false;
  return (device.*max)(&limit) && value <= limit;
}

SettingStatus DeviceResult(int result) { return result ? SettingStatus::kOk : SettingStatus::kDeviceRefused; }

}  // namespace

void DeviceSettings::Assign(int32_t AnalogSettings::*member, int32_t value, int setting, Changes& changes) {
  if (cache_.*member == value) return;
  cache_.*member = value;
  changes.Add(setting);
}

void DeviceSettings::AssignSeconds(double seconds, Changes& changes) {
  if (cache_.exposureEx == seconds) return;
  cache_.exposureEx = seconds;
  changes.Add(kExposureSecondsSetting);
}

void DeviceSettings::ReadBackSeconds(Device& device, Changes& changes) {
  double seconds = 0;
  if (device.HasExposureTimeEx() && device.GetExposureTimeEx(&seconds)) AssignSeconds(seconds, changes);
}

void DeviceSettings::Announce(const Changes& changes) const {
  for (int i = 0; i < changes.count; ++i) notifier_.Notify(changes.settings[i]);
}

SettingStatus DeviceSettings::Set(Device& device, int id, int32_t value) {
  const FilterRow* row = FindFilter(id);
  if (row == nullptr || AnsweredByImageSettings(row->kind)) return SettingStatus::kArgument;
  Changes changes;
  SettingStatus status;
  {
    platform::MutexLock lock(mutex_);
    const bool ranged = row->kind == FilterKind::kGlobalGain || row->kind == FilterKind::kColorGain ||
                        row->kind == FilterKind::kExposure;
    status = ranged ? SetChecked(device, *row, value, changes) : SetOption(device, *row, value, changes);
  }
  Announce(changes);
  return status;
}

// Gains and exposure: the device's range is read and the value set within one hold of mutex_.
SettingStatus DeviceSettings::SetChecked(Device& device, const FilterRow& row, int32_t value, Changes& changes) {
  if (row.kind == FilterKind::kGlobalGain) {
    if (!WithinDeviceRange(device, &Device::GetGlobalGainMin, &Device::GetGlobalGainMax, value)) {
      return SettingStatus::kArgument;
    }
    Assign(&AnalogSettings::global, value, ORVANE_FILTER_GLOBAL_GAIN, changes);
    for (const ColorGain& gain : kColorGains) Assign(gain.member, value, gain.id, changes);
    return DeviceResult(device.SetGlobalGain(value));
  }
  if (row.kind == FilterKind::kColorGain) {
    const ColorGain* gain = FindColorGain(row.id);
    if (!WithinDeviceRange(device, &Device::GetColorGainMin, &Device::GetColorGainMax, value)) {
      return SettingStatus::kArgument;
    }
    Assign(gain->member, value, gain->id, changes);
    return DeviceResult((device.*gain->set)(value));
  }
  if (!WithinDeviceRange(device, &Device::GetExposureTimeMin, &Device::GetExposureTimeMax, value)) {
    return SettingStatus::kArgument;
  }
  Assign(&AnalogSettings::exposure, value, ORVANE_FILTER_EXPOSURE_TIME, changes);
  const int result = device.SetExposureTime(value);
  ReadBackSeconds(device, changes);
  return DeviceResult(result);
}

// The device options without a range of their own.
SettingStatus DeviceSettings::SetOption(Device& device, const FilterRow& row, int32_t value, Changes& changes) {
  switch (row.kind) {
    case FilterKind::kPeltier:
      if (!device.HasPeltier()) return SettingStatus::kNotSupported;
      if (!device.SetPeltier(value)) return SettingStatus::kDeviceRefused;
      changes.Add(row.id);
      return SettingStatus::kOk;
    case FilterKind::kGainMode:
      if (!device.SetGainMode(value)) return SettingStatus::kDeviceRefused;
      changes.Add(row.id);
      return SettingStatus::kOk;
    case FilterKind::kShortExposure:
      if (!device.HasShortExposureMode()) return SettingStatus::kNotSupported;
      if (!device.SetShortExposureMode(value > 0 ? 1 : 0)) return SettingStatus::kDeviceIo;
      changes.Add(row.id);
      return SettingStatus::kOk;
    case FilterKind::kBlackLevel:
      if (!device.HasBlackLevel()) return SettingStatus::kNotSupported;
      if (!device.SetBlackLevel(value)) return SettingStatus::kDeviceIo;
      Assign(&AnalogSettings::blackLevel, value, row.id, changes);
      return SettingStatus::kOkRecorded;
    default:
      return SettingStatus::kArgument;  // the temperature is read-only
  }
}

SettingStatus DeviceSettings::Get(Device& device, int id, int32_t* value) {
  const FilterRow* row = FindFilter(id);
  *value = 0;
  if (row == nullptr) return SettingStatus::kArgument;
  platform::MutexLock lock(mutex_);
  // Where a failed query is not reported, the value stays as preset (0 or -1) and the export answers it.
  switch (row->kind) {
    case FilterKind::kGlobalGain: static_cast<void>(device.GetGlobalGain(value)); return SettingStatus::kOk;
    case FilterKind::kColorGain:
      static_cast<void>((device.*FindColorGain(id)->get)(value));
      return SettingStatus::kOk;
    case FilterKind::kExposure: static_cast<void>(device.GetExposureTime(value)); return SettingStatus::kOk;
    case FilterKind::kPeltier:
      if (!device.HasPeltier()) {
        *value = -1;
        return SettingStatus::kNotSupported;
      }
      static_cast<void>(device.GetPeltier(value));
      return SettingStatus::kOk;
    case FilterKind::kTemperature: *value = -1; return SettingStatus::kNotSupported;
    case FilterKind::kGainMode: *value = device.GetGainMode(); return SettingStatus::kOk;
    case FilterKind::kShortExposure:
      if (!device.HasShortExposureMode()) return SettingStatus::kNotSupported;
      if (!device.GetShortExposureMode(value)) {
        *value = 0;
        return SettingStatus::kDeviceIo;
      }
      *value = *value != 0 ? 1 : 0;
      return SettingStatus::kOkRecorded;
    case FilterKind::kBlackLevel:
      if (!device.HasBlackLevel()) return SettingStatus::kNotSupported;
      static_cast<void>(device.GetBlackLevel(value));
      cache_.blackLevel = *value;
      return SettingStatus::kOkRecorded;
    default: return SettingStatus::kArgument;
  }
}

SettingStatus DeviceSettings::SetExposureSeconds(Device& device, double seconds) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    if (!device.HasExposureTimeEx()) return SettingStatus::kNotSupported;
    if (!device.SetExposureTimeEx(seconds)) return SettingStatus::kDeviceRefused;
    AssignSeconds(seconds, changes);
    // Seconds in the device unit of 100 us, rounded to the nearest (0.5 s is 5000, not 0).
    Assign(&AnalogSettings::exposure, static_cast<int32_t>(std::lround(seconds * 10000.0)),
           ORVANE_FILTER_EXPOSURE_TIME, changes);
  }
  Announce(changes);
  return SettingStatus::kOk;
}

SettingStatus DeviceSettings::ReadExposureSeconds(Device& device, double* seconds) {
  Changes changes;
  SettingStatus status;
  *seconds = 0;
  {
    platform::MutexLock lock(mutex_);
    if (!device.HasExposureTimeEx()) {
      *seconds = -1.0;
      return SettingStatus::kNotSupported;
    }
    status = DeviceResult(device.GetExposureTimeEx(seconds));
    if (Succeeded(status)) AssignSeconds(*seconds, changes);
  }
  Announce(changes);
  return status;
}

SettingStatus DeviceSettings::SetRealExposure(Device& device, int microseconds) {
  const int32_t value = static_cast<int32_t>(microseconds / 100.0);
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    Range range{0, 0};
    device.GetExposureTimeMin(&range.min);
    device.GetExposureTimeMax(&range.max);
    if (!range.Contains(value)) return SettingStatus::kArgument;
    Assign(&AnalogSettings::exposure, value, ORVANE_FILTER_EXPOSURE_TIME, changes);
    device.SetExposureTime(value & 0xFFFF);
    ReadBackSeconds(device, changes);
  }
  Announce(changes);
  return SettingStatus::kOk;
}

int DeviceSettings::RealExposure() const {
  platform::MutexLock lock(mutex_);
  return cache_.exposure * 100;
}

void DeviceSettings::SetMirror(Device& device, bool vertical, int on) {
  const int32_t flag = on != 0 ? 1 : 0;
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    if (vertical) {
      device.SetMirrorV(flag);  // its result is not reported: the cache holds the request
      Assign(&AnalogSettings::vMirror, flag, kMirrorVSetting, changes);
    } else {
      device.SetMirrorH(flag);
      Assign(&AnalogSettings::hMirror, flag, kMirrorHSetting, changes);
    }
  }
  Announce(changes);
}

int DeviceSettings::Mirror(bool vertical) const {
  platform::MutexLock lock(mutex_);
  return vertical ? cache_.vMirror : cache_.hMirror;
}

bool DeviceSettings::ApplyAutomaticGain(Device& device, int gain) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    if (!device.SetGlobalGain(gain)) return false;
    Assign(&AnalogSettings::global, gain, ORVANE_FILTER_GLOBAL_GAIN, changes);
    for (const ColorGain& color : kColorGains) Assign(color.member, gain, color.id, changes);
  }
  Announce(changes);
  return true;
}

bool DeviceSettings::ApplyAutomaticExposure(Device& device, int value) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    if (!device.SetExposureTime(value)) return false;
    Assign(&AnalogSettings::exposure, value, ORVANE_FILTER_EXPOSURE_TIME, changes);
    ReadBackSeconds(device, changes);
  }
  Announce(changes);
  return true;
}

int DeviceSettings::GlobalGain() const {
  platform::MutexLock lock(mutex_);
  return cache_.global;
}

int DeviceSettings::Exposure() const {
  platform::MutexLock lock(mutex_);
  return cache_.exposure;
}

// The cached global and colour gains and the exposure (as a time where the device takes one), in
// the order the device expects them.
void DeviceSettings::PushGainsAndExposure(Device& device) {
  device.SetGlobalGain(cache_.global);
  device.SetColorGainGreen1(cache_.colorG1);
  device.SetColorGainRed(cache_.colorR);
  device.SetColorGainBlue(cache_.colorB);
  device.SetColorGainGreen2(cache_.colorG2);
  if (device.HasExposureTimeEx()) {
    device.SetExposureTimeEx(cache_.exposureEx);
  } else {
    device.SetExposureTime(cache_.exposure & 0xFFFF);  // accepted values lie below 65536
  }
}

void DeviceSettings::ApplyToCamera(Device& device) {
  platform::MutexLock lock(mutex_);
  PushGainsAndExposure(device);
  device.SetMirrorV(cache_.vMirror);
  device.SetMirrorH(cache_.hMirror);
  if (device.HasBlackLevel()) device.SetBlackLevel(cache_.blackLevel);
  if (device.HasPeltier()) device.SetPeltier(1);
  if (device.HasShortExposureMode()) device.SetShortExposureMode(0);
  if (device.HasGainMode()) device.SetGainMode(cache_.gainMode);
}

void DeviceSettings::PushForPreparation(Device& device) {
  platform::MutexLock lock(mutex_);
  device.SetMirrorV(cache_.vMirror);
  device.SetMirrorH(cache_.hMirror);
  device.SetTriggerMode(0, 1);
  PushGainsAndExposure(device);
  if (device.HasPreviewResetSetting()) device.SetPreviewResetSetting(0);
  device.SetGainMode(0);
  if (device.HasGainMode()) device.SetGainMode(cache_.gainMode);
  if (device.HasBlackLevel()) device.SetBlackLevel(cache_.blackLevel);
  hardwareMirrorV_ = device.HasMirrorV();
  hardwareMirrorH_ = device.HasMirrorH();
}

void DeviceSettings::SnapshotMirrors(image::PipelineSettings& settings) const {
  platform::MutexLock lock(mutex_);
  settings.mirrorV = cache_.vMirror;
  settings.mirrorH = cache_.hMirror;
  settings.hardwareMirrorV = hardwareMirrorV_;
  settings.hardwareMirrorH = hardwareMirrorH_;
}

void DeviceSettings::ReadDevice(Device& device, AnalogSettings* values, AnalogLimits* limits) {
  int32_t value = 0;
  if (device.GetGlobalGain(&value)) {
    values->global = values->colorG1 = values->colorR = values->colorB = values->colorG2 = value;
  }
  if (device.GetExposureTime(&value)) values->exposure = value;
  if (device.GetMirrorV(&value)) values->vMirror = value;
  if (device.GetMirrorH(&value)) values->hMirror = value;
  if (device.HasBlackLevel() && device.GetBlackLevel(&value)) values->blackLevel = value;
  double seconds = 0;
  if (device.HasExposureTimeEx() && device.GetExposureTimeEx(&seconds)) values->exposureEx = seconds;
  Range range{};
  if (DeviceRange(device, &Device::GetGlobalGainMin, &Device::GetGlobalGainMax, &range)) limits->globalGain = range;
  if (DeviceRange(device, &Device::GetColorGainMin, &Device::GetColorGainMax, &range)) limits->colorGain = range;
  if (DeviceRange(device, &Device::GetExposureTimeMin, &Device::GetExposureTimeMax, &range)) limits->exposure = range;
}

AnalogSettings DeviceSettings::Values() const {
  platform::MutexLock lock(mutex_);
  return cache_;
}

void DeviceSettings::Restore(const AnalogSettings& values) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    Assign(&AnalogSettings::global, values.global, ORVANE_FILTER_GLOBAL_GAIN, changes);
    for (const ColorGain& gain : kColorGains) Assign(gain.member, values.*gain.member, gain.id, changes);
    Assign(&AnalogSettings::exposure, values.exposure, ORVANE_FILTER_EXPOSURE_TIME, changes);
    Assign(&AnalogSettings::vMirror, values.vMirror, kMirrorVSetting, changes);
    Assign(&AnalogSettings::hMirror, values.hMirror, kMirrorHSetting, changes);
    Assign(&AnalogSettings::gainMode, values.gainMode, ORVANE_FILTER_GAIN_MODE, changes);
    Assign(&AnalogSettings::blackLevel, values.blackLevel, ORVANE_FILTER_BLACK_LEVEL, changes);
    AssignSeconds(values.exposureEx, changes);
  }
  Announce(changes);
}

}  // namespace orvane::settings
