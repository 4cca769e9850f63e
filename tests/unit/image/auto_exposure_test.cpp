#include "image/auto_exposure.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orvane::image {
namespace {

// A small fake of the device's exposure and gain setters.
class FakeExposure : public ExposureControl {
 public:
  int gain = 10, gainMin = 1, gainMax = 64;
  int exposure = 1000, exposureMin = 1, exposureMax = 30000;
  int setGainCalls = 0, setExposureCalls = 0;
  int GetGlobalGain() override { return gain; }
  int GetGlobalGainMin() override { return gainMin; }
  int GetGlobalGainMax() override { return gainMax; }
  bool SetGlobalGain(int g) override {
    ++setGainCalls;
    gain = g;
    return true;
  }
  int GetExposure() override { return exposure; }
  int GetExposureMin() override { return exposureMin; }
  int GetExposureMax() override { return exposureMax; }
  bool SetExposure(int e) override {
    ++setExposureCalls;
    exposure = e;
    return true;
  }
};

void Fill(DibImage& img, int bits, int level) {
  EXPECT_TRUE(img.Create(100, 50, bits));
  if (bits == 8) {
    std::memset(img.Bits(), level, img.SizeBytes());
  } else {
    for (int y = 0; y < 50; ++y) {
      for (int x = 0; x < 100; ++x) reinterpret_cast<uint16_t*>(img.Row(y))[x] = static_cast<uint16_t>(level << 8 | 0xFF);
    }
  }
}

// A uniform 100 × 50 frame; 16-bit samples get the level as high byte and a full low byte.
struct Uniform : DibImage {
  Uniform(int bits, int level) { Fill(*this, bits, level); }
};

TEST(AutoExposure, FactorFromTheFiveWindows) {
  struct Case {
    int means[5];
    double d;
  };
  const Case kCases[] = {{{130, 130, 130, 130, 130}, 1.0},  {{201, 201, 201, 201, 201}, 0.85 - 4 * 0.15},
                         {{161, 100, 99, 50, 49}, 0.9 + 0.05 + 0.05 + 0.1},
                         {{49, 161, 200, 100, 160}, 1.1 - 0.1 - 0.1},
                         {{99, 0, 0, 0, 0}, 1.05 + 0.4}};
  for (const Case& c : kCases) EXPECT_DOUBLE_EQ(ExposureFactor(c.means), c.d);
  const int bright[5] = {255, 255, 255, 255, 255};
  EXPECT_EQ(ExposureFactor(bright), 0.24999999999999992);
}

TEST(AutoExposure, MidGraySceneChangesNothing) {
  for (int level : {100, 130, 160}) {
    FakeExposure fake;
    Uniform img(8, level);
    EXPECT_FALSE(RunAutoExposure(img, AutoIrisMode::kExposure, fake).changed);
    EXPECT_FALSE(RunAutoExposure(img, AutoIrisMode::kGain, fake).changed);
    EXPECT_EQ(fake.setExposureCalls + fake.setGainCalls, 0);
  }
}

TEST(AutoExposure, BrightSceneScalesExposureByAQuarter) {
  FakeExposure fake;
  Uniform img(8, 250);
  const AutoExposureResult r = RunAutoExposure(img, AutoIrisMode::kExposure, fake);
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(fake.exposure, 249);  // (int)(1000 × 0.24999999999999992)
  EXPECT_EQ(r.value, 249);
}

TEST(AutoExposure, SixteenBitFramesAreMeasuredByTheirHighByte) {
  // High byte 130 (mid gray) with a full low byte: measured as 130, so nothing changes.
  FakeExposure fake;
  Uniform img(16, 130);
  EXPECT_FALSE(RunAutoExposure(img, AutoIrisMode::kExposure, fake).changed);
}

TEST(AutoExposure, GainModeFloorsAndLimits) {
  FakeExposure fake;
  fake.gain = 1;  // below the floor of 4
  Uniform dark(8, 10);  // d = 1.1 + 4 × 0.1 = 1.5
  RunAutoExposure(dark, AutoIrisMode::kGain, fake);
  EXPECT_EQ(fake.gain, 6);
  fake.gain = 60;
  RunAutoExposure(dark, AutoIrisMode::kGain, fake);
  EXPECT_EQ(fake.gain, 64);  // limited to the maximum
  Uniform bright(8, 250);
  fake.gainMin = 20;
  RunAutoExposure(bright, AutoIrisMode::kGain, fake);
  EXPECT_EQ(fake.gain, 20);
}

TEST(AutoExposure, ExposureModeKeepsAtLeastOneAndSaturatesAt16Bits) {
  FakeExposure fake;
  fake.exposure = 2;
  fake.exposureMin = 0;
  Uniform bright(8, 250);
  RunAutoExposure(bright, AutoIrisMode::kExposure, fake);
  EXPECT_EQ(fake.exposure, 1);
  fake.exposure = 60000;
  fake.exposureMax = 100000;
  Uniform dark(8, 10);
  RunAutoExposure(dark, AutoIrisMode::kExposure, fake);
  EXPECT_EQ(fake.exposure, 65535);
}

}  // namespace
}  // namespace orvane::image
