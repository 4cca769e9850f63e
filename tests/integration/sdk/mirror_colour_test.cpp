// Mirrored colour images: the camera reverses its readout (vertically in the sensor, horizontally in
// the SDK's software mirror), the colour filter phase at the origin changes with it, and the phase
// exchange keeps the colours. A mirrored snapshot's colour patches equal the plain snapshot's,
// mirrored.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "test_camera.h"
#include "test_settings.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kRow = kWidth * 3;

// Centres of the scene's 6 x 4 colour chart (patches of 666 x 300 sensor pixels with a 16-pixel
// border on their top and left), in full-resolution image coordinates without mirroring.
struct Point {
  int x, y;
};
std::vector<Point> PatchCentres() {
  std::vector<Point> centres;
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 6; ++col) centres.push_back({col * 666 + 16 + 325, row * 300 + 16 + 142});
  }
  return centres;
}

struct Mirrors {
  int vertical;
  int horizontal;
};

class MirrorColours : public ::testing::TestWithParam<Mirrors> {};

TEST_P(MirrorColours, PatchesKeepTheirColoursWhenMirrored) {
  ASSERT_TRUE(kOneVirtualCamera);
  UseFreshSettingsStore();
  const int handle = Orvane_Initialize(nullptr);
  ASSERT_NE(handle, 0);
  ASSERT_EQ(Orvane_SetColorMode(handle, 24), 1);
  std::vector<unsigned char> plain(static_cast<size_t>(kRow) * kHeight), mirrored(plain.size());
  ASSERT_EQ(Orvane_SnapShot(handle, plain.data(), static_cast<int>(plain.size()), 1), 1);
  const Mirrors m = GetParam();
  ASSERT_EQ(Orvane_SetMirrorV(handle, m.vertical), 1);
  ASSERT_EQ(Orvane_SetMirrorH(handle, m.horizontal), 1);
  ASSERT_EQ(Orvane_SnapShot(handle, mirrored.data(), static_cast<int>(mirrored.size()), 1), 1);
  int coloured = 0;
  for (const Point& c : PatchCentres()) {
    // A 9 x 9 block around each centre, every channel: the demosaic's rounding is the only difference.
    for (int dy = -4; dy <= 4; ++dy) {
      for (int dx = -4; dx <= 4; ++dx) {
        const int x = c.x + dx, y = c.y + dy;
        const int mx = m.horizontal != 0 ? kWidth - 1 - x : x;
        const int my = m.vertical != 0 ? kHeight - 1 - y : y;
        const unsigned char* a = &plain[static_cast<size_t>(y) * kRow + x * 3];
        const unsigned char* b = &mirrored[static_cast<size_t>(my) * kRow + mx * 3];
        for (int ch = 0; ch < 3; ++ch) {
          ASSERT_LE(std::abs(a[ch] - b[ch]), 2) << "patch at " << c.x << "," << c.y << " channel " << ch;
        }
      }
    }
    const unsigned char* a = &plain[static_cast<size_t>(c.y) * kRow + c.x * 3];
    coloured += std::abs(a[0] - a[2]) > 30;
  }
  EXPECT_GE(coloured, 12) << "the chart's colour patches differ in red and blue";
  EXPECT_EQ(Orvane_GetLastError(handle), 0);
  EXPECT_EQ(Orvane_Release(handle), 1);
}

INSTANTIATE_TEST_SUITE_P(Directions, MirrorColours,
                         ::testing::Values(Mirrors{1, 0}, Mirrors{0, 1}, Mirrors{1, 1}),
                         [](const auto& info) {
                           return std::string(info.param.vertical != 0 ? "Vertical" : "") +
                                  (info.param.horizontal != 0 ? "Horizontal" : "");
                         });

}  // namespace
