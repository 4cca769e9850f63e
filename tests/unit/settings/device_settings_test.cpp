// The device settings part against a small fake of the device object: ranges are the device's,
// check and set happen as one unit, the cache is applied in the device's order, and changes are
// announced once.
#include "settings/device_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::settings {
namespace {

// Gains 0..480, exposure 1..30000; records the settings calls in order. The first global-gain maximum
// query can be held until released, to see whether another settings call gets in meanwhile.
class FakeDevice : public COrvaneR3O5Base {
 public:
  bool GetGlobalGainMin(int32_t* v) override { return Range(v, 0, "GlobalMin"); }
  bool GetGlobalGainMax(int32_t* v) override {
    Log("GlobalMax");
    HoldIfAsked();
    *v = 480;
    return 1;
  }
  bool GetColorGainMin(int32_t* v) override { return Range(v, 0, "ColorMin"); }
  bool GetColorGainMax(int32_t* v) override { return Range(v, 480, "ColorMax"); }
  bool GetExposureTimeMin(int32_t* v) override { return Range(v, 1, "ExposureMin"); }
  bool GetExposureTimeMax(int32_t* v) override { return Range(v, 30000, "ExposureMax"); }
  bool SetGlobalGain(int32_t v) override { return Set("Global", v); }
  bool SetColorGainRed(int32_t v) override { return Set("R", v); }
  bool SetColorGainGreen1(int32_t v) override { return Set("G1", v); }
  bool SetColorGainGreen2(int32_t v) override { return Set("G2", v); }
  bool SetColorGainBlue(int32_t v) override { return Set("B", v); }
  bool SetExposureTime(int32_t v) override { return Set("Exposure", v); }
  bool HasExposureTimeEx() override { return 0; }
  bool SetMirrorV(int32_t v) override { return Set("MirrorV", v); }
  bool SetMirrorH(int32_t v) override { return Set("MirrorH", v); }
  bool HasBlackLevel() override { return 1; }
  bool SetBlackLevel(int32_t v) override { return Set("BlackLevel", v); }
  bool HasPeltier() override { return 0; }
  bool HasShortExposureMode() override { return 0; }
  bool HasGainMode() override { return 1; }
  bool SetGainMode(int32_t v) override { return Set("GainMode", v); }

  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void HoldNextGlobalMax() { hold_ = true; }
  void WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(30), [&] { return held_; }));
  }
  // Waits for another thread to make a settings call while the hold lasts: it must not come, so this
  // waits out its limit when the part is sound (and returns at once when it is not).
  void ReleaseAfterOtherCallOrLimit(size_t callsWhenHeld) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(1), [&] { return calls_.size() > callsWhenHeld; });
    released_ = true;
    changed_.notify_all();
  }

 private:
  int Range(int32_t* v, int32_t value, const char* name) {
    Log(name);
    *v = value;
    return 1;
  }
  int Set(const char* name, int32_t v) {
    Log(std::string(name) + "=" + std::to_string(v));
    return 1;
  }
  void Log(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    changed_.notify_all();
  }
  void HoldIfAsked() {
    std::unique_lock lock(mutex_);
    if (!hold_) return;
    hold_ = false;
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  bool hold_ = false, held_ = false, released_ = false;
};

struct Recorder {
  explicit Recorder(SettingsNotifier& notifier) {
    notifier.Subscribe([this](int setting) { seen.push_back(setting); });
  }
  std::vector<int> seen;
};

TEST(DeviceSettings, GainsAndExposureOutsideTheDevicesRangeAreRefusedBeforeTheDeviceIsSet) {
  const struct {
    int id;
    int32_t below, above, inside;
  } kCases[] = {
      {ORVANE_FILTER_GLOBAL_GAIN, -1, 481, 480},      {ORVANE_FILTER_COLOR_GAIN_RED, -1, 481, 0},
      {ORVANE_FILTER_COLOR_GAIN_GREEN1, -1, 481, 7},  {ORVANE_FILTER_COLOR_GAIN_GREEN2, -1, 481, 8},
      {ORVANE_FILTER_COLOR_GAIN_BLUE, -1, 481, 9},    {ORVANE_FILTER_EXPOSURE_TIME, 0, 30001, 30000},
  };
  for (const auto& c : kCases) {
    FakeDevice device;
    SettingsNotifier notifier;
    DeviceSettings settings(notifier);
    Recorder recorder(notifier);
    EXPECT_EQ(settings.Set(device, c.id, c.below), SettingStatus::kArgument) << c.id;
    EXPECT_EQ(settings.Set(device, c.id, c.above), SettingStatus::kArgument) << c.id;
    for (const std::string& call : device.Calls()) EXPECT_EQ(call.find('='), std::string::npos) << c.id << call;
    EXPECT_TRUE(recorder.seen.empty()) << c.id;
    EXPECT_EQ(settings.Set(device, c.id, c.inside), SettingStatus::kOk) << c.id;
    EXPECT_EQ(recorder.seen.size(), c.inside == 0 ? 0u : c.id == ORVANE_FILTER_GLOBAL_GAIN ? 5u : 1u) << c.id;
  }
}

TEST(DeviceSettings, TheGlobalGainSetsEveryCachedColourGainAndIsAppliedInTheDevicesOrder) {
  FakeDevice device;
  SettingsNotifier notifier;
  DeviceSettings settings(notifier);
  ASSERT_EQ(settings.Set(device, ORVANE_FILTER_GLOBAL_GAIN, 33), SettingStatus::kOk);
  ASSERT_EQ(settings.Set(device, ORVANE_FILTER_COLOR_GAIN_BLUE, 44), SettingStatus::kOk);
  ASSERT_EQ(settings.Set(device, ORVANE_FILTER_EXPOSURE_TIME, 250), SettingStatus::kOk);
  settings.SetMirror(device, true, 5);
  FakeDevice fresh;
  settings.ApplyToCamera(fresh);
  EXPECT_EQ(fresh.Calls(), (std::vector<std::string>{"Global=33", "G1=33", "R=33", "B=44", "G2=33", "Exposure=250",
                                                      "MirrorV=1", "MirrorH=0", "BlackLevel=0", "GainMode=0"}));
  EXPECT_EQ(settings.RealExposure(), 25000);
}

TEST(DeviceSettings, AnotherSettingsCallWaitsUntilACheckAndItsSetAreDone) {
  FakeDevice device;
  SettingsNotifier notifier;
  DeviceSettings settings(notifier);
  device.HoldNextGlobalMax();
  std::thread first([&] { EXPECT_EQ(settings.Set(device, ORVANE_FILTER_GLOBAL_GAIN, 100), SettingStatus::kOk); });
  device.WaitUntilHeld();
  const size_t callsWhenHeld = device.Calls().size();
  std::thread second([&] { settings.ApplyToCamera(device); });
  device.ReleaseAfterOtherCallOrLimit(callsWhenHeld);
  first.join();
  second.join();
  const std::vector<std::string> calls = device.Calls();
  ASSERT_GE(calls.size(), 4u);
  // The range check and its set follow each other with nothing of the other call between them.
  EXPECT_EQ((std::vector<std::string>(calls.begin(), calls.begin() + 3)),
            (std::vector<std::string>{"GlobalMin", "GlobalMax", "Global=100"}));
  EXPECT_EQ(calls[3], "Global=100");  // the whole cache applied after, with the new gain
}

TEST(DeviceSettings, AutomaticStepsAreCachedAndAnnouncedOnlyWhenTheyChangeSomething) {
  FakeDevice device;
  SettingsNotifier notifier;
  DeviceSettings settings(notifier);
  Recorder recorder(notifier);
  ASSERT_TRUE(settings.ApplyAutomaticExposure(device, 120));
  ASSERT_TRUE(settings.ApplyAutomaticExposure(device, 120));
  EXPECT_EQ(recorder.seen, std::vector<int>{ORVANE_FILTER_EXPOSURE_TIME});
  EXPECT_EQ(settings.Exposure(), 120);
  recorder.seen.clear();
  ASSERT_TRUE(settings.ApplyAutomaticGain(device, 60));
  EXPECT_EQ(recorder.seen.size(), 5u);  // the global gain and the four cached colour gains
  EXPECT_EQ(settings.GlobalGain(), 60);
  EXPECT_EQ(settings.Values().colorG2, 60);
}

TEST(DeviceSettings, UnsupportedOptionsAndTheTemperatureAreRefusedWithTheirCodes) {
  FakeDevice device;
  SettingsNotifier notifier;
  DeviceSettings settings(notifier);
  int32_t value = 0;
  EXPECT_EQ(settings.Set(device, ORVANE_FILTER_PELTIER, 1), SettingStatus::kNotSupported);
  EXPECT_EQ(settings.Get(device, ORVANE_FILTER_PELTIER, &value), SettingStatus::kNotSupported);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(settings.Get(device, ORVANE_FILTER_TEMPERATURE, &value), SettingStatus::kNotSupported);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(settings.Set(device, ORVANE_FILTER_TEMPERATURE, 1), SettingStatus::kArgument);
  EXPECT_EQ(settings.Set(device, ORVANE_FILTER_SHORT_EXPOSURE, 1), SettingStatus::kNotSupported);
  EXPECT_EQ(settings.Set(device, ORVANE_FILTER_BLACK_LEVEL, 12), SettingStatus::kOkRecorded);
  EXPECT_EQ(settings.Values().blackLevel, 12);
  EXPECT_EQ(settings.Set(device, ORVANE_FILTER_BRIGHTNESS, 1), SettingStatus::kArgument);  // an image row
}

}  // namespace
}  // namespace orvane::settings
