#include "image/raw_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "image_test_util.h"

namespace orvane::image {
namespace {

TEST(RepairStride, SpreadsAPackedFrameWithoutCorruption) {
  for (int bits : {8, 16}) {
    DibImage raw;
    ASSERT_TRUE(raw.Create(5, 4, bits));  // 5 or 10 bytes of pixels in rows of 8 or 12
    const int rowBytes = 5 * bits / 8;
    std::vector<uint8_t> packed(static_cast<size_t>(rowBytes) * 4);
    std::iota(packed.begin(), packed.end(), uint8_t{1});
    std::memcpy(raw.Bits(), packed.data(), packed.size());
    EXPECT_TRUE(RepairStride(raw));
    for (int y = 0; y < 4; ++y) {
      EXPECT_EQ(0, std::memcmp(raw.Row(y), packed.data() + y * rowBytes, static_cast<size_t>(rowBytes))) << y;
    }
  }
  DibImage aligned;
  ASSERT_TRUE(aligned.Create(8, 2, 8));
  aligned.Bits()[8] = 9;
  EXPECT_FALSE(RepairStride(aligned));
  EXPECT_EQ(aligned.Row(1)[0], 9);
}

TEST(MirrorRaw, ReversesRowsColumnsOrBoth) {
  // 3 × 2 frame: 1 2 3 / 4 5 6.
  struct Case {
    bool h, v;
    uint16_t expect[6];
  };
  constexpr Case kCases[] = {{true, false, {3, 2, 1, 6, 5, 4}},
                             {false, true, {4, 5, 6, 1, 2, 3}},
                             {true, true, {6, 5, 4, 3, 2, 1}},
                             {false, false, {1, 2, 3, 4, 5, 6}}};
  for (int bits : {8, 16}) {
    for (const Case& c : kCases) {
      DibImage raw, scratch;
      ASSERT_TRUE(raw.Create(3, 2, bits));
      auto sample = [bits](int v) { return bits == 8 ? v : 0x100 * v + 1; };  // both bytes of a word
      for (int i = 0; i < 6; ++i) test::Set(raw, i / 3, i % 3, sample(i + 1));
      ASSERT_TRUE(MirrorRaw(raw, c.h, c.v, scratch));
      for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(test::Get(raw, i / 3, i % 3), sample(c.expect[i])) << bits << " h" << c.h << " v" << c.v;
      }
    }
  }
}

TEST(RegionMean, IntegerMeanClippedAndZeroWhenEmpty) {
  DibImage img;
  ASSERT_TRUE(img.Create(4, 2, 16));
  const uint16_t values[8] = {0x0100, 0x0200, 0x0300, 0xFFFF, 0x0101, 0x0202, 0x0303, 0x0001};
  for (int i = 0; i < 8; ++i) test::Set(img, i / 4, i % 4, values[i]);
  EXPECT_EQ(RegionMean(img, {0, 0, 3, 2}), (0x0100 + 0x0200 + 0x0300 + 0x0101 + 0x0202 + 0x0303) / 6);
  EXPECT_EQ(RegionMean(img, {0, 0, 3, 2}, true), (1 + 2 + 3 + 1 + 2 + 3) / 6);
  EXPECT_EQ(RegionMean(img, {3, -5, 10, 1}), 0xFFFF);
  EXPECT_EQ(RegionMean(img, {2, 1, 2, 2}), 0);
  EXPECT_EQ(RegionMean(img, {5, 0, 9, 2}), 0);
}

TEST(Display, ExactSizeIsShownFlippedOtherSizesAndGrayScaledNearestFromMirroredRows) {
  DibImage output, reduced, display;
  ASSERT_TRUE(output.Create(4, 2, 48));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      test::Set(output, y, x, (10 * y + x) << 8 | 0xAB, 0);
      test::Set(output, y, x, 0x7F00, 1);
      test::Set(output, y, x, 0xFF12, 2);
    }
  }
  DisplayFrame same = PrepareDisplay(output, 4, 4, 2, reduced, display);
  ASSERT_NE(same.image, nullptr);
  EXPECT_TRUE(same.flipOnBlit);
  EXPECT_EQ(same.image->BitsPerPixel(), 24);
  EXPECT_EQ(same.image->Row(1)[3 * 2], 12);  // high byte of the blue word
  EXPECT_EQ(same.image->Row(1)[3 * 2 + 2], 0xFF);

  DisplayFrame scaled = PrepareDisplay(output, 4, 2, 4, reduced, display);
  ASSERT_EQ(scaled.image, &display);
  EXPECT_FALSE(scaled.flipOnBlit);
  ASSERT_EQ(display.Width(), 2);
  ASSERT_EQ(display.Height(), 4);
  // sx = 2, sy = 0.5: (x, y) takes column 2x of source row 1 - (int)(y / 2).
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 2; ++x) EXPECT_EQ(display.Row(y)[3 * x], 10 * (1 - y / 2) + 2 * x) << x << "," << y;
  }
  // 16-bit gray is always scaled, to 8 bits with a gray table.
  DibImage gray16;
  ASSERT_TRUE(gray16.Create(3, 3, 16));
  test::Set(gray16, 2, 0, 0xC0FF);
  DisplayFrame frame = PrepareDisplay(gray16, 1, 3, 3, reduced, display);
  ASSERT_EQ(frame.image, &display);
  EXPECT_EQ(display.BitsPerPixel(), 8);
  EXPECT_EQ(display.Row(0)[0], 0xC0);  // bottom source row shown in memory row 0
  EXPECT_EQ(display.BitmapInfo()[kBitmapInfoHeaderSize + 4 * 200], 200);
}

}  // namespace
}  // namespace orvane::image
