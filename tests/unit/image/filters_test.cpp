// The worked numbers of the demosaic, the balances and the colour filters, on the scalar references.
#include "image/filters.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/image_pipeline.h"
#include "image/kernels.h"
#include "image_test_util.h"

namespace orvane::image {
namespace {

using test::Fill;
using test::Get;
using test::Set;

const KernelTable& Ref() { return ReferenceKernels(); }

TEST(Demosaic, WeightedAveragesSaturateAndBordersReadFourSamplesIn) {
  DibImage raw, out;
  ASSERT_TRUE(raw.Create(8, 8, 8));
  ASSERT_TRUE(out.Create(8, 8, 24));
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) Set(raw, y, x, (7 * y * y + 3 * x) & 255);
  }
  auto s = [&](int y, int x) { return Get(raw, y, x); };
  Ref().demosaic(PlaneOf(out), PlaneOf(raw), {0, GainFactor(100), GainFactor(100)}, nullptr);
  // Phase 0, pixel (3, 3): cell rows 2-3, columns 2-3 read G B / R G.
  EXPECT_EQ(Get(out, 3, 3, 0), (9 * s(2, 3) + 3 * s(2, 1) + 3 * s(4, 3) + s(4, 1)) / 16);
  EXPECT_EQ(Get(out, 3, 3, 1), (s(2, 2) + s(3, 3)) / 2);
  EXPECT_EQ(Get(out, 3, 3, 2), (9 * s(3, 2) + 3 * s(3, 4) + 3 * s(1, 2) + s(1, 4)) / 16);
  // Phase 3 exchanges rows and columns: the same cell reads G R / B G.
  Ref().demosaic(PlaneOf(out), PlaneOf(raw), {3, 128, 128}, nullptr);
  EXPECT_EQ(Get(out, 3, 3, 2), (9 * s(2, 3) + 3 * s(2, 1) + 3 * s(4, 3) + s(4, 1)) / 16);

  for (int deep = 0; deep < 2; ++deep) {
    // Full gain saturates instead of wrapping.
    DibImage flat, sat;
    ASSERT_TRUE(flat.Create(6, 6, deep ? 16 : 8));
    ASSERT_TRUE(sat.Create(6, 6, deep ? 48 : 24));
    Fill(flat, deep ? 51200 : 200);
    Ref().demosaic(PlaneOf(sat), PlaneOf(flat), {2, GainFactor(400), GainFactor(100)}, nullptr);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(Get(sat, y, x, 2), deep ? 65535 : 255);
        EXPECT_EQ(Get(sat, y, x, 0), deep ? 51200 : 200);
      }
    }
    // On a mosaic repeating every four rows and columns the border rule reads what an endless mosaic would
    // hold: every border pixel equals the interior pixel of the same position modulo 4.
    DibImage tile, tiled, colour;
    ASSERT_TRUE(tile.Create(4, 4, deep ? 16 : 8));
    test::FillRandom(tile, 3 + deep, 0);
    ASSERT_TRUE(tiled.Create(13, 14, deep ? 16 : 8));
    ASSERT_TRUE(colour.Create(13, 14, deep ? 64 : 32));
    const int bpp = tiled.BytesPerPixel(), step = colour.BytesPerPixel();
    for (int y = 0; y < 14; ++y) {
      for (int x = 0; x < 13; ++x) std::memcpy(tiled.Row(y) + x * bpp, tile.Row(y % 4) + (x % 4) * bpp, bpp);
    }
    for (int phase = 0; phase < 4; ++phase) {
      Ref().demosaic(PlaneOf(colour), PlaneOf(tiled), {phase, 150, 90}, nullptr);
      for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 13; ++x) {
          ASSERT_EQ(0, std::memcmp(colour.Row(y) + x * step, colour.Row(4 + y % 4) + (4 + x % 4) * step, 3 * bpp))
              << "phase " << phase << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(WhiteBalance, GainsBringRedAndBlueToGreenAndColourlessFramesKeepThem) {
  // Phase 0 cells G B / R G; gains limited to 400, uniform gray gives 100.
  constexpr struct {
    int green, red, blue, redGain, blueGain;
  } kCases[] = {{100, 200, 50, 50, 200}, {250, 10, 0, 400, 400}, {90, 90, 90, 100, 100}};
  for (const auto& c : kCases) {
    DibImage raw;
    ASSERT_TRUE(raw.Create(4, 4, 8));
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) Set(raw, y, x, (y & 1) == (x & 1) ? c.green : ((y & 1) ? c.red : c.blue));
    }
    int red = 0, blue = 0;
    ASSERT_TRUE(MeasureWhiteBalance(raw, 0, &red, &blue));
    EXPECT_EQ(red, c.redGain);
    EXPECT_EQ(blue, c.blueGain);
  }
  // A one-pixel frame has no red and no blue sample: nothing is measured, no division by zero.
  DibImage tiny;
  ASSERT_TRUE(tiny.Create(1, 1, 8));
  int red = 123, blue = 45;
  EXPECT_FALSE(MeasureWhiteBalance(tiny, 0, &red, &blue));
  EXPECT_EQ(red, 123);
  EXPECT_EQ(blue, 45);
}

// The balance sums whole columns of a row at a time: every phase, depth and odd size gives the gains of
// the frame's colour means taken sample by sample.
TEST(WhiteBalance, EveryPhaseDepthAndOddSizeMeasuresTheColourMeans) {
  const std::pair<int, int> sizes[] = {{5, 3}, {6, 7}, {101, 33}};
  for (int bits : {8, 16}) {
    for (auto [width, height] : sizes) {
      DibImage raw;
      ASSERT_TRUE(raw.Create(width, height, bits));
      test::FillRandom(raw, static_cast<uint32_t>(width * bits), 0);
      for (int phase = 0; phase < 4; ++phase) {
        double sum[3] = {}, count[3] = {};  // green, red, blue
        for (int y = 0; y < height; ++y) {
          for (int x = 0; x < width; ++x) {
            const int py = (y + PhaseRowFlag(phase)) & 1, px = (x + PhaseColFlag(phase)) & 1;
            const int colour = py == px ? 0 : (py == 1 ? 1 : 2);
            sum[colour] += Get(raw, y, x);
            count[colour] += 1;
          }
        }
        const double g = sum[0] / count[0], r = sum[1] / count[1], b = sum[2] / count[2], o = g + r + b;
        auto expected = [&](double m) { return std::min(400, static_cast<int>(o / (3 * m) * 100 / (o / (3 * g)))); };
        int red = 0, blue = 0;
        ASSERT_TRUE(MeasureWhiteBalance(raw, phase, &red, &blue));
        EXPECT_EQ(red, expected(r)) << bits << " bits " << width << " x " << height << " phase " << phase;
        EXPECT_EQ(blue, expected(b)) << bits << " bits " << width << " x " << height << " phase " << phase;
      }
    }
  }
}

TEST(HueSaturation, Hue120TurnsRedIntoGreenAndFullCircleOrMinus255WorkedNumbers) {
  EXPECT_EQ(HueShift(120), 509);
  EXPECT_EQ(HueShift(360), 0);
  EXPECT_EQ(HueShift(-360), 0);
  int neutral[256];
  BuildSaturationTable(0, neutral);
  for (int bits : {24, 32, 48, 64}) {
    DibImage img;
    ASSERT_TRUE(img.Create(1, 1, bits));
    const int scale = test::Deep(img) ? 256 : 1;
    Set(img, 0, 0, 256 * scale - 1, 2);
    if (bits == 32 || bits == 64) Set(img, 0, 0, 0x77, 3);
    Ref().hueSat(PlaneOf(img), PlaneOf(img), MakeHueSatParams(120, 0, neutral), nullptr);
    EXPECT_EQ(Get(img, 0, 0, 2), 2 * scale) << bits;
    EXPECT_EQ(Get(img, 0, 0, 1), 255 * scale) << bits;
    EXPECT_EQ(Get(img, 0, 0, 0), 0) << bits;
    if (bits == 32 || bits == 64) {
      EXPECT_EQ(Get(img, 0, 0, 3), bits == 32 ? 0x77 : 0);  // fourth byte untouched, fourth word cleared
    }
  }
  // Hue 360 is no shift; the fixed-point round trip may still move a channel by one level.
  DibImage img, original;
  ASSERT_TRUE(img.Create(64, 64, 24));
  test::FillRandom(img, 11, 0.02);
  test::CopyPixels(original, img);
  Ref().hueSat(PlaneOf(img), PlaneOf(img), MakeHueSatParams(360, 0, neutral), nullptr);
  for (size_t i = 0; i < img.SizeBytes(); ++i) ASSERT_LE(std::abs(img.Bits()[i] - original.Bits()[i]), 1) << i;
  int gray[256];
  BuildSaturationTable(-255, gray);
  Ref().hueSat(PlaneOf(img), PlaneOf(img), MakeHueSatParams(0, -255, gray), nullptr);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint8_t* p = img.Row(y) + 3 * x;
      EXPECT_LE(std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}), 1);
    }
  }
  int doubled[256];
  BuildSaturationTable(255, doubled);
  EXPECT_EQ(doubled[100], 200);
  EXPECT_EQ(gray[127], 0);
  EXPECT_EQ(gray[128], 1);
}

TEST(Tables, ContrastGammaAndBrightnessWorkedNumbers) {
  uint8_t t[256];
  static uint16_t t16[65536];
  BuildContrastTable(127, t);
  for (int i = 0; i <= 255; ++i) EXPECT_EQ(t[i], i < 128 ? 0 : i == 128 ? 128 : 255) << i;
  BuildContrastTable(-127, t);
  EXPECT_EQ(t[0], 63);
  EXPECT_EQ(t[255], 191);
  BuildContrastTable(127, t16);  // cut at 127 × 256
  EXPECT_EQ(t16[32511], 0);
  EXPECT_EQ(t16[33025], 65535);
  BuildGammaTable(0, t);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(t[i], 0) << i;
  EXPECT_EQ(t[255], 255);
  BuildGammaTable(0, t16);
  EXPECT_EQ(t16[65534], 0);
  EXPECT_EQ(t16[65535], 65535);
  BuildBrightnessTable(255, t);
  EXPECT_EQ(t[10], 110);
  EXPECT_EQ(t[24], 255);
  BuildBrightnessTable(-255, t);
  EXPECT_EQ(*std::max_element(t, t + 256), 0);
  BuildBrightnessTable(255, t16);
  EXPECT_EQ(t16[1000], 11000);
  EXPECT_EQ(t16[6000], 65535);
}

TEST(GrayGains, NeutralUnchangedOffsetsClampAndNamesFollowThePhase) {
  for (int bits : {8, 16}) {
    DibImage img, original;
    ASSERT_TRUE(img.Create(9, 4, bits));
    test::FillRandom(img, 21, 0.1);
    test::CopyPixels(original, img);
    const int unity[4] = {128, 128, 128, 128}, zero[4] = {}, darkest[4] = {-255, -255, -255, -255};
    const int full[4] = {255, 255, 255, 255};
    Ref().grayGain(PlaneOf(img), MakeGrayGainParams(unity, zero, 2, bits), nullptr);
    EXPECT_TRUE(test::SamePixels(img, original));
    Ref().grayGain(PlaneOf(img), MakeGrayGainParams(zero, darkest, 2, bits), nullptr);
    for (size_t i = 0; i < img.SizeBytes(); ++i) ASSERT_EQ(img.Bits()[i], 0);
    test::CopyPixels(img, original);
    Ref().grayGain(PlaneOf(img), MakeGrayGainParams(full, full, 0, bits), nullptr);
    if (bits == 8) {
      for (int x = 0; x < 9; ++x) EXPECT_EQ(Get(img, 1, x), 255);
    } else {
      EXPECT_EQ(Get(img, 1, 1), std::min(255 + 255 * Get(original, 1, 1) / 128, 65535));
    }
  }
  // Distinct gains per name show which name sits at which memory position.
  const int gains[4] = {11, 22, 33, 44}, zero[4] = {};
  constexpr struct {
    int phase;
    int cell[2][2];
  } kCases[] = {{0, {{kGrayG1, kGrayR}, {kGrayB, kGrayG2}}},
                {1, {{kGrayB, kGrayG2}, {kGrayG1, kGrayR}}},
                {2, {{kGrayR, kGrayG1}, {kGrayG2, kGrayB}}},
                {3, {{kGrayG2, kGrayB}, {kGrayR, kGrayG1}}}};
  for (const auto& c : kCases) {
    const GrayGainParams p = MakeGrayGainParams(gains, zero, c.phase, 8);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 2; ++x) EXPECT_EQ(p.gain[y][x], gains[c.cell[y][x]]) << c.phase;
    }
  }
}

TEST(GrayBalance, MeasuresMeansOfUnsaturatedSamplesAndTheHighByteOf16Bit) {
  DibImage raw;
  ASSERT_TRUE(raw.Create(6, 4, 8));
  // Phase 0 gray naming: G1 R / B G2. G1 = 100, R = 50, B = 200, G2 = 100, plus black and white outliers.
  static constexpr uint8_t kCell[2][2] = {{100, 50}, {200, 100}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) Set(raw, y, x, kCell[y & 1][x & 1]);
  }
  Set(raw, 0, 1, 255);
  Set(raw, 2, 3, 0);
  int gains[4] = {1, 2, 3, 4};
  MeasureGrayBalance(raw, 0, gains);
  EXPECT_EQ(gains[kGrayR], 255);  // 256 limited to the gain range
  EXPECT_EQ(gains[kGrayG1], 128);
  EXPECT_EQ(gains[kGrayG2], 128);
  EXPECT_EQ(gains[kGrayB], 64);
  // 16-bit: equal high bytes with unequal low bytes balance to 128 everywhere.
  DibImage deep;
  ASSERT_TRUE(deep.Create(6, 4, 16));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) Set(deep, y, x, 0x4000 | ((x & 1) ? 0xFF : 0x01));
  }
  int deepGains[4] = {1, 2, 3, 4};
  MeasureGrayBalance(deep, 0, deepGains);
  for (int g : deepGains) EXPECT_EQ(g, 128);
}

}  // namespace
}  // namespace orvane::image
