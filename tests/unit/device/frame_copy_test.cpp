#include "device/frame_copy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using orvane::device::CopyOrientedFrame;
using orvane::device::FrameLayout;

// Every orientation code and row order, on a 3-row frame of 2 pixels per row in 8 and 16 bits; the bytes
// name row, pixel and byte within a 16-bit unit, so any misplaced byte shows.
TEST(FrameCopy, FollowsOrientationAndRowOrder) {
  struct Case {
    int orientation;
    int rowOrder;
    bool bottomUp;
    bool reversed;
  };
  const std::vector<Case> cases = {{-1, 1, false, false}, {-1, 0, true, false}, {1, 1, false, false},
                                   {2, 1, false, true},   {2, 0, true, true},   {3, 1, true, false},
                                   {3, 0, false, false},  {4, 1, true, true},   {4, 0, false, true},
                                   {-1, 2, true, false}};
  for (const int unit : {1, 2}) {
    std::vector<uint8_t> src;
    for (int r = 0; r < 3; ++r)
      for (int p = 0; p < 2; ++p)
        for (int b = 0; b < unit; ++b) src.push_back(static_cast<uint8_t>(r << 4 | p << 2 | b));
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "orientation " << c.orientation << " rowOrder " << c.rowOrder << " unit "
                                        << unit);
      const FrameLayout layout{static_cast<int32_t>(src.size()), 3, 2 * unit, unit, c.orientation};
      // At the rows' own length, and at a longer stride whose padding stays as it was.
      for (const int pad : {0, 3}) {
        const int stride = 2 * unit + pad;
        std::vector<uint8_t> dst(static_cast<size_t>(stride) * 3, 0xEE);
        CopyOrientedFrame(dst.data(), stride, src.data(), layout, c.rowOrder);
        std::vector<uint8_t> expected;
        for (int r = 0; r < 3; ++r) {
          for (int p = 0; p < 2; ++p)
            for (int b = 0; b < unit; ++b)
              expected.push_back(static_cast<uint8_t>((c.bottomUp ? 2 - r : r) << 4 | (c.reversed ? 1 - p : p) << 2 | b));
          expected.insert(expected.end(), pad, 0xEE);
        }
        EXPECT_EQ(dst, expected) << "padding " << pad;
      }
    }
  }
}

}  // namespace
