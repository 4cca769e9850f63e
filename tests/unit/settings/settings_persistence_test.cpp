#include "output/settings_persistence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "temporary_store.h"

namespace orvane::output {
namespace {

using platform::SettingsSession;

constexpr ColorModeQueries kAllYes{true, true, true};

// Device values and limits of an IMX226-like device, used as the analog defaults. The device's auto
// iris (2) and gain mode (1) are ignored: their defaults are 0.
AnalogSettings DeviceNow() { return {40, 41, 42, 43, 44, 333, 1, 0, 2, 1, 50, 0.0333}; }
AnalogLimits DeviceLimits() { return {{0, 480}, {0, 480}, {1, 30000}, {0, 1023}, 0.0001, 3.0}; }

// Each test works below a root of its own (on Linux also in a store of its own).
class SettingsPersistenceTest : public ::testing::Test {
 protected:
  SettingsPersistenceTest()
      : root_(std::string("Software\\Kavrin\\OrvaneSettingsTest\\") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name()) {}

  std::string CameraKey(int camera) const { return root_ + "\\" + CameraKeyName(camera); }
  SettingsPersistence Persistence() { return SettingsPersistence(session_, root_); }
  void Write(const std::string& key, const char* name, int32_t value) {
    ASSERT_TRUE(session_.CreateKey(key));
    ASSERT_TRUE(session_.WriteDword(key, name, value));
  }
  void WritePreset(const std::string& parent, int index, const SizeSettings& size) {
    const std::string key = parent + "\\" + SizeKeyName(index);
    for (const auto& row : kSizeValues) Write(key, row.name, size.*row.member);
  }

  orvane::testing::TemporarySettingsStore store_;
  SettingsSession session_;
  std::string root_;
};

TEST(SettingsNamesTest, CameraAndSizeKeysUseTwoDigitsAtLeast) {
  EXPECT_EQ(CameraKeyName(7), "Camera_07");
  EXPECT_EQ(CameraKeyName(31), "Camera_31");
  EXPECT_EQ(CameraKeyName(100), "Camera_100");
  EXPECT_EQ(CameraKeyName(-1), "Camera_00");  // no camera selected yet: the first camera's key
  EXPECT_EQ(SizeKeyName(9), "Size_09");
}

TEST(ColorModeTest, DefaultFollowsTheThreeQueries) {
  const struct {
    ColorModeQueries queries;
    int32_t mode;
  } cases[] = {
      {{true, true, true}, 2},   {{false, false, true}, 2}, {{true, true, false}, 1},
      {{false, true, false}, 1}, {{true, false, false}, 0}, {{false, false, false}, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DefaultColorMode(c.queries), c.mode)
        << c.queries.query1 << c.queries.query2 << c.queries.query3;
  }
}

TEST(ColorModeTest, StoredModeMovesToOneTheSensorSupports) {
  const struct {
    int32_t stored;
    ColorModeQueries queries;
    int32_t mode;
  } cases[] = {
      {3, {false, true, true}, 1},   // 32-bit needs query 1: 16-bit gray when available
      {3, {false, false, true}, 2},  // else 24-bit colour
      {2, {true, false, false}, 0},  // colour needs query 3
      {1, {true, false, true}, 2},   // 16-bit gray needs query 2
      {0, {false, false, false}, 0},  // 0 → 2 (no query 2) → 0 (no query 3)
      {4, {true, true, false}, 4},    // 48/64-bit are not adjusted
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AdjustColorMode(c.stored, c.queries), c.mode) << "stored " << c.stored;
  }
}

TEST_F(SettingsPersistenceTest, FirstSizeLoadCreatesTheDefaultTreeAndKeepsTheBuiltInSize) {
  SizeSettings size{4000, 3000, 1234, 999, 0, 0, 4};  // stands for the SDK object's values
  EXPECT_FALSE(Persistence().LoadSize(-1, kAllYes, size));
  EXPECT_EQ(size, (SizeSettings{4000, 3000, 1234, 999, 0, 0, 4}));

  EXPECT_EQ(session_.ReadDword(CameraKey(0), "Color"), 2);
  EXPECT_EQ(session_.ReadDword(CameraKey(0), "WaitTime"), 1);
  EXPECT_EQ(session_.ReadDword(CameraKey(0) + "\\Size_00", "Buf"), 4);
  EXPECT_FALSE(session_.KeyExists(root_ + "\\Size_00"));  // no presets below the root

  // The next load reads the entry just created.
  EXPECT_TRUE(Persistence().LoadSize(0, kAllYes, size));
  EXPECT_EQ(size, SizeSettings{});
}

TEST_F(SettingsPersistenceTest, DefaultTreeTakesItsColourModeFromTheQueriesAndOnlyOnce) {
  EXPECT_TRUE(Persistence().CreateDefaultTree(3, {true, true, false}));
  EXPECT_EQ(session_.ReadDword(CameraKey(3), "Color"), 1);
  EXPECT_FALSE(session_.KeyExists(CameraKey(0)));
  Write(CameraKey(3), "Color", 0);
  EXPECT_FALSE(Persistence().CreateDefaultTree(3, kAllYes));
  EXPECT_EQ(session_.ReadDword(CameraKey(3), "Color"), 0);
}

TEST_F(SettingsPersistenceTest, SizeNamingAMissingEntryLeavesTheSizeUnchanged) {
  Write(CameraKey(0), "Size", 5);
  WritePreset(CameraKey(0), 0, SizeSettings{});
  SizeSettings size{4000, 3000, 2000, 1000, 8, 6, 3};
  EXPECT_FALSE(Persistence().LoadSize(0, kAllYes, size));
  EXPECT_EQ(size, (SizeSettings{4000, 3000, 2000, 1000, 8, 6, 3}));
  // Likewise with no key for the camera at all.
  EXPECT_FALSE(Persistence().LoadSize(1, kAllYes, size));
  EXPECT_EQ(size, (SizeSettings{4000, 3000, 2000, 1000, 8, 6, 3}));
}

TEST_F(SettingsPersistenceTest, SizeLoadReadsTheNamedEntryAndChecksIt) {
  const std::string camera = CameraKey(2);
  WritePreset(camera, 0, SizeSettings{});
  WritePreset(camera, 1, SizeSettings{4000, 3000, 1920, 1080, 100, 200, 6});
  WritePreset(camera, 2, SizeSettings{4000, 3000, 1920, 1080, 3000, 200, 6});  // past the edge
  WritePreset(camera, 3, SizeSettings{5000, -1, 800, 600, 0, 0, 0});  // TH, TV, Buf out of range
  const struct {
    int32_t index;
    SizeSettings size;
  } cases[] = {
      {1, {4000, 3000, 1920, 1080, 100, 200, 6}},
      {2, {4000, 3000, 4000, 3000, 0, 0, 6}},  // window outside the sensor: full sensor, Buf kept
      {3, {4000, 3000, 800, 600, 0, 0, 4}},
      {100, SizeSettings{}},  // "Size" out of range reads Size_00
      {-1, SizeSettings{}},
  };
  for (const auto& c : cases) {
    Write(camera, "Size", c.index);
    SizeSettings size{1, 1, 1, 1, 0, 0, 1};
    EXPECT_TRUE(Persistence().LoadSize(2, kAllYes, size)) << c.index;
    EXPECT_EQ(size, c.size) << c.index;
  }
}

TEST_F(SettingsPersistenceTest, StreamLoadAdjustsTheColourModeAndKeepsAbsentValues) {
  const std::string camera = CameraKey(0);
  Write(camera, "Color", 3);
  StreamSettings stream{5, 17, 10, 2};
  EXPECT_TRUE(Persistence().LoadStream(0, {false, true, true}, stream));
  EXPECT_EQ(stream, (StreamSettings{1, 17, 10, 2}));  // 32-bit moved to 16-bit gray

  Write(camera, "SubSample", 17);
  Write(camera, "WaitTime", 0);
  Write(camera, "Clock", 1);
  EXPECT_TRUE(Persistence().LoadStream(0, kAllYes, stream));
  EXPECT_EQ(stream, (StreamSettings{3, 17, 0, 1}));

  // No camera key: nothing changes.
  StreamSettings untouched{4, 0, 25, 0};
  EXPECT_FALSE(Persistence().LoadStream(1, kAllYes, untouched));
  EXPECT_EQ(untouched, (StreamSettings{4, 0, 25, 0}));
}

TEST_F(SettingsPersistenceTest, StreamValuesOutOfRangeTakeTheirDefaults) {
  const std::string camera = CameraKey(0);
  const struct {
    int32_t color, subSample, waitTime, clock;
    ColorModeQueries queries;
    StreamSettings expected;
  } cases[] = {
      {6, 1, -1, 3, kAllYes, {2, 0, 1, 0}},
      {-1, 16, INT32_MIN, -1, {true, true, false}, {1, 0, 1, 0}},  // default colour of the sensor
  };
  for (const auto& c : cases) {
    Write(camera, "Color", c.color);
    Write(camera, "SubSample", c.subSample);
    Write(camera, "WaitTime", c.waitTime);
    Write(camera, "Clock", c.clock);
    StreamSettings stream{5, 17, 10, 1};
    EXPECT_TRUE(Persistence().LoadStream(0, c.queries, stream));
    EXPECT_EQ(stream, c.expected) << "colour " << c.color;
  }
}

TEST_F(SettingsPersistenceTest, MissingFilterAndGraySubkeysGiveTheDefaults) {
  FilterSettings filter{1, 2, 3, 4, 5, 6, 7, 8, 9, 1};
  GraySettings gray{1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_FALSE(Persistence().LoadFilter(0, filter));
  EXPECT_FALSE(Persistence().LoadGray(0, gray));
  EXPECT_EQ(filter, (FilterSettings{0, 0, 0, 0, 0, 100, 100, 100, 100, 2}));
  EXPECT_EQ(gray, (GraySettings{0, 128, 128, 128, 128, 128, 128, 128, 128}));
}

TEST_F(SettingsPersistenceTest, CameraSettingsRoundTripPerCamera) {
  CameraSettings first;
  first.analog = {100, 101, 102, 103, 104, 2500, 1, 1, 2, 1, 64, 0.25};
  first.filter = {-255, 127, -360, 255, 30, 0, 400, 55, 200, 0};
  first.gray = {2, 0, 255, 17, 18, -255, 255, 0, -1};
  CameraSettings second;
  second.analog = DeviceNow();
  second.analog.autoIris = 0;
  second.analog.gainMode = 0;
  EXPECT_TRUE(Persistence().SaveCamera(0, first));
  EXPECT_TRUE(Persistence().SaveCamera(1, second));

  CameraSettings loaded;
  Persistence().LoadCamera(0, DeviceNow(), DeviceLimits(), loaded);
  EXPECT_EQ(loaded, first);
  Persistence().LoadCamera(1, DeviceNow(), DeviceLimits(), loaded);
  EXPECT_EQ(loaded, second);

  // Every value is a REG_DWORD except the exposure time, eight bytes of REG_BINARY.
  const std::string gain = CameraKey(0) + "\\Gain";
  EXPECT_EQ(session_.ReadDword(gain, "Exposure"), 2500);
  EXPECT_EQ(session_.ReadDword(gain, "V_Mirror"), 1);
  EXPECT_EQ(session_.ReadDword(gain, "ExposureEx"), std::nullopt);
  EXPECT_EQ(session_.ReadBinary(gain, "ExposureEx"),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xd0, 0x3f}));
  EXPECT_EQ(session_.ReadDword(CameraKey(0) + "\\Filter", "BayerMode"), 0);
  EXPECT_EQ(session_.ReadDword(CameraKey(0) + "\\Gray", "OffsetB1"), -1);
}

TEST_F(SettingsPersistenceTest, FilterAndGrayValuesOutOfRangeTakeTheirDefaults) {
  const struct {
    const char* name;
    int32_t stored;
    int32_t FilterSettings::*member;
    int32_t loaded;
  } filterCases[] = {
      {"Brightness", 256, &FilterSettings::brightness, 0},
      {"Brightness", -255, &FilterSettings::brightness, -255},
      {"Contrast", -128, &FilterSettings::contrast, 0},
      {"Hue", 361, &FilterSettings::hue, 0},
      {"Saturation", -256, &FilterSettings::saturation, 0},
      {"Sharpness", 31, &FilterSettings::sharpness, 0},
      {"R_Gain", 401, &FilterSettings::rGain, 100},
      {"B_Gain", 400, &FilterSettings::bGain, 400},
      {"Gamma", 201, &FilterSettings::gamma, 100},
      {"BayerMode", 4, &FilterSettings::bayerMode, 2},
  };
  for (const auto& c : filterCases) {
    Write(CameraKey(0) + "\\Filter", c.name, c.stored);
    FilterSettings filter;
    ASSERT_TRUE(Persistence().LoadFilter(0, filter));
    EXPECT_EQ(filter.*c.member, c.loaded) << c.name << " stored " << c.stored;
  }
  const struct {
    const char* name;
    int32_t stored;
    int32_t GraySettings::*member;
    int32_t loaded;
  } grayCases[] = {
      {"Mode", 3, &GraySettings::mode, 0},
      {"GainR1", 256, &GraySettings::gainR, 128},
      {"GainG2", 0, &GraySettings::gainG2, 0},
      {"OffsetG1", -256, &GraySettings::offsetG1, 128},
      {"OffsetB1", -255, &GraySettings::offsetB, -255},
  };
  for (const auto& c : grayCases) {
    Write(CameraKey(0) + "\\Gray", c.name, c.stored);
    GraySettings gray;
    ASSERT_TRUE(Persistence().LoadGray(0, gray));
    EXPECT_EQ(gray.*c.member, c.loaded) << c.name << " stored " << c.stored;
  }
}

TEST_F(SettingsPersistenceTest, MissingOrDamagedAnalogValuesTakeTheDevicesValues) {
  AnalogSettings expectedDefaults = DeviceNow();
  expectedDefaults.autoIris = 0;
  expectedDefaults.gainMode = 0;

  AnalogSettings analog{};
  EXPECT_FALSE(Persistence().LoadAnalog(0, DeviceNow(), DeviceLimits(), analog));
  EXPECT_EQ(analog, expectedDefaults);

  // Every stored value outside the device's limits or its own range.
  const std::string gain = CameraKey(0) + "\\Gain";
  const struct {
    const char* name;
    int32_t value;
  } stored[] = {
      {"Global", 481},  {"ColorG1", -1}, {"ColorR", 481},   {"ColorB", 1000},
      {"ColorG2", -5},  {"Exposure", 0}, {"V_Mirror", 2},   {"H_Mirror", -1},
      {"AutoIris", 3},  {"GainMode", 2}, {"BlackLevel", 1024},
  };
  for (const auto& s : stored) Write(gain, s.name, s.value);
  const std::vector<std::vector<uint8_t>> badSeconds = {
      {0, 0, 0, 0, 0, 0, 0xe0},        // 7 bytes
      {0, 0, 0, 0, 0, 0, 0xf8, 0x7f},  // NaN
      {0, 0, 0, 0, 0, 0, 0x24, 0x40},  // 10 s, above the maximum
  };
  for (const auto& bytes : badSeconds) {
    ASSERT_TRUE(session_.WriteBinary(gain, "ExposureEx", bytes));
    analog = AnalogSettings{};
    EXPECT_TRUE(Persistence().LoadAnalog(0, DeviceNow(), DeviceLimits(), analog));
    EXPECT_EQ(analog, expectedDefaults);
  }
  // A DWORD where the double belongs is not taken either.
  ASSERT_TRUE(session_.WriteDword(gain, "ExposureEx", 1));
  EXPECT_TRUE(Persistence().LoadAnalog(0, DeviceNow(), DeviceLimits(), analog));
  EXPECT_EQ(analog.exposureEx, expectedDefaults.exposureEx);
}

TEST_F(SettingsPersistenceTest, PresetListStopsAtTheFirstGap) {
  EXPECT_TRUE(Persistence().ReadSizePresets().empty());
  WritePreset(root_, 0, {4000, 3000, 4000, 3000, 0, 0, 4});
  WritePreset(root_, 1, {4000, 3000, 1920, 1080, 1040, 960, 4});
  WritePreset(root_, 2, {4000, 3000, 1920, 1080, 0, 0, 8});
  WritePreset(root_, 4, {4000, 3000, 640, 480, 0, 0, 4});  // after the gap at 03: never read
  WritePreset(CameraKey(0), 3, {4000, 3000, 800, 600, 0, 0, 4});  // a camera's entry, not a preset
  std::vector<SizeSettings> presets = Persistence().ReadSizePresets();
  ASSERT_EQ(presets.size(), 3u);
  EXPECT_EQ(presets[1], (SizeSettings{4000, 3000, 1920, 1080, 1040, 960, 4}));

  EXPECT_EQ(Persistence().FindSizePreset(1920, 1080),
            (SizeSettings{4000, 3000, 1920, 1080, 1040, 960, 4}));  // the first match
  EXPECT_EQ(Persistence().FindSizePreset(4000, 3000), SizeSettings{});
  EXPECT_EQ(Persistence().FindSizePreset(640, 480), std::nullopt);
  EXPECT_EQ(Persistence().FindSizePreset(800, 600), std::nullopt);
  EXPECT_EQ(Persistence().FindSizePreset(1080, 1920), std::nullopt);
}

TEST_F(SettingsPersistenceTest, PresetKeepsItsWindowAsStoredForTheCallersGeometryCheck) {
  EXPECT_EQ(Persistence().FindSizePreset(4000, 3000), std::nullopt);  // no root key at all
  WritePreset(root_, 0, {9999, 0, 4000, 3000, 100, 0, 0});
  std::optional<SizeSettings> preset = Persistence().FindSizePreset(4000, 3000);
  ASSERT_TRUE(preset.has_value());
  EXPECT_EQ(*preset, (SizeSettings{4000, 3000, 4000, 3000, 100, 0, 4}));
  EXPECT_FALSE(WindowWithinSensor(*preset));
  // An entry without "EH" cannot be found by a width.
  WritePreset(root_, 1, SizeSettings{});
  ASSERT_TRUE(session_.CreateKey(root_ + "\\Size_02"));
  Write(root_ + "\\Size_02", "EV", 480);
  EXPECT_EQ(Persistence().ReadSizePresets().size(), 3u);
  EXPECT_EQ(Persistence().FindSizePreset(4000, 480), std::nullopt);
}

TEST_F(SettingsPersistenceTest, CameraDialogValuesAndSizeEntriesAreSavedAndReadBack) {
  EXPECT_TRUE(Persistence().SaveSizeEntry(4, 0, SizeSettings{}));
  EXPECT_TRUE(Persistence().SaveSizeEntry(4, 1, {4000, 3000, 2048, 1080, 976, 960, 4}));
  EXPECT_FALSE(Persistence().SaveSizeEntry(4, 100, SizeSettings{}));
  EXPECT_TRUE(Persistence().SaveStream(4, {0, 17, 5, 2}, 1));
  EXPECT_EQ(Persistence().ReadCameraSizeEntries(4).size(), 2u);

  SizeSettings size;
  StreamSettings stream;
  EXPECT_TRUE(Persistence().LoadSize(4, kAllYes, size));
  EXPECT_TRUE(Persistence().LoadStream(4, kAllYes, stream));
  EXPECT_EQ(size, (SizeSettings{4000, 3000, 2048, 1080, 976, 960, 4}));
  EXPECT_EQ(stream, (StreamSettings{0, 17, 5, 2}));
}

}  // namespace
}  // namespace orvane::output
