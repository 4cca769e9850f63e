#include "image/dib_image.h"

#include <gtest/gtest.h>

#include <tuple>

namespace orvane::image {
namespace {

// The header and gray table as written to a file are the BMP writer's byte-for-byte test.
TEST(DibImage, CreateGivesPaddedStrideAndZeroedPixels) {
  struct Case {
    int w, h, bits, stride;
  };
  constexpr Case kCases[] = {{1, 1, 8, 4}, {5, 2, 8, 8}, {3, 3, 16, 8}, {5, 1, 24, 16},
                             {4000, 3000, 24, 12000}, {7, 2, 32, 28}, {3, 2, 48, 20}, {3, 1, 64, 24}};
  for (const Case& c : kCases) {
    DibImage img;
    ASSERT_TRUE(img.Create(c.w, c.h, c.bits));
    EXPECT_EQ(img.Stride(), c.stride) << c.w << "x" << c.bits;
    EXPECT_EQ(img.BitmapInfo()[14], c.bits);
    for (size_t i = 0; i < img.SizeBytes(); ++i) ASSERT_EQ(img.Bits()[i], 0);
  }
}

TEST(DibImage, RefusesBadGeometryAndKeepsWhatItHeld) {
  DibImage img;
  ASSERT_TRUE(img.Create(4, 4, 8));
  for (auto [w, h, bits] : {std::tuple{0, 4, 8}, {4, 0, 8}, {-1, 4, 8}, {4, 4, 0}, {4, 4, 12}}) {
    EXPECT_FALSE(img.Create(w, h, bits));
  }
  EXPECT_TRUE(img.Valid());
  EXPECT_EQ(img.Width(), 4);
}

TEST(DibImage, ColorTableCanBeReplacedAndRestored) {
  DibImage img;
  ASSERT_TRUE(img.Create(2, 2, 8));
  const uint8_t* table = img.BitmapInfo() + kBitmapInfoHeaderSize;
  const uint8_t red[4] = {0, 0, 255, 0};
  img.SetColorTable(DibImage::ColorTableMode::kGiven, 255, 5, red);  // clipped to one entry
  EXPECT_EQ(table[4 * 255 + 2], 255);
  EXPECT_EQ(table[4 * 255 + 0], 0);
  img.SetColorTable(DibImage::ColorTableMode::kGray);
  EXPECT_EQ(table[4 * 255 + 0], 255);
}

// Records what the operation was handed.
PixelOpArgs g_seen;
int Record(const PixelOpArgs& a) {
  g_seen = a;
  return 7;
}

TEST(ApplyPixelOp, ClipsAgainstSourceAndDestination) {
  DibImage src, dst;
  ASSERT_TRUE(src.Create(10, 8, 8));
  ASSERT_TRUE(dst.Create(6, 5, 24));
  struct Case {
    bool whole;
    PixelRect rect;
    int x, y;
    int result;
    PixelRect clipped;
    int dx, dy;
  };
  const Case kCases[] = {
      {true, {}, 0, 0, 7, {0, 0, 6, 5}, 0, 0},               // whole source, cut to the destination
      {false, {-2, -3, 4, 4}, 0, 0, 7, {0, 0, 4, 2}, 2, 3},  // left/top cut carries the destination point
      {false, {2, 2, 20, 20}, 3, 1, 7, {2, 2, 5, 6}, 3, 1},
      {false, {0, 0, 4, 4}, -1, -2, 7, {1, 2, 4, 4}, 0, 0},
      {false, {0, 0, 4, 4}, 6, 0, 0, {}, 0, 0},              // outside the destination: empty, 0
      {false, {11, 0, 14, 4}, 0, 0, 0, {}, 0, 0},            // outside the source
  };
  for (const Case& c : kCases) {
    g_seen = {};
    EXPECT_EQ(ApplyPixelOp(dst, Record, src, c.whole ? nullptr : &c.rect, c.x, c.y, nullptr, 5), c.result);
    if (c.result == 0) continue;
    const PixelRect& r = g_seen.rect;
    EXPECT_EQ(std::tie(r.left, r.top, r.right, r.bottom, g_seen.dstX, g_seen.dstY),
              std::tie(c.clipped.left, c.clipped.top, c.clipped.right, c.clipped.bottom, c.dx, c.dy));
    EXPECT_EQ(std::tie(g_seen.dstBytesPerPixel, g_seen.srcBytesPerPixel, g_seen.dstStride, g_seen.srcStride, g_seen.arg2),
              std::make_tuple(3, 1, 20, 12, 5));
  }
  EXPECT_EQ(ApplyPixelOp(dst, nullptr, src, nullptr, 0, 0, nullptr, 0), 0);
}

}  // namespace
}  // namespace orvane::image
