#include "settings/image_settings.h"

namespace orvane::settings {

namespace {
constexpr int kGrayGainIds[4] = {ORVANE_FILTER_GRAY_GAIN_R, ORVANE_FILTER_GRAY_GAIN_G1, ORVANE_FILTER_GRAY_GAIN_G2,
                                 ORVANE_FILTER_GRAY_GAIN_B};
}  // namespace

void ImageSettings::Assign(int id, int32_t value, Changes& changes) {
  if (values_.Get(id) == value) return;
  values_.Set(id, value);
  changes.Add(id);
}

void ImageSettings::Announce(const Changes& changes) const {
  for (size_t i = 0; i < changes.count; ++i) notifier_.Notify(changes.settings[i]);
}

SettingStatus ImageSettings::Set(int id, int32_t value) {
  const FilterRow* row = FindFilter(id);
  if (row == nullptr) return SettingStatus::kArgument;
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    switch (row->kind) {
      case FilterKind::kPackedRgb:
        Assign(ORVANE_FILTER_BAYER_GAIN_RED, value & 0xFF, changes);
        Assign(ORVANE_FILTER_BAYER_GAIN_GREEN, (value >> 8) & 0xFF, changes);
        Assign(ORVANE_FILTER_BAYER_GAIN_BLUE, (value >> 16) & 0xFF, changes);
        break;
      case FilterKind::kSwitch:
        Assign(id, value != 0 ? 1 : 0, changes);
        break;
      case FilterKind::kStored:
      case FilterKind::kStoredSetOnly:
        if (!row->range.Contains(value)) return SettingStatus::kArgument;
        Assign(id, value, changes);
        break;
      default:
        return SettingStatus::kArgument;
    }
  }
  Announce(changes);
  return SettingStatus::kOk;
}

SettingStatus ImageSettings::Get(int id, int32_t* value) const {
  const FilterRow* row = FindFilter(id);
  if (row == nullptr) return SettingStatus::kArgument;
  platform::MutexLock lock(mutex_);
  switch (row->kind) {
    case FilterKind::kPackedRgb:
      *value = (values_.Get(ORVANE_FILTER_BAYER_GAIN_RED) & 0xFF) +
               (values_.Get(ORVANE_FILTER_BAYER_GAIN_GREEN) & 0xFF) * 256 +
               (values_.Get(ORVANE_FILTER_BAYER_GAIN_BLUE) & 0xFF) * 65536;
      return SettingStatus::kOk;
    case FilterKind::kStored:
    case FilterKind::kSwitch:
      *value = values_.Get(id);
      return SettingStatus::kOk;
    default:
      return SettingStatus::kArgument;
  }
}

SettingStatus ImageSettings::SetAutoIris(int mode) {
  if (mode < 0 || mode > 2) return SettingStatus::kArgument;
  bool changed = false;
  {
    platform::MutexLock lock(mutex_);
    changed = autoIris_ != mode;
    autoIris_ = mode;
  }
  if (changed) notifier_.Notify(kAutoIrisSetting);
  return SettingStatus::kOk;
}

int ImageSettings::AutoIris() const {
  platform::MutexLock lock(mutex_);
  return autoIris_;
}

void ImageSettings::Snapshot(image::PipelineSettings& settings) const {
  platform::MutexLock lock(mutex_);
  for (size_t i = 0; i < kFilterCount; ++i) {
    if (kFilters[i].pipeline != nullptr) kFilters[i].pipeline(settings) = values_.At(i);
  }
  settings.whiteBalanceOnce[0] = whiteBalanceOnce_[0];
  settings.whiteBalanceOnce[1] = whiteBalanceOnce_[1];
  settings.autoIris = autoIris_;
}

void ImageSettings::StoreFrameUpdates(const image::PipelineUpdates& updates) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    if (updates.whiteBalanceMeasured) {
      Assign(ORVANE_FILTER_BAYER_GAIN_RED, updates.bayerGainRed, changes);
      Assign(ORVANE_FILTER_BAYER_GAIN_GREEN, updates.bayerGainGreen, changes);
      Assign(ORVANE_FILTER_BAYER_GAIN_BLUE, updates.bayerGainBlue, changes);
    }
    if (updates.whiteBalanceFinished) {
      Assign(ORVANE_FILTER_BAYER_GAIN_AUTO, 0, changes);
      whiteBalanceOnce_[0] = whiteBalanceOnce_[1] = 0;
    }
    if (updates.grayBalanceMeasured) {
      for (int i = 0; i < 4; ++i) Assign(kGrayGainIds[i], updates.grayGain[i], changes);
      if (!grayBalanceContinuous_) Assign(ORVANE_FILTER_AUTO_GRAY_BALANCE, 0, changes);
    }
  }
  Announce(changes);
}

ImageValues ImageSettings::Values() const {
  platform::MutexLock lock(mutex_);
  return values_;
}

void ImageSettings::Restore(const ImageValues& stored, bool filterStored) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    for (const FilterRow& row : kFilters) {
      if (row.key != StoredKey::kNone) Assign(row.id, stored.Get(row.id), changes);
    }
    if (!filterStored) {
      Assign(ORVANE_FILTER_BAYER_GAIN_AUTO, 0, changes);
      whiteBalanceOnce_[0] = whiteBalanceOnce_[1] = 0;
    }
  }
  Announce(changes);
}

void ImageSettings::RequestWhiteBalanceOnce() {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    Assign(ORVANE_FILTER_BAYER_GAIN_AUTO, 1, changes);
    whiteBalanceOnce_[0] = whiteBalanceOnce_[1] = 1;
  }
  Announce(changes);
}

void ImageSettings::SetGrayBalanceContinuous(bool on) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    grayBalanceContinuous_ = on;
    // Switching on asks for the first measurement; switching off leaves a pending one to run.
    if (on) Assign(ORVANE_FILTER_AUTO_GRAY_BALANCE, 1, changes);
  }
  Announce(changes);
}

bool ImageSettings::GrayBalanceContinuous() const {
  platform::MutexLock lock(mutex_);
  return grayBalanceContinuous_;
}

ImageSettings::State ImageSettings::Save() const {
  platform::MutexLock lock(mutex_);
  State state;
  state.values = values_;
  state.whiteBalanceOnce[0] = whiteBalanceOnce_[0];
  state.whiteBalanceOnce[1] = whiteBalanceOnce_[1];
  state.grayBalanceContinuous = grayBalanceContinuous_;
  return state;
}

void ImageSettings::Reinstate(const State& state) {
  Changes changes;
  {
    platform::MutexLock lock(mutex_);
    for (size_t i = 0; i < kFilterCount; ++i) {
      if (IsImageKind(kFilters[i].kind)) Assign(kFilters[i].id, state.values.At(i), changes);
    }
    whiteBalanceOnce_[0] = state.whiteBalanceOnce[0];
    whiteBalanceOnce_[1] = state.whiteBalanceOnce[1];
    grayBalanceContinuous_ = state.grayBalanceContinuous;
  }
  Announce(changes);
}

}  // namespace orvane::settings
