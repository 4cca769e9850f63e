// The image settings part on its own: the filter table's ranges at the exports' edge, the pipeline
// hand-over, and the change notifications (once per real change, none for a no-op).
#include "settings/image_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace orvane::settings {
namespace {

// Records every notification.
struct Recorder {
  explicit Recorder(SettingsNotifier& notifier) {
    notifier.Subscribe([this](int setting) { seen.push_back(setting); });
  }
  std::vector<int> seen;
};

// A value of `row` that differs from its default.
int32_t OtherThanDefault(const FilterRow& row) {
  return row.defaultValue == row.range.max ? row.range.min : row.range.max;
}

TEST(ImageSettings, EveryRangedRowTakesItsEndsRefusesJustOutsideAndAnnouncesOnlyRealChanges) {
  for (const FilterRow& row : kFilters) {
    if (row.kind != FilterKind::kStored && row.kind != FilterKind::kStoredSetOnly) continue;
    SettingsNotifier notifier;
    ImageSettings settings(notifier);
    Recorder recorder(notifier);
    EXPECT_EQ(settings.Set(row.id, row.range.max + 1), SettingStatus::kArgument) << row.id;
    EXPECT_EQ(settings.Set(row.id, row.range.min - 1), SettingStatus::kArgument) << row.id;
    EXPECT_EQ(settings.Values().Get(row.id), row.defaultValue) << row.id;
    EXPECT_EQ(settings.Set(row.id, row.defaultValue), SettingStatus::kOk) << row.id;  // a no-op
    EXPECT_TRUE(recorder.seen.empty()) << row.id;
    EXPECT_EQ(settings.Set(row.id, OtherThanDefault(row)), SettingStatus::kOk) << row.id;
    EXPECT_EQ(settings.Set(row.id, OtherThanDefault(row)), SettingStatus::kOk) << row.id;
    EXPECT_EQ(recorder.seen, std::vector<int>{row.id});
    int32_t value = 0;
    if (row.kind == FilterKind::kStored) {
      ASSERT_EQ(settings.Get(row.id, &value), SettingStatus::kOk) << row.id;
      EXPECT_EQ(value, OtherThanDefault(row)) << row.id;
    } else {
      EXPECT_EQ(settings.Get(row.id, &value), SettingStatus::kArgument) << row.id;  // set only
    }
  }
}

TEST(ImageSettings, ForwardedAndUnknownIdsAreNotImageSettings) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  int32_t value = 0;
  for (int id : {ORVANE_FILTER_GLOBAL_GAIN, ORVANE_FILTER_EXPOSURE_TIME, ORVANE_FILTER_PELTIER, 29, 36, 0, 107}) {
    EXPECT_EQ(settings.Set(id, 0), SettingStatus::kArgument) << id;
    EXPECT_EQ(settings.Get(id, &value), SettingStatus::kArgument) << id;
  }
}

TEST(ImageSettings, PackedBayerGainsSplitIntoTheThreeGainsAndAnnounceEachChangedOne) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  Recorder recorder(notifier);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_BAYER_GAIN_RGB, 100 + 50 * 256 + 200 * 65536), SettingStatus::kOk);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BAYER_GAIN_RED), 100);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BAYER_GAIN_GREEN), 50);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BAYER_GAIN_BLUE), 200);
  // Red stayed at its default of 100: only green and blue changed.
  EXPECT_EQ(recorder.seen, (std::vector<int>{ORVANE_FILTER_BAYER_GAIN_GREEN, ORVANE_FILTER_BAYER_GAIN_BLUE}));
  int32_t packed = 0;
  ASSERT_EQ(settings.Get(ORVANE_FILTER_BAYER_GAIN_RGB, &packed), SettingStatus::kOk);
  EXPECT_EQ(packed, 100 + 50 * 256 + 200 * 65536);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_BAYER_GAIN_AUTO, -7), SettingStatus::kOk);  // any value is a switch
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 1);
}

TEST(ImageSettings, TheSnapshotCarriesEveryPipelineRowIntoItsField) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  for (const FilterRow& row : kFilters) {
    if (row.pipeline == nullptr || row.kind == FilterKind::kSwitch) continue;
    ASSERT_EQ(settings.Set(row.id, OtherThanDefault(row)), SettingStatus::kOk) << row.id;
  }
  ASSERT_EQ(settings.SetAutoIris(2), SettingStatus::kOk);
  image::PipelineSettings snapshot;
  settings.Snapshot(snapshot);
  // Fields named here once more, by hand, so that a row pointing at the wrong field is caught.
  EXPECT_EQ(snapshot.brightness, 255);
  EXPECT_EQ(snapshot.contrast, 127);
  EXPECT_EQ(snapshot.hue, 360);
  EXPECT_EQ(snapshot.gamma, 200);
  EXPECT_EQ(snapshot.bayerPhase, 3);
  EXPECT_EQ(snapshot.bayerGainGreen, 400);
  EXPECT_EQ(snapshot.grayMode, 2);
  EXPECT_EQ(snapshot.grayGain[0], 255);
  EXPECT_EQ(snapshot.grayGain[3], 255);
  EXPECT_EQ(snapshot.grayOffset[2], 255);
  EXPECT_EQ(snapshot.autoGrayBalance, 1);
  EXPECT_EQ(snapshot.dotFilter, 1);
  EXPECT_EQ(snapshot.maskFilter, 1);
  EXPECT_EQ(snapshot.autoIris, 2);
}

TEST(ImageSettings, TheAutomaticBalancesAnnounceWhatTheyChangedOnce) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_BAYER_GAIN_AUTO, 1), SettingStatus::kOk);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_28, 1), SettingStatus::kOk);
  Recorder recorder(notifier);
  image::PipelineUpdates updates;
  updates.whiteBalanceMeasured = updates.whiteBalanceFinished = true;
  updates.bayerGainRed = 120;
  updates.bayerGainGreen = 100;  // unchanged
  updates.bayerGainBlue = 80;
  updates.grayBalanceMeasured = true;
  for (int i = 0; i < 4; ++i) updates.grayGain[i] = i == 1 ? 128 : 130 + i;  // G1 unchanged
  settings.StoreFrameUpdates(updates);
  EXPECT_EQ(recorder.seen, (std::vector<int>{ORVANE_FILTER_BAYER_GAIN_RED, ORVANE_FILTER_BAYER_GAIN_BLUE,
                                             ORVANE_FILTER_BAYER_GAIN_AUTO, ORVANE_FILTER_GRAY_GAIN_R,
                                             ORVANE_FILTER_GRAY_GAIN_G2, ORVANE_FILTER_GRAY_GAIN_B, ORVANE_FILTER_28}));
  recorder.seen.clear();
  settings.StoreFrameUpdates(updates);  // the same measurement again changes nothing
  EXPECT_TRUE(recorder.seen.empty());
}

TEST(ImageSettings, RestoringWithoutStoredFiltersSwitchesTheAutomaticBalanceOffButKeepsTheCorrections) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_BAYER_GAIN_AUTO, 1), SettingStatus::kOk);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_DOT, 1), SettingStatus::kOk);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_BRIGHTNESS, 9), SettingStatus::kOk);
  settings.Restore(ImageValues{}, true);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 1);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BRIGHTNESS), 0);
  settings.ResetToDefaults();
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 0);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_DOT), 1);
}

TEST(ImageSettings, WhiteBalanceOnceRunsOnOneFrameAndClearsTheSwitchWithItsMarkers) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  Recorder recorder(notifier);
  settings.RequestWhiteBalanceOnce();
  image::PipelineSettings frame;
  settings.Snapshot(frame);
  EXPECT_EQ(frame.autoWhiteBalance, 1);
  EXPECT_EQ(frame.whiteBalanceOnce[0], 1);
  EXPECT_EQ(frame.whiteBalanceOnce[1], 1);
  EXPECT_EQ(recorder.seen, std::vector<int>{ORVANE_FILTER_BAYER_GAIN_AUTO});
  image::PipelineUpdates measured;
  measured.whiteBalanceMeasured = measured.whiteBalanceFinished = true;
  measured.bayerGainRed = 150;
  measured.bayerGainGreen = 100;
  measured.bayerGainBlue = 70;
  settings.StoreFrameUpdates(measured);
  settings.Snapshot(frame);
  EXPECT_EQ(frame.autoWhiteBalance, 0);
  EXPECT_EQ(frame.whiteBalanceOnce[0] | frame.whiteBalanceOnce[1], 0);
  EXPECT_EQ(frame.bayerGainRed, 150);
  EXPECT_EQ(frame.bayerGainBlue, 70);
}

TEST(ImageSettings, ContinuousGrayBalanceAsksForTheNextMeasurementAfterEachOne) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  image::PipelineUpdates measured;
  measured.grayBalanceMeasured = true;
  measured.grayGain[0] = measured.grayGain[1] = measured.grayGain[2] = measured.grayGain[3] = 140;
  settings.SetGrayBalanceContinuous(true);
  EXPECT_TRUE(settings.GrayBalanceContinuous());
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_28), 1);
  settings.StoreFrameUpdates(measured);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_28), 1);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_GRAY_GAIN_B), 140);
  settings.SetGrayBalanceContinuous(false);
  settings.StoreFrameUpdates(measured);
  EXPECT_EQ(settings.Values().Get(ORVANE_FILTER_28), 0);  // the last request was consumed
}

TEST(ImageSettings, ReinstatingASavedStatePutsBackValuesSwitchesAndMarkersAndAnnouncesThem) {
  SettingsNotifier notifier;
  ImageSettings settings(notifier);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_GAMMA, 80), SettingStatus::kOk);
  const ImageSettings::State saved = settings.Save();
  ASSERT_EQ(settings.Set(ORVANE_FILTER_GAMMA, 150), SettingStatus::kOk);
  ASSERT_EQ(settings.Set(ORVANE_FILTER_GRAY_OFFSET_G1, -20), SettingStatus::kOk);
  settings.RequestWhiteBalanceOnce();
  settings.SetGrayBalanceContinuous(true);
  Recorder recorder(notifier);
  settings.Reinstate(saved);
  EXPECT_EQ(settings.Values(), saved.values);
  EXPECT_FALSE(settings.GrayBalanceContinuous());
  image::PipelineSettings frame;
  settings.Snapshot(frame);
  EXPECT_EQ(frame.whiteBalanceOnce[0] | frame.whiteBalanceOnce[1] | frame.autoWhiteBalance, 0);
  std::vector<int> expected{ORVANE_FILTER_BAYER_GAIN_AUTO, ORVANE_FILTER_GAMMA, ORVANE_FILTER_GRAY_OFFSET_G1,
                            ORVANE_FILTER_28};
  std::sort(recorder.seen.begin(), recorder.seen.end());
  EXPECT_EQ(recorder.seen, expected);
}

TEST(SettingsNotifier, AnUnsubscribedListenerIsNoLongerCalled) {
  SettingsNotifier notifier;
  int first = 0, second = 0;
  const int token = notifier.Subscribe([&](int) { ++first; });
  notifier.Subscribe([&](int) { ++second; });
  notifier.Notify(1);
  notifier.Unsubscribe(token);
  notifier.Notify(1);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
}

}  // namespace
}  // namespace orvane::settings
