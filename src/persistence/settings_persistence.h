// Per-camera settings kept in the current user's registry, below
// HKEY_CURRENT_USER\Software\Kavrin\OrvaneKD73R5Sdk:
//
//   Software\Kavrin\OrvaneKD73R5Sdk
//     Size_00 .. Size_99        preset capture sizes (TH TV EH EV EHS EVS Buf), numbered without gaps
//     Camera_00 .. Camera_NN    one key per camera number ("Camera_%02d")
//       Size Color SubSample WaitTime Clock      stream settings (REG_DWORD)
//       Size_00 ..                               the camera's size entries; "Size" picks one
//       Gain                                     analog settings (REG_DWORD, "ExposureEx" REG_BINARY)
//       Filter                                   image filter settings (filter table rows)
//       Gray                                     gray corrections (filter table rows)
//
// Every value is a 32-bit signed REG_DWORD except "ExposureEx", eight bytes of REG_BINARY holding a
// little-endian IEEE double (seconds). Every value read is checked against the range of its setting
// (the filter table of settings/filter_table.h for "Filter" and "Gray", the tables below for the
// rest); a value outside it, of the wrong type or missing is replaced by the setting's
// default, so a hand-edited or stale registry can never push an impossible setting into the SDK.
//
// The functions work on plain structs and one open SettingsSession; they know nothing of the SDK
// object. Registry failures are silent, as the callers' exports succeed regardless. The root is a
// parameter so that tests can use a root of their own; the product always uses kSettingsRootKey.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"
#include "settings/device_settings.h"
#include "settings/filter_table.h"

namespace orvane::persistence {

inline constexpr std::string_view kSettingsRootKey = "Software\\Kavrin\\OrvaneKD73R5Sdk";
// Size entries are numbered "Size_00" to "Size_99".
inline constexpr int kMaxSizeEntries = 100;

// "Camera_%02d". A negative number (no camera selected yet) names camera 0: the settings then
// belong to the camera that setup selects first.
std::string CameraKeyName(int camera);
std::string SizeKeyName(int index);  // "Size_%02d"

using settings::AnalogLimits;
using settings::AnalogSettings;
using settings::ImageValues;
using settings::Range;

// Sensor area of the IMX226 as the SDK uses it.
inline constexpr int32_t kSensorWidth = 4000;
inline constexpr int32_t kSensorHeight = 3000;

// A capture size: total area, image size and start, and the seventh preset value ("Buf", number of
// frame buffers). Defaults are the full sensor.
struct SizeSettings {
  int32_t th = kSensorWidth;
  int32_t tv = kSensorHeight;
  int32_t eh = kSensorWidth;
  int32_t ev = kSensorHeight;
  int32_t ehs = 0;
  int32_t evs = 0;
  int32_t buf = 4;
  bool operator==(const SizeSettings&) const = default;
};

// True when the image window lies inside the sensor area (non-empty, starts and ends within it).
bool WindowWithinSensor(const SizeSettings& size);

// Values directly in the camera key. Colour mode 0..5 (8, 16, 24, 32, 48, 64 bits), sub-sample mode
// 0 or 17, wait time in milliseconds, clock selection index.
struct StreamSettings {
  int32_t color = 2;
  int32_t subSample = 0;
  int32_t waitTime = 1;
  int32_t clock = 0;
  bool operator==(const StreamSettings&) const = default;
};

// The sensor driver's answers to the three colour-mode queries: which output forms it allows.
struct ColorModeQueries {
  bool gray8AndBgrx = true;  // 8-bit gray and 32-bit colour
  bool gray16 = true;        // 16-bit gray
  bool color = true;         // the colour modes
};

// Colour mode written on first creation: 2 when colour is allowed, else 1 when 16-bit gray is, else 0
// when 8-bit gray is, else 2.
int32_t DefaultColorMode(const ColorModeQueries& queries);
// Moves a stored colour mode onto one the sensor driver supports (8/32-bit need gray8AndBgrx, 16-bit
// gray16, colour color).
int32_t AdjustColorMode(int32_t mode, const ColorModeQueries& queries);

// The value tables: one row per registry value with its range and default.
template <typename Settings>
struct IntValue {
  const char* name;
  int32_t Settings::*member;
  Range range;
  int32_t defaultValue;
};

inline constexpr IntValue<SizeSettings> kSizeValues[] = {
    {"TH", &SizeSettings::th, {1, kSensorWidth}, kSensorWidth},
    {"TV", &SizeSettings::tv, {1, kSensorHeight}, kSensorHeight},
    {"EH", &SizeSettings::eh, {1, kSensorWidth}, kSensorWidth},
    {"EV", &SizeSettings::ev, {1, kSensorHeight}, kSensorHeight},
    {"EHS", &SizeSettings::ehs, {0, kSensorWidth - 1}, 0},
    {"EVS", &SizeSettings::evs, {0, kSensorHeight - 1}, 0},
    {"Buf", &SizeSettings::buf, {1, 100}, 4},
};

// "Color" defaults to DefaultColorMode(); "SubSample" accepts only 0 and 17 (checked apart); the
// clock list of the camera dialog has three entries.
inline constexpr IntValue<StreamSettings> kStreamValues[] = {
    {"Color", &StreamSettings::color, {0, 5}, 2},
    {"SubSample", &StreamSettings::subSample, {0, 17}, 0},
    {"WaitTime", &StreamSettings::waitTime, {0, INT32_MAX}, 1},
    {"Clock", &StreamSettings::clock, {0, 2}, 0},
};
inline constexpr const char* kSizeIndexValue = "Size";
inline constexpr Range kSizeIndexRange{0, kMaxSizeEntries - 1};

// Analog values: the range is the device limit named by `limit` when set, else `range`; the default
// is the device's current value unless `fixedDefault` is set.
struct AnalogValue {
  const char* name;
  int32_t AnalogSettings::*member;
  Range AnalogLimits::*limit;
  Range range;
  std::optional<int32_t> fixedDefault;
};

inline constexpr AnalogValue kAnalogValues[] = {
    {"Global", &AnalogSettings::global, &AnalogLimits::globalGain, {}, std::nullopt},
    {"ColorG1", &AnalogSettings::colorG1, &AnalogLimits::colorGain, {}, std::nullopt},
    {"ColorR", &AnalogSettings::colorR, &AnalogLimits::colorGain, {}, std::nullopt},
    {"ColorB", &AnalogSettings::colorB, &AnalogLimits::colorGain, {}, std::nullopt},
    {"ColorG2", &AnalogSettings::colorG2, &AnalogLimits::colorGain, {}, std::nullopt},
    {"Exposure", &AnalogSettings::exposure, &AnalogLimits::exposure, {}, std::nullopt},
    {"V_Mirror", &AnalogSettings::vMirror, nullptr, {0, 1}, std::nullopt},
    {"H_Mirror", &AnalogSettings::hMirror, nullptr, {0, 1}, std::nullopt},
    {"AutoIris", &AnalogSettings::autoIris, nullptr, {0, 2}, 0},
    {"GainMode", &AnalogSettings::gainMode, nullptr, {0, 1}, 0},
    {"BlackLevel", &AnalogSettings::blackLevel, &AnalogLimits::blackLevel, {}, std::nullopt},
};
inline constexpr const char* kExposureExValue = "ExposureEx";

// The settings saved and restored together at a change of camera and at release.
// The image values are those of the filter table's rows stored in the "Filter" and "Gray" subkeys.
struct CameraSettings {
  AnalogSettings analog;
  ImageValues image;
  bool operator==(const CameraSettings&) const = default;
};

// Loads and saves over one open session. Cheap to make; make one per session.
class SettingsPersistence {
 public:
  explicit SettingsPersistence(platform::SettingsSession& session,
                               std::string_view root = kSettingsRootKey);

  std::string CameraKey(int camera) const;

  // When the root key does not exist: creates it, the camera key with "Size_00" (full sensor,
  // 4 buffers) and "Size" 0, "Color" DefaultColorMode(), "SubSample" 0, "WaitTime" 1, "Clock" 0.
  // True when it created the tree; an existing root is left as it is. Size presets directly below
  // the root are not created.
  bool CreateDefaultTree(int camera, const ColorModeQueries& queries);

  // Size settings load: with no root key, creates the default tree and leaves `size` unchanged.
  // Otherwise reads "Size" and the camera's size entry it names into `size`; a missing camera key
  // or entry leaves `size` unchanged. A window outside the sensor area resets the geometry to the
  // full sensor (Buf kept). True when an entry was read.
  bool LoadSize(int camera, const ColorModeQueries& queries, SizeSettings& size);

  // Colour and timing load: with the root or camera key missing nothing changes (false). A missing
  // value leaves its setting unchanged; the colour mode read is adjusted by the queries.
  bool LoadStream(int camera, const ColorModeQueries& queries, StreamSettings& stream) const;

  // With the subkey (or root or camera key) missing these set the table defaults and return false;
  // the caller then also resets its derived state (automatic white balance and its one-shot
  // markers) as for a fresh camera.
  // They read and write only the rows of the filter table stored in their subkey.
  bool LoadFilter(int camera, ImageValues& values) const;
  bool LoadGray(int camera, ImageValues& values) const;
  // `device` holds the device's current values, the defaults of every analog value except
  // "AutoIris" and "GainMode" (0).
  bool LoadAnalog(int camera, const AnalogSettings& device, const AnalogLimits& limits,
                  AnalogSettings& analog) const;

  // Saves create missing keys and write every value of the subkey's table.
  bool SaveFilter(int camera, const ImageValues& values);
  bool SaveGray(int camera, const ImageValues& values);
  bool SaveAnalog(int camera, const AnalogSettings& analog);

  // Load and save of analog, filter and gray settings together (camera change, release).
  void LoadCamera(int camera, const AnalogSettings& device, const AnalogLimits& limits,
                  CameraSettings& settings) const;
  bool SaveCamera(int camera, const CameraSettings& settings);

  // The camera dialog: the stream values with the chosen size entry number, and a size entry of the
  // camera (a custom size becomes a new entry).
  bool SaveStream(int camera, const StreamSettings& stream, int sizeIndex);
  bool SaveSizeEntry(int camera, int index, const SizeSettings& size);
  // The camera's size entries, "Size_00" upward until the first missing one.
  std::vector<SizeSettings> ReadCameraSizeEntries(int camera) const;

  // The preset list directly below the root, "Size_00" upward until the first missing one (at most
  // 100). EH, EV, EHS and EVS are returned as stored (0 when missing): the caller's geometry check
  // decides what to do with a window outside the sensor. TH, TV and Buf are range-checked like
  // every other value.
  std::vector<SizeSettings> ReadSizePresets() const;
  // The first preset whose EH and EV equal the arguments; nullopt when there is none (or no root).
  // An entry with an empty (or missing) width or height is no capture size and never matches.
  std::optional<SizeSettings> FindSizePreset(int32_t width, int32_t height) const;

 private:
  bool LoadRows(int camera, settings::StoredKey key, ImageValues& values) const;
  bool SaveRows(int camera, settings::StoredKey key, const ImageValues& values);
  std::vector<SizeSettings> ReadSizeList(const std::string& parent, bool rawWindow) const;
  SizeSettings ReadSizeEntry(const std::string& key, bool rawWindow) const;

  platform::SettingsSession& session_;
  std::string root_;
};

}  // namespace orvane::persistence
