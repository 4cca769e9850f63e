#include "sim/scene_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace orvane::sim {
namespace {

constexpr int kRed = 0;
constexpr int kGreen = 1;
constexpr int kBlue = 2;

RenderSettings Window(int width, int height, int bytesPerPixel, int originX, int originY) {
  RenderSettings s;
  s.width = width;
  s.height = height;
  s.bytesPerPixel = bytesPerPixel;
  s.originX = originX;
  s.originY = originY;
  return s;
}

uint16_t Pixel(const FrameBytes& f, const RenderSettings& s, int x, int y) {
  const size_t i = (static_cast<size_t>(y) * s.width + x) * s.bytesPerPixel;
  return s.bytesPerPixel == 2 ? static_cast<uint16_t>((*f)[i] | ((*f)[i + 1] << 8)) : (*f)[i];
}

TEST(SceneRenderer, ColourFilterReadsBlueGreenGreenRedAtTheWindowOrigin) {
  for (int bpp : {1, 2}) {
    for (auto [x0, y0] : {std::pair{104, 100}, std::pair{1000, 1702}, std::pair{0, 0}}) {
      SCOPED_TRACE(testing::Message() << bpp << " bytes at " << x0 << "," << y0);
      const RenderSettings s = Window(8, 4, bpp, x0, y0);
      const FrameBytes f = RenderFrame(s);
      ASSERT_EQ(f->size(), static_cast<size_t>(8 * 4 * bpp));
      const int shift = bpp == 2 ? 0 : 8;
      EXPECT_EQ(Pixel(f, s, 0, 0), SceneSample(x0, y0, kBlue) >> shift);
      EXPECT_EQ(Pixel(f, s, 1, 0), SceneSample(x0 + 1, y0, kGreen) >> shift);
      EXPECT_EQ(Pixel(f, s, 0, 1), SceneSample(x0, y0 + 1, kGreen) >> shift);
      EXPECT_EQ(Pixel(f, s, 1, 1), SceneSample(x0 + 1, y0 + 1, kRed) >> shift);
    }
  }
  // Inside the first colour patch the three channels differ, so the phase is visible.
  EXPECT_NE(SceneSample(104, 100, kBlue), SceneSample(104, 100, kRed));
  EXPECT_TRUE(RenderFrame(Window(0, 4, 1, 0, 0))->empty());
}

// The vertical mirror reverses the readout of photosite rows, colour filters included: the mirrored
// frame is the plain frame with its rows in reverse order, so the first row reads green, red.
TEST(SceneRenderer, VerticalMirrorReversesThePhotositeRows) {
  for (int bpp : {1, 2}) {
    for (bool subSampled : {false, true}) {
      SCOPED_TRACE(testing::Message() << bpp << " bytes, sub-sampled " << subSampled);
      RenderSettings plain = Window(64, 40, bpp, 600, 120);
      plain.subSampled = subSampled;
      RenderSettings mirrored = plain;
      mirrored.mirrorV = true;
      const FrameBytes a = RenderFrame(plain);
      const FrameBytes b = RenderFrame(mirrored);
      const size_t row = static_cast<size_t>(plain.width) * bpp;
      for (int y = 0; y < plain.height; ++y) {
        ASSERT_EQ(std::memcmp(b->data() + y * row, a->data() + (plain.height - 1 - y) * row, row), 0) << y;
      }
      const int step = subSampled ? 2 : 1;
      const int sy = 120 + (plain.height - 1) * step;
      const int shift = bpp == 2 ? 0 : 8;
      EXPECT_EQ(Pixel(b, mirrored, 0, 0), SceneSample(600, sy, kGreen) >> shift);
      EXPECT_EQ(Pixel(b, mirrored, 1, 0), SceneSample(600 + step, sy, kRed) >> shift);
    }
  }
}

TEST(SceneRenderer, NoiseIsSeededAndHasTheRequestedSpread) {
  const RenderSettings s = Window(200, 100, 1, 1800, 1300);
  RenderSettings n = s;
  n.noiseStdDev = 2.0;
  n.noiseSeed = 7;
  const FrameBytes clean = RenderFrame(s);
  const FrameBytes noisy = RenderFrame(n, 0);
  EXPECT_EQ(*noisy, *RenderFrame(n, 0)) << "same seed and variant, same frame";
  EXPECT_NE(*noisy, *RenderFrame(n, 1));
  double sum = 0;
  double sumSq = 0;
  for (size_t i = 0; i < clean->size(); ++i) {
    const double d = static_cast<double>((*noisy)[i]) - (*clean)[i];
    sum += d;
    sumSq += d * d;
  }
  const double count = static_cast<double>(clean->size());
  const double mean = sum / count;
  EXPECT_NEAR(mean, 0.0, 0.3);
  EXPECT_NEAR(std::sqrt(sumSq / count - mean * mean), 2.0, 0.4);
  EXPECT_EQ(*clean, *RenderFrame(s)) << "without noise frames are identical";
}

}  // namespace
}  // namespace orvane::sim
