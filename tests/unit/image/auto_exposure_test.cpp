#include "image/auto_exposure.h"

#include <gtest/gtest.h>

#include "image_test_util.h"

namespace orvane::image {
namespace {

// A small fake of the device's exposure and gain setters; it counts the writes.
class FakeExposure : public ExposureControl {
 public:
  int gain = 10, gainMin = 1, gainMax = 64;
  int exposure = 1000, exposureMin = 1, exposureMax = 30000;
  int writes = 0;
  int GetGlobalGain() override { return gain; }
  int GetGlobalGainMin() override { return gainMin; }
  int GetGlobalGainMax() override { return gainMax; }
  bool SetGlobalGain(int g) override { ++writes; gain = g; return true; }
  int GetExposure() override { return exposure; }
  int GetExposureMin() override { return exposureMin; }
  int GetExposureMax() override { return exposureMax; }
  bool SetExposure(int e) override { ++writes; exposure = e; return true; }
};

// A uniform 100 × 50 frame; 16-bit samples get the level as high byte and a full low byte.
struct Uniform : DibImage {
  Uniform(int bits, int level) {
    EXPECT_TRUE(Create(100, 50, bits));
    test::Fill(*this, bits == 8 ? level : level << 8 | 0xFF);
  }
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

TEST(AutoExposure, MidGraySceneChangesNothingAndSixteenBitIsMeasuredByItsHighByte) {
  // High byte 130 with a full low byte is mid gray only when measured on the high byte.
  for (auto [bits, level] : {std::pair{8, 100}, {8, 130}, {8, 160}, {16, 130}}) {
    FakeExposure fake;
    Uniform img(bits, level);
    EXPECT_FALSE(RunAutoExposure(img, AutoIrisMode::kExposure, fake).changed) << bits << " " << level;
    EXPECT_FALSE(RunAutoExposure(img, AutoIrisMode::kGain, fake).changed) << bits << " " << level;
    EXPECT_EQ(fake.writes, 0);
  }
}

TEST(AutoExposure, ScalesWithinTheFloorsAndLimits) {
  FakeExposure fake;
  Uniform bright(8, 250), dark(8, 10);  // d = 0.24999999999999992 and 1.1 + 4 × 0.1 = 1.5
  const AutoExposureResult r = RunAutoExposure(bright, AutoIrisMode::kExposure, fake);
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(fake.exposure, 249);  // (int)(1000 × 0.24999999999999992)
  EXPECT_EQ(r.value, 249);
  fake.exposure = 2;
  fake.exposureMin = 0;
  RunAutoExposure(bright, AutoIrisMode::kExposure, fake);
  EXPECT_EQ(fake.exposure, 1);  // at least one
  fake.exposure = 60000;
  fake.exposureMax = 100000;
  RunAutoExposure(dark, AutoIrisMode::kExposure, fake);
  EXPECT_EQ(fake.exposure, 65535);  // saturates at 16 bits
  fake.gain = 1;  // below the floor of 4
  RunAutoExposure(dark, AutoIrisMode::kGain, fake);
  EXPECT_EQ(fake.gain, 6);
  fake.gain = 60;
  RunAutoExposure(dark, AutoIrisMode::kGain, fake);
  EXPECT_EQ(fake.gain, 64);  // limited to the maximum
  fake.gainMin = 20;
  RunAutoExposure(bright, AutoIrisMode::kGain, fake);
  EXPECT_EQ(fake.gain, 20);
}

}  // namespace
}  // namespace orvane::image
