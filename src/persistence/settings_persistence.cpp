#include "persistence/settings_persistence.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>

namespace orvane::persistence {

namespace {

constexpr char kGainKey[] = "Gain";
constexpr char kFilterKey[] = "Filter";
constexpr char kGrayKey[] = "Gray";

// The sub-sampling modes the SDK stores: full resolution and the sensor's 2 × 2 binning.
constexpr int32_t kSubSampleModes[] = {0, 17};

std::string Join(std::string_view parent, std::string_view child) {
  std::string path(parent);
  path.push_back('\\');
  path.append(child);
  return path;
}

// The value when present and in range, else `fallback`.
int32_t ReadChecked(const platform::SettingsSession& session, const std::string& key,
                    const char* name, Range range, int32_t fallback) {
  std::optional<int32_t> value = session.ReadDword(key, name);
  return value && range.Contains(*value) ? *value : fallback;
}

template <typename Settings, size_t N>
void ReadTable(const platform::SettingsSession& session, const std::string& key,
               const IntValue<Settings> (&table)[N], Settings& settings) {
  for (const IntValue<Settings>& row : table) {
    settings.*row.member = ReadChecked(session, key, row.name, row.range, row.defaultValue);
  }
}

template <typename Settings, size_t N>
bool WriteTable(platform::SettingsSession& session, const std::string& key,
                const IntValue<Settings> (&table)[N], const Settings& settings) {
  if (!session.CreateKey(key)) return false;
  bool ok = true;
  for (const IntValue<Settings>& row : table) {
    ok = session.WriteDword(key, row.name, settings.*row.member) && ok;
  }
  return ok;
}

const char* SubkeyName(settings::StoredKey key) {
  return key == settings::StoredKey::kFilter ? kFilterKey : kGrayKey;
}

std::array<uint8_t, 8> EncodeDouble(double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  std::array<uint8_t, 8> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  return bytes;
}

std::optional<double> DecodeDouble(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != 8) return std::nullopt;
  uint64_t bits = 0;
  for (size_t i = 0; i < bytes.size(); ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return std::bit_cast<double>(bits);
}

}  // namespace

std::string CameraKeyName(int camera) {
  char name[32];
  std::snprintf(name, sizeof name, "Camera_%02d", camera < 0 ? 0 : camera);
  return name;
}

std::string SizeKeyName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "Size_%02d", index);
  return name;
}

bool WindowWithinSensor(const SizeSettings& size) {
  return size.eh > 0 && size.ev > 0 && size.ehs >= 0 && size.evs >= 0 &&
         size.eh <= kSensorWidth - size.ehs && size.ev <= kSensorHeight - size.evs;
}

int32_t DefaultColorMode(const ColorModeQueries& queries) {
  if (queries.color) return 2;
  if (queries.gray16) return 1;
  if (queries.gray8AndBgrx) return 0;
  return 2;
}

int32_t AdjustColorMode(int32_t mode, const ColorModeQueries& queries) {
  if (!queries.gray8AndBgrx && (mode == 0 || mode == 3)) mode = queries.gray16 ? 1 : 2;
  if (!queries.color && mode == 2) mode = queries.gray16 ? 1 : 0;
  if (!queries.gray16 && mode == 1) mode = queries.color ? 2 : 0;
  return mode;
}

SettingsPersistence::SettingsPersistence(platform::SettingsSession& session, std::string_view root)
    : session_(session), root_(root) {}

std::string SettingsPersistence::CameraKey(int camera) const {
  return Join(root_, CameraKeyName(camera));
}

bool SettingsPersistence::CreateDefaultTree(int camera, const ColorModeQueries& queries) {
  if (session_.KeyExists(root_)) return false;
  const std::string cameraKey = CameraKey(camera);
  SaveSizeEntry(camera, 0, SizeSettings{});
  StreamSettings stream;
  stream.color = DefaultColorMode(queries);
  SaveStream(camera, stream, 0);
  return session_.KeyExists(cameraKey);
}

bool SettingsPersistence::LoadSize(int camera, const ColorModeQueries& queries,
                                   SizeSettings& size) {
  if (!session_.KeyExists(root_)) {
    CreateDefaultTree(camera, queries);
    return false;
  }
  const std::string cameraKey = CameraKey(camera);
  if (!session_.KeyExists(cameraKey)) return false;
  int32_t index = ReadChecked(session_, cameraKey, kSizeIndexValue, kSizeIndexRange, 0);
  const std::string entryKey = Join(cameraKey, SizeKeyName(index));
  if (!session_.KeyExists(entryKey)) return false;
  size = ReadSizeEntry(entryKey, false);
  return true;
}

bool SettingsPersistence::LoadStream(int camera, const ColorModeQueries& queries,
                                     StreamSettings& stream) const {
  const std::string cameraKey = CameraKey(camera);
  if (!session_.KeyExists(root_) || !session_.KeyExists(cameraKey)) return false;
  for (const IntValue<StreamSettings>& row : kStreamValues) {
    std::optional<int32_t> value = session_.ReadDword(cameraKey, row.name);
    if (!value) continue;  // absent: the current setting stays
    int32_t accepted = row.range.Contains(*value) ? *value : row.defaultValue;
    if (row.member == &StreamSettings::color) {
      if (!row.range.Contains(*value)) accepted = DefaultColorMode(queries);
      accepted = AdjustColorMode(accepted, queries);
    } else if (row.member == &StreamSettings::subSample) {
      if (std::find(std::begin(kSubSampleModes), std::end(kSubSampleModes), accepted) ==
          std::end(kSubSampleModes)) {
        accepted = row.defaultValue;
      }
    }
    stream.*row.member = accepted;
  }
  return true;
}

// With the subkey missing the rows take their defaults. Each value read is checked against its row.
bool SettingsPersistence::LoadRows(int camera, settings::StoredKey key, ImageValues& values) const {
  const std::string subkey = Join(CameraKey(camera), SubkeyName(key));
  const bool present = session_.KeyExists(subkey);
  for (const settings::FilterRow& row : settings::kFilters) {
    if (row.key != key) continue;
    values.Set(row.id, present ? ReadChecked(session_, subkey, row.storedName, row.range, row.defaultValue)
                               : row.defaultValue);
  }
  return present;
}

bool SettingsPersistence::SaveRows(int camera, settings::StoredKey key, const ImageValues& values) {
  const std::string subkey = Join(CameraKey(camera), SubkeyName(key));
  if (!session_.CreateKey(subkey)) return false;
  bool ok = true;
  for (const settings::FilterRow& row : settings::kFilters) {
    if (row.key == key) ok = session_.WriteDword(subkey, row.storedName, values.Get(row.id)) && ok;
  }
  return ok;
}

bool SettingsPersistence::LoadFilter(int camera, ImageValues& values) const {
  return LoadRows(camera, settings::StoredKey::kFilter, values);
}

bool SettingsPersistence::LoadGray(int camera, ImageValues& values) const {
  return LoadRows(camera, settings::StoredKey::kGray, values);
}

bool SettingsPersistence::LoadAnalog(int camera, const AnalogSettings& device,
                                     const AnalogLimits& limits, AnalogSettings& analog) const {
  AnalogSettings defaults = device;
  for (const AnalogValue& row : kAnalogValues) {
    if (row.fixedDefault) defaults.*row.member = *row.fixedDefault;
  }
  const std::string key = Join(CameraKey(camera), kGainKey);
  if (!session_.KeyExists(key)) {
    analog = defaults;
    return false;
  }
  for (const AnalogValue& row : kAnalogValues) {
    Range range = row.limit != nullptr ? limits.*row.limit : row.range;
    analog.*row.member = ReadChecked(session_, key, row.name, range, defaults.*row.member);
  }
  analog.exposureEx = defaults.exposureEx;
  if (std::optional<std::vector<uint8_t>> bytes = session_.ReadBinary(key, kExposureExValue)) {
    std::optional<double> seconds = DecodeDouble(*bytes);
    if (seconds && std::isfinite(*seconds) && *seconds >= limits.exposureExMin &&
        *seconds <= limits.exposureExMax) {
      analog.exposureEx = *seconds;
    }
  }
  return true;
}

bool SettingsPersistence::SaveFilter(int camera, const ImageValues& values) {
  return SaveRows(camera, settings::StoredKey::kFilter, values);
}

bool SettingsPersistence::SaveGray(int camera, const ImageValues& values) {
  return SaveRows(camera, settings::StoredKey::kGray, values);
}

bool SettingsPersistence::SaveAnalog(int camera, const AnalogSettings& analog) {
  const std::string key = Join(CameraKey(camera), kGainKey);
  if (!session_.CreateKey(key)) return false;
  bool ok = true;
  for (const AnalogValue& row : kAnalogValues) {
    ok = session_.WriteDword(key, row.name, analog.*row.member) && ok;
  }
  std::array<uint8_t, 8> bytes = EncodeDouble(analog.exposureEx);
  return session_.WriteBinary(key, kExposureExValue, bytes) && ok;
}

void SettingsPersistence::LoadCamera(int camera, const AnalogSettings& device,
                                     const AnalogLimits& limits, CameraSettings& settings) const {
  LoadAnalog(camera, device, limits, settings.analog);
  LoadFilter(camera, settings.image);
  LoadGray(camera, settings.image);
}

bool SettingsPersistence::SaveCamera(int camera, const CameraSettings& settings) {
  bool ok = SaveAnalog(camera, settings.analog);
  ok = SaveFilter(camera, settings.image) && ok;
  return SaveGray(camera, settings.image) && ok;
}

bool SettingsPersistence::SaveStream(int camera, const StreamSettings& stream, int sizeIndex) {
  const std::string key = CameraKey(camera);
  if (!session_.CreateKey(key)) return false;
  bool ok = session_.WriteDword(key, kSizeIndexValue, sizeIndex);
  for (const IntValue<StreamSettings>& row : kStreamValues) {
    ok = session_.WriteDword(key, row.name, stream.*row.member) && ok;
  }
  return ok;
}

bool SettingsPersistence::SaveSizeEntry(int camera, int index, const SizeSettings& size) {
  if (!kSizeIndexRange.Contains(index)) return false;
  return WriteTable(session_, Join(CameraKey(camera), SizeKeyName(index)), kSizeValues, size);
}

std::vector<SizeSettings> SettingsPersistence::ReadCameraSizeEntries(int camera) const {
  return ReadSizeList(CameraKey(camera), false);
}

std::vector<SizeSettings> SettingsPersistence::ReadSizePresets() const {
  return ReadSizeList(root_, true);
}

std::optional<SizeSettings> SettingsPersistence::FindSizePreset(int32_t width,
                                                                int32_t height) const {
  for (const SizeSettings& preset : ReadSizePresets()) {
    if (preset.eh > 0 && preset.ev > 0 && preset.eh == width && preset.ev == height) return preset;
  }
  return std::nullopt;
}

std::vector<SizeSettings> SettingsPersistence::ReadSizeList(const std::string& parent,
                                                            bool rawWindow) const {
  std::vector<SizeSettings> entries;
  for (int index = 0; index < kMaxSizeEntries; ++index) {
    const std::string key = Join(parent, SizeKeyName(index));
    if (!session_.KeyExists(key)) break;
    entries.push_back(ReadSizeEntry(key, rawWindow));
  }
  return entries;
}

// With `rawWindow` the four window values are taken as stored (0 when missing); otherwise each value
// is range-checked and a window outside the sensor area becomes the full sensor.
SizeSettings SettingsPersistence::ReadSizeEntry(const std::string& key, bool rawWindow) const {
  SizeSettings size;
  ReadTable(session_, key, kSizeValues, size);
  if (rawWindow) {
    size.eh = session_.ReadDword(key, "EH").value_or(0);
    size.ev = session_.ReadDword(key, "EV").value_or(0);
    size.ehs = session_.ReadDword(key, "EHS").value_or(0);
    size.evs = session_.ReadDword(key, "EVS").value_or(0);
    return size;
  }
  if (!WindowWithinSensor(size)) {
    const SizeSettings full;
    size = SizeSettings{full.th, full.tv, full.eh, full.ev, full.ehs, full.evs, size.buf};
  }
  return size;
}

}  // namespace orvane::persistence
