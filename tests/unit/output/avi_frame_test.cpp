#include "output/avi_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "output_test_util.h"

namespace orvane::output {
namespace {

using image::DibImage;

// The stored blue-green-red of pixel (x, y) of the image (y = 0 the top row), by depth.
std::array<uint8_t, 3> StoredPixel(const DibImage& frame, int x, int y) {
  const uint8_t* p = frame.Row(y) + x * frame.BytesPerPixel();
  const uint8_t* table = frame.BitmapInfo() + image::kBitmapInfoHeaderSize;
  switch (frame.BitsPerPixel()) {
    case 8: return {table[4 * p[0]], table[4 * p[0] + 1], table[4 * p[0] + 2]};
    case 16: return {p[1], p[1], p[1]};  // high byte of the full-scale sample
    case 24:
    case 32: return {p[0], p[1], p[2]};
    default: return {p[1], p[3], p[5]};
  }
}

TEST(AviFrameTest, EveryDepthBecomesBottomUpTwentyFourBitWithZeroPadding) {
  for (int depth : {8, 16, 24, 32, 48, 64}) {
    SCOPED_TRACE(depth);
    DibImage frame;
    ASSERT_TRUE(frame.Create(5, 3, depth));  // 15 bytes of pixels in 16-byte rows
    test::FillFrame(frame, static_cast<uint32_t>(depth));
    if (depth == 8) {
      // A non-gray table proves the conversion goes through it.
      std::vector<uint8_t> table(1024);
      for (int i = 0; i < 256; ++i) {
        table[4 * i] = static_cast<uint8_t>(i);
        table[4 * i + 1] = static_cast<uint8_t>(255 - i);
        table[4 * i + 2] = static_cast<uint8_t>(i / 2);
      }
      frame.SetColorTable(DibImage::ColorTableMode::kGiven, 0, 256, table.data());
    }
    ASSERT_EQ(AviFrameBytes(5, 3), 48u);
    std::vector<uint8_t> out(48, 0xEE);
    ASSERT_TRUE(ConvertToAviFrame(frame, out.data(), out.size()));
    for (int row = 0; row < 3; ++row) {
      for (int x = 0; x < 5; ++x) {
        const auto expected = StoredPixel(frame, x, 2 - row);  // stored bottom row first
        EXPECT_EQ(out[row * 16 + 3 * x], expected[0]);
        EXPECT_EQ(out[row * 16 + 3 * x + 1], expected[1]);
        EXPECT_EQ(out[row * 16 + 3 * x + 2], expected[2]);
      }
      EXPECT_EQ(out[row * 16 + 15], 0);
    }
  }
}

TEST(AviFrameTest, RefusesAWrongBufferOrAnEmptyBitmap) {
  DibImage frame;
  ASSERT_TRUE(frame.Create(4, 2, 24));
  std::vector<uint8_t> out(AviFrameBytes(4, 2) + 1);
  EXPECT_FALSE(ConvertToAviFrame(frame, out.data(), out.size()));
  EXPECT_FALSE(ConvertToAviFrame(frame, nullptr, out.size() - 1));
  DibImage empty;
  EXPECT_FALSE(ConvertToAviFrame(empty, out.data(), out.size()));
  EXPECT_EQ(AviFrameBytes(0, 3), 0u);
  EXPECT_EQ(AviFrameBytes(3, -1), 0u);
}

// The declared rate follows from the stored frames' capture times: frames - 1 intervals over the span.
TEST(AviFrameTest, TheRecordedRateIsTheStoredFramesPace) {
  struct Case {
    uint32_t frames, firstMs, lastMs, rateTimes100;
  } cases[] = {
      {26, 1000, 2000, 2500},                // 25 intervals in a second: 25 frames per second
      {25, 5000, 6000, 2400},                // not frames over the span (that would be 25)
      {11, 0xFFFFFE0C, 0x000001F4, 1000},    // the millisecond clock wraps between them: 1000 ms
      {3, 100, 103, 66666},                  // fast frames, truncated
      {1, 100, 100, 0},                      // one frame: no rate, the nominal one stays
      {0, 0, 0, 0},
      {7, 500, 500, 0},                      // no time between them
      {4000000000u, 0, 1, 100'000'000},      // limited to a million frames a second
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecordedRateTimes100(c.frames, c.firstMs, c.lastMs), c.rateTimes100) << c.frames << " " << c.lastMs;
  }
}

}  // namespace
}  // namespace orvane::output
