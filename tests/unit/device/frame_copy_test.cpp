#include "device/frame_copy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using orvane::device::CopyOrientedFrame;

// A 3-row frame of 2 pixels per row; bytes name row and pixel (and byte within a 16-bit unit).
std::vector<uint8_t> Frame(int unit) {
  std::vector<uint8_t> f;
  for (int r = 0; r < 3; ++r)
    for (int p = 0; p < 2; ++p)
      for (int b = 0; b < unit; ++b) f.push_back(static_cast<uint8_t>(r << 4 | p << 2 | b));
  return f;
}

struct OrientationCase {
  int orientation;
  int rowOrder;
  bool bottomUp;
  bool reversed;
};

class FrameCopyTest : public ::testing::TestWithParam<std::tuple<OrientationCase, int>> {};

TEST_P(FrameCopyTest, FollowsOrientationAndRowOrder) {
  const auto [c, unit] = GetParam();
  const std::vector<uint8_t> src = Frame(unit);
  std::vector<uint8_t> dst(src.size(), 0xEE);
  CopyOrientedFrame(dst.data(), src.data(), static_cast<int32_t>(src.size()), 3, 2 * unit, unit, c.orientation,
                    c.rowOrder);
  for (int r = 0; r < 3; ++r) {
    for (int p = 0; p < 2; ++p) {
      for (int b = 0; b < unit; ++b) {
        const int fromRow = c.bottomUp ? 2 - r : r;
        const int fromPixel = c.reversed ? 1 - p : p;
        EXPECT_EQ(dst[(r * 2 + p) * unit + b], (fromRow << 4 | fromPixel << 2 | b))
            << "orientation " << c.orientation << " rowOrder " << c.rowOrder << " unit " << unit;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FrameCopyTest,
    ::testing::Combine(::testing::Values(OrientationCase{-1, 1, false, false}, OrientationCase{-1, 0, true, false},
                                         OrientationCase{1, 1, false, false}, OrientationCase{2, 1, false, true},
                                         OrientationCase{2, 0, true, true}, OrientationCase{3, 1, true, false},
                                         OrientationCase{3, 0, false, false}, OrientationCase{4, 1, true, true},
                                         OrientationCase{4, 0, false, true}, OrientationCase{-1, 2, true, false}),
                       ::testing::Values(1, 2)));

}  // namespace
