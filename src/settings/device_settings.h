// The device settings: global and colour gains, exposure (value and seconds), mirrors, black level and
// gain mode, cached here and applied to the device as one unit. Each operation reads the device's
// range, checks, sets and caches under one lock, so no other settings call can slip between the check
// and the set; the cache is re-applied whole at each preparation and camera change.
//
// Locking: every operation that reaches the device takes the device borrowed for the call, and the
// caller holds the SDK object's device access lock around it (the lock that serialises all calls into
// the device). Lock order: device access lock, then mutex_. The getters of the cache take mutex_ alone.
#pragma once

#include <cstdint>

#include "device/orvane_device.h"
#include "image/image_pipeline.h"
#include "platform/thread_annotations.h"
#include "settings/filter_table.h"
#include "settings/settings_notifier.h"
#include "settings/settings_status.h"

namespace orvane::settings {

// The cached analog settings in the device's units (exposure in 100 us units), mirrors 0/1, gain mode
// 0 (high) / 1 (low), black level, and the exposure as a time in seconds for devices that take one.
// `autoIris` (0..2) belongs to the image settings; it travels in this record because the store keeps
// it with the analog values.
struct AnalogSettings {
  int32_t global = 0;
  int32_t colorG1 = 0;
  int32_t colorR = 0;
  int32_t colorB = 0;
  int32_t colorG2 = 0;
  int32_t exposure = 0;
  int32_t vMirror = 0;
  int32_t hMirror = 0;
  int32_t autoIris = 0;
  int32_t gainMode = 0;
  int32_t blackLevel = 0;
  double exposureEx = 0.0;
  bool operator==(const AnalogSettings&) const = default;
};

// The device's limits for the analog settings, as its min/max queries report them. A device that
// lacks black level or exposure as a time leaves those limits wide open.
struct AnalogLimits {
  Range globalGain{0, 0};
  Range colorGain{0, 0};
  Range exposure{0, 0};
  Range blackLevel{INT32_MIN, INT32_MAX};
  double exposureExMin = 0.0;
  double exposureExMax = 1e9;
};

class DeviceSettings {
 public:
  using Device = COrvaneR3O5Base;

  explicit DeviceSettings(SettingsNotifier& notifier) : notifier_(notifier) {}
  DeviceSettings(const DeviceSettings&) = delete;
  DeviceSettings& operator=(const DeviceSettings&) = delete;

  // A forwarded filter row (gains, exposure, Peltier, temperature, gain mode, short exposure, black
  // level). kArgument for other ids and for values outside the device's range.
  SettingStatus Set(Device& device, int id, int32_t value) ORVANE_EXCLUDES(mutex_);
  // Reads a forwarded row from the device. `value` is the export's result on every outcome.
  SettingStatus Get(Device& device, int id, int32_t* value) ORVANE_EXCLUDES(mutex_);

  // Exposure as a time: cached in seconds and as the value rounded to the nearest 100 us.
  SettingStatus SetExposureSeconds(Device& device, double seconds) ORVANE_EXCLUDES(mutex_);
  // Reads the seconds from the device, caching them when the read succeeds (kDeviceRefused if not).
  SettingStatus ReadExposureSeconds(Device& device, double* seconds) ORVANE_EXCLUDES(mutex_);
  // Exposure in microseconds, truncated to 100 us units and checked against the device's range.
  SettingStatus SetRealExposure(Device& device, int microseconds) ORVANE_EXCLUDES(mutex_);
  int RealExposure() const ORVANE_EXCLUDES(mutex_);  // microseconds

  void SetMirror(Device& device, bool vertical, int on) ORVANE_EXCLUDES(mutex_);
  int Mirror(bool vertical) const ORVANE_EXCLUDES(mutex_);

  // The automatic exposure's steps: the caller chose the value within the device's range. False when
  // the device refused it (the cache keeps the old value then).
  [[nodiscard]] bool ApplyAutomaticGain(Device& device, int gain) ORVANE_EXCLUDES(mutex_);
  [[nodiscard]] bool ApplyAutomaticExposure(Device& device, int value) ORVANE_EXCLUDES(mutex_);
  int GlobalGain() const ORVANE_EXCLUDES(mutex_);
  int Exposure() const ORVANE_EXCLUDES(mutex_);

  // Pushes the cache to a newly opened camera: gains, exposure, mirrors, black level, gain mode, and
  // the Peltier on and short exposure off where the device has them.
  void ApplyToCamera(Device& device) ORVANE_EXCLUDES(mutex_);
  // Pushes the cache before a stream starts, in the device's preparation order (mirrors, trigger
  // mode, gains and exposure, preview reset, gain mode, black level), and notes which mirrors the
  // device makes itself.
  void PushForPreparation(Device& device) ORVANE_EXCLUDES(mutex_);
  // The mirrors of the pipeline's settings: requested and made by the device.
  void SnapshotMirrors(image::PipelineSettings& settings) const ORVANE_EXCLUDES(mutex_);

  // The device's current values and limits: the defaults of a load from the store.
  static void ReadDevice(Device& device, AnalogSettings* values, AnalogLimits* limits);
  AnalogSettings Values() const ORVANE_EXCLUDES(mutex_);
  // Replaces the cache (not the device) with `values`, autoIris aside.
  void Restore(const AnalogSettings& values) ORVANE_EXCLUDES(mutex_);

 private:
  struct Changes {
    int settings[12] = {};
    int count = 0;
    void Add(int setting) { settings[count++] = setting; }
  };
  void Assign(int32_t AnalogSettings::*member, int32_t value, int setting, Changes& changes) ORVANE_REQUIRES(mutex_);
  void AssignSeconds(double seconds, Changes& changes) ORVANE_REQUIRES(mutex_);
  void ReadBackSeconds(Device& device, Changes& changes) ORVANE_REQUIRES(mutex_);
  void Announce(const Changes& changes) const;
  SettingStatus SetChecked(Device& device, const FilterRow& row, int32_t value, Changes& changes)
      ORVANE_REQUIRES(mutex_);
  SettingStatus SetOption(Device& device, const FilterRow& row, int32_t value, Changes& changes)
      ORVANE_REQUIRES(mutex_);
  void PushGainsAndExposure(Device& device) ORVANE_REQUIRES(mutex_);

  SettingsNotifier& notifier_;
  mutable platform::Mutex mutex_;
  AnalogSettings cache_ ORVANE_GUARDED_BY(mutex_);
  int hardwareMirrorV_ ORVANE_GUARDED_BY(mutex_) = 0;  // the device mirrors this direction itself
  int hardwareMirrorH_ ORVANE_GUARDED_BY(mutex_) = 0;
};

}  // namespace orvane::settings
