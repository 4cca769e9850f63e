// The SDK object's settings parts against one virtual camera: a change through a filter export is
// announced once (a no-op not at all), and what one object saves at release the next one loads and
// announces.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sdk/orvane.h"
#include "test_camera.h"
#include "test_settings.h"

namespace {

struct Recorder {
  explicit Recorder(COrvane& sdk) { sdk.SettingsNotifications().Subscribe([this](int id) { seen.push_back(id); }); }
  int Count(int id) const { return static_cast<int>(std::count(seen.begin(), seen.end(), id)); }
  std::vector<int> seen;
};

TEST(SettingsNotifications, AFilterChangeIsAnnouncedOnceAndANoOpNotAtAll) {
  ASSERT_TRUE(kOneVirtualCamera);
  UseFreshSettingsStore();
  COrvane sdk;
  ASSERT_TRUE(sdk.Setup(nullptr));
  Recorder recorder(sdk);
  ASSERT_EQ(sdk.SetFilterValue(ORVANE_FILTER_BRIGHTNESS, 10), 1);
  ASSERT_EQ(sdk.SetFilterValue(ORVANE_FILTER_BRIGHTNESS, 10), 1);
  EXPECT_EQ(sdk.SetFilterValue(ORVANE_FILTER_BRIGHTNESS, 256), 0);  // refused: nothing changes
  EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_ARGUMENT);
  ASSERT_EQ(sdk.SetMirrorH(1), 1);
  ASSERT_EQ(sdk.SetAutoIris(2), 1);
  EXPECT_EQ(recorder.seen, (std::vector<int>{ORVANE_FILTER_BRIGHTNESS, orvane::settings::kMirrorHSetting,
                                             orvane::settings::kAutoIrisSetting}));
}

TEST(SettingsNotifications, SettingsSavedAtReleaseAreLoadedAndAnnouncedByTheNextObject) {
  ASSERT_TRUE(kOneVirtualCamera);
  UseFreshSettingsStore();
  {
    COrvane first;
    ASSERT_TRUE(first.Setup(nullptr));
    ASSERT_EQ(first.SetFilterValue(ORVANE_FILTER_GAMMA, 150), 1);
    ASSERT_EQ(first.SetFilterValue(ORVANE_FILTER_GRAY_OFFSET_B, -7), 1);
    ASSERT_EQ(first.SetMirrorV(1), 1);
  }
  COrvane second;
  Recorder recorder(second);
  ASSERT_TRUE(second.Setup(nullptr));
  int ok = 0;
  EXPECT_EQ(second.GetFilterValue(ORVANE_FILTER_GAMMA, &ok), 150);
  EXPECT_EQ(second.GetFilterValue(ORVANE_FILTER_GRAY_OFFSET_B, &ok), -7);
  EXPECT_EQ(second.GetMirrorV(), 1);
  EXPECT_EQ(recorder.Count(ORVANE_FILTER_GAMMA), 1);  // from its default to the stored value
  EXPECT_EQ(recorder.Count(orvane::settings::kMirrorVSetting), 1);
}

}  // namespace
