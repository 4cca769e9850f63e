#include "persistence/settings_persistence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temporary_store.h"

namespace orvane::persistence {
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
    for (const auto& row : kSizeValues) Write(parent + "\\" + SizeKeyName(index), row.name, size.*row.member);
  }

  orvane::testing::TemporarySettingsStore store_;
  SettingsSession session_;
  std::string root_;
};

TEST(ColorModeTest, DefaultAndStoredModesFollowTheSensorsQueries) {
  const struct {
    int32_t stored;  // -1: no stored mode, the default
    ColorModeQueries queries;
    int32_t mode;
  } cases[] = {
      {-1, {true, true, true}, 2},  {-1, {false, false, true}, 2}, {-1, {true, true, false}, 1},
      {-1, {false, true, false}, 1}, {-1, {true, false, false}, 0}, {-1, {false, false, false}, 2},
      {3, {false, true, true}, 1},   // 32-bit needs query 1: 16-bit gray when available
      {3, {false, false, true}, 2},  // else 24-bit colour
      {2, {true, false, false}, 0},  // colour needs query 3
      {1, {true, false, true}, 2},   // 16-bit gray needs query 2
      {0, {false, false, false}, 0},  // 0 → 2 (no query 2) → 0 (no query 3)
      {4, {true, true, false}, 4},    // 48/64-bit are not adjusted
  };
  for (const auto& c : cases) {
    int32_t mode = c.stored < 0 ? DefaultColorMode(c.queries) : AdjustColorMode(c.stored, c.queries);
    EXPECT_EQ(mode, c.mode) << "stored " << c.stored << " queries " << c.queries.gray8AndBgrx
                            << c.queries.gray16 << c.queries.color;
  }
}

TEST_F(SettingsPersistenceTest, FirstSizeLoadCreatesTheDefaultTreeOnceAndKeepsTheBuiltInSize) {
  SizeSettings size{4000, 3000, 1234, 999, 0, 0, 4};  // stands for the SDK object's values
  EXPECT_FALSE(Persistence().LoadSize(-1, {true, true, false}, size));
  EXPECT_EQ(size, (SizeSettings{4000, 3000, 1234, 999, 0, 0, 4}));
  EXPECT_EQ(session_.ReadDword(CameraKey(0), "Color"), 1);
  EXPECT_EQ(session_.ReadDword(CameraKey(0) + "\\Size_00", "Buf"), 4);
  EXPECT_FALSE(session_.KeyExists(root_ + "\\Size_00"));  // no presets below the root
  Write(CameraKey(0), "Color", 0);
  EXPECT_FALSE(Persistence().CreateDefaultTree(0, kAllYes));
  EXPECT_EQ(session_.ReadDword(CameraKey(0), "Color"), 0);
}

TEST_F(SettingsPersistenceTest, SizeLoadReadsTheNamedEntryAndChecksIt) {
  const std::string camera = CameraKey(2);
  WritePreset(camera, 0, SizeSettings{});
  WritePreset(camera, 1, SizeSettings{4000, 3000, 1920, 1080, 100, 200, 6});
  WritePreset(camera, 2, SizeSettings{4000, 3000, 1920, 1080, 3000, 200, 6});  // past the edge
  WritePreset(camera, 3, SizeSettings{5000, -1, 800, 600, 0, 0, 0});  // TH, TV, Buf out of range
  const SizeSettings kUnchanged{1, 1, 1, 1, 0, 0, 1};
  const struct {
    int32_t index;
    bool found;
    SizeSettings size;
  } cases[] = {
      {1, true, {4000, 3000, 1920, 1080, 100, 200, 6}},
      {2, true, {4000, 3000, 4000, 3000, 0, 0, 6}},  // window outside the sensor: full sensor, Buf kept
      {3, true, {4000, 3000, 800, 600, 0, 0, 4}},
      {100, true, SizeSettings{}},  // "Size" out of range reads Size_00
      {-1, true, SizeSettings{}},
      {5, false, kUnchanged},  // names a missing entry
  };
  for (const auto& c : cases) {
    Write(camera, "Size", c.index);
    SizeSettings size = kUnchanged;
    EXPECT_EQ(Persistence().LoadSize(2, kAllYes, size), c.found) << c.index;
    EXPECT_EQ(size, c.size) << c.index;
  }
  SizeSettings size = kUnchanged;
  EXPECT_FALSE(Persistence().LoadSize(1, kAllYes, size));  // no key for the camera at all
  EXPECT_EQ(size, kUnchanged);
  EXPECT_FALSE(Persistence().SaveSizeEntry(2, 100, SizeSettings{}));
}

TEST_F(SettingsPersistenceTest, StreamValuesOutOfRangeTakeTheirDefaults) {
  StreamSettings untouched{4, 0, 25, 0};
  EXPECT_FALSE(Persistence().LoadStream(0, kAllYes, untouched));  // no camera key: nothing changes
  EXPECT_EQ(untouched, (StreamSettings{4, 0, 25, 0}));
  const struct {
    int32_t color, subSample, waitTime, clock;
    ColorModeQueries queries;
    StreamSettings expected;
  } cases[] = {
      {6, 1, -1, 3, kAllYes, {2, 0, 1, 0}},
      {-1, 16, INT32_MIN, -1, {true, true, false}, {1, 0, 1, 0}},  // default colour of the sensor
      {3, 17, 0, 2, {false, true, true}, {1, 17, 0, 2}},          // 32-bit moved to 16-bit gray
  };
  for (const auto& c : cases) {
    Write(CameraKey(0), "Color", c.color);
    Write(CameraKey(0), "SubSample", c.subSample);
    Write(CameraKey(0), "WaitTime", c.waitTime);
    Write(CameraKey(0), "Clock", c.clock);
    StreamSettings stream{5, 17, 10, 1};
    EXPECT_TRUE(Persistence().LoadStream(0, c.queries, stream));
    EXPECT_EQ(stream, c.expected) << "colour " << c.color;
  }
}

TEST_F(SettingsPersistenceTest, CameraSettingsRoundTripWithAnEightByteBinaryExposure) {
  CameraSettings first;
  first.analog = {100, 101, 102, 103, 104, 2500, 1, 1, 2, 1, 64, 0.25};
  // Filter values (brightness .. Bayer mode), then gray mode, gains and offsets, each at an awkward point.
  const int32_t kStored[][2] = {
      {ORVANE_FILTER_BRIGHTNESS, -255}, {ORVANE_FILTER_CONTRAST, 127},     {ORVANE_FILTER_HUE, -360},
      {ORVANE_FILTER_SATURATION, 255},  {ORVANE_FILTER_SHARPNESS, 30},     {ORVANE_FILTER_BAYER_GAIN_RED, 0},
      {ORVANE_FILTER_BAYER_GAIN_GREEN, 400}, {ORVANE_FILTER_BAYER_GAIN_BLUE, 55}, {ORVANE_FILTER_GAMMA, 200},
      {ORVANE_FILTER_BAYER_MODE, 0},    {ORVANE_FILTER_GRAY_MODE, 2},      {ORVANE_FILTER_GRAY_GAIN_R, 0},
      {ORVANE_FILTER_GRAY_GAIN_G1, 255}, {ORVANE_FILTER_GRAY_GAIN_G2, 17}, {ORVANE_FILTER_GRAY_GAIN_B, 18},
      {ORVANE_FILTER_GRAY_OFFSET_R, -255}, {ORVANE_FILTER_GRAY_OFFSET_G1, 255}, {ORVANE_FILTER_GRAY_OFFSET_G2, 0},
      {ORVANE_FILTER_GRAY_OFFSET_B, -1},
  };
  for (const auto& [id, value] : kStored) first.image.Set(id, value);
  EXPECT_TRUE(Persistence().SaveCamera(1, first));
  CameraSettings loaded;
  Persistence().LoadCamera(1, DeviceNow(), DeviceLimits(), loaded);
  EXPECT_EQ(loaded, first);
  const std::string gain = CameraKey(1) + "\\Gain";
  EXPECT_EQ(session_.ReadDword(gain, "ExposureEx"), std::nullopt);
  EXPECT_EQ(session_.ReadBinary(gain, "ExposureEx"), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xd0, 0x3f}));
}

TEST_F(SettingsPersistenceTest, FilterAndGrayValuesOutOfRangeTakeTheirDefaults) {
  const struct {
    const char* name;
    int32_t stored;
    int id;
    int32_t loaded;
  } filterCases[] = {
      {"Brightness", 256, ORVANE_FILTER_BRIGHTNESS, 0}, {"Brightness", -255, ORVANE_FILTER_BRIGHTNESS, -255},
      {"Contrast", -128, ORVANE_FILTER_CONTRAST, 0},    {"Hue", 361, ORVANE_FILTER_HUE, 0},
      {"R_Gain", 401, ORVANE_FILTER_BAYER_GAIN_RED, 100}, {"B_Gain", 400, ORVANE_FILTER_BAYER_GAIN_BLUE, 400},
      {"Gamma", 201, ORVANE_FILTER_GAMMA, 100},         {"BayerMode", 4, ORVANE_FILTER_BAYER_MODE, 2},
  };
  for (const auto& c : filterCases) {
    Write(CameraKey(0) + "\\Filter", c.name, c.stored);
    ImageValues filter;
    ASSERT_TRUE(Persistence().LoadFilter(0, filter));
    EXPECT_EQ(filter.Get(c.id), c.loaded) << c.name << " stored " << c.stored;
  }
  Write(CameraKey(0) + "\\Gray", "GainR1", 256);
  ImageValues gray;
  ASSERT_TRUE(Persistence().LoadGray(0, gray));
  EXPECT_EQ(gray.Get(ORVANE_FILTER_GRAY_GAIN_R), 128);
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
      {"Global", 481}, {"ColorG1", -1},   {"ColorR", 481},   {"ColorB", 1000}, {"ColorG2", -5},      {"Exposure", 0},
      {"V_Mirror", 2}, {"H_Mirror", -1},  {"AutoIris", 3},   {"GainMode", 2},  {"BlackLevel", 1024},
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
  ASSERT_TRUE(session_.WriteDword(gain, "ExposureEx", 1));  // a DWORD where the double belongs
  EXPECT_TRUE(Persistence().LoadAnalog(0, DeviceNow(), DeviceLimits(), analog));
  EXPECT_EQ(analog.exposureEx, expectedDefaults.exposureEx);
}

TEST_F(SettingsPersistenceTest, PresetListStopsAtTheFirstGapAndKeepsItsWindowAsStored) {
  EXPECT_EQ(Persistence().FindSizePreset(4000, 3000), std::nullopt);  // no root key at all
  WritePreset(root_, 0, {9999, 0, 4000, 3000, 100, 0, 0});
  WritePreset(root_, 1, {4000, 3000, 1920, 1080, 1040, 960, 4});
  WritePreset(root_, 2, {4000, 3000, 1920, 1080, 0, 0, 8});
  WritePreset(root_, 4, {4000, 3000, 640, 480, 0, 0, 4});  // after the gap at 03: never read
  WritePreset(CameraKey(0), 3, {4000, 3000, 800, 600, 0, 0, 4});  // a camera's entry, not a preset
  EXPECT_EQ(Persistence().ReadSizePresets().size(), 3u);
  EXPECT_EQ(Persistence().FindSizePreset(1920, 1080), (SizeSettings{4000, 3000, 1920, 1080, 1040, 960, 4}));
  std::optional<SizeSettings> preset = Persistence().FindSizePreset(4000, 3000);
  ASSERT_TRUE(preset.has_value());
  EXPECT_EQ(*preset, (SizeSettings{4000, 3000, 4000, 3000, 100, 0, 4}));
  EXPECT_FALSE(WindowWithinSensor(*preset));  // left for the caller's geometry check
  for (auto [width, height] : {std::pair{640, 480}, {800, 600}, {1080, 1920}}) {
    EXPECT_EQ(Persistence().FindSizePreset(width, height), std::nullopt) << width;
  }
}

}  // namespace
}  // namespace orvane::persistence
