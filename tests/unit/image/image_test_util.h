// Seeded random bitmaps and comparisons for the image tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "image/dib_image.h"
#include "image/kernels.h"

namespace orvane::image::test {

// Fills every pixel byte with seeded noise; `saturatedShare` of the samples are forced to the maximum so
// that saturating paths are taken.
inline void FillRandom(DibImage& image, uint32_t seed, double saturatedShare = 0.05) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> share(0.0, 1.0);
  const int rowBytes = image.Width() * image.BytesPerPixel();
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    for (int i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(rng());
    if (saturatedShare > 0) {
      for (int i = 0; i < rowBytes; ++i) {
        if (share(rng) < saturatedShare) row[i] = 0xFF;
      }
    }
  }
}

inline DibImage* Make(DibImage& image, int width, int height, int bits) {
  EXPECT_TRUE(image.Create(width, height, bits));
  return &image;
}

// Byte-for-byte equality of the pixel rows (padding bytes excluded).
inline ::testing::AssertionResult SamePixels(const DibImage& a, const DibImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitsPerPixel() != b.BitsPerPixel()) {
    return ::testing::AssertionFailure() << "formats differ";
  }
  const size_t rowBytes = static_cast<size_t>(a.Width()) * a.BytesPerPixel();
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y), b.Row(y), rowBytes) != 0) {
      for (size_t i = 0; i < rowBytes; ++i) {
        if (a.Row(y)[i] != b.Row(y)[i]) {
          return ::testing::AssertionFailure() << "first difference at row " << y << " byte " << i << ": "
                                               << int(a.Row(y)[i]) << " vs " << int(b.Row(y)[i]);
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

inline void CopyPixels(DibImage& dst, const DibImage& src) {
  ASSERT_TRUE(dst.CopyFormat(src));
  std::memcpy(dst.Bits(), src.Bits(), src.SizeBytes());
}

}  // namespace orvane::image::test
