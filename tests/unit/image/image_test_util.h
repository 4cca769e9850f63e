// Seeded random bitmaps, sample access and comparisons for the image tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "image/dib_image.h"
#include "image/kernels.h"

namespace orvane::image::test {

// Seeded noise; `saturatedShare` of the bytes forced to 0xFF so that saturating paths are taken.
inline void FillRandom(DibImage& image, uint32_t seed, double saturatedShare = 0.05) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> share(0.0, 1.0);
  const int rowBytes = image.Width() * image.BytesPerPixel();
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    for (int i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(rng());
    for (int i = 0; saturatedShare > 0 && i < rowBytes; ++i) {
      if (share(rng) < saturatedShare) row[i] = 0xFF;
    }
  }
}

// Samples are 16-bit words in 16, 48 and 64-bit images, bytes otherwise.
inline bool Deep(const DibImage& img) { return img.BitsPerPixel() == 16 || img.BitsPerPixel() >= 48; }
inline int Channels(const DibImage& img) { return img.BytesPerPixel() / (Deep(img) ? 2 : 1); }
inline int Get(const DibImage& img, int y, int x, int ch = 0) {
  const int i = x * Channels(img) + ch;
  return Deep(img) ? reinterpret_cast<const uint16_t*>(img.Row(y))[i] : img.Row(y)[i];
}
inline void Set(DibImage& img, int y, int x, int value, int ch = 0) {
  const int i = x * Channels(img) + ch;
  if (Deep(img)) {
    reinterpret_cast<uint16_t*>(img.Row(y))[i] = static_cast<uint16_t>(value);
  } else {
    img.Row(y)[i] = static_cast<uint8_t>(value);
  }
}
// Every sample of every pixel set to `value`.
inline void Fill(DibImage& img, int value) {
  for (int y = 0; y < img.Height(); ++y) {
    for (int x = 0; x < img.Width(); ++x) {
      for (int ch = 0; ch < Channels(img); ++ch) Set(img, y, x, value, ch);
    }
  }
}

// Byte-for-byte equality of the pixel rows (padding bytes excluded).
inline ::testing::AssertionResult SamePixels(const DibImage& a, const DibImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitsPerPixel() != b.BitsPerPixel()) {
    return ::testing::AssertionFailure() << "formats differ";
  }
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<size_t>(a.Width()) * a.BytesPerPixel()) != 0) {
      return ::testing::AssertionFailure() << "row " << y << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

inline void CopyPixels(DibImage& dst, const DibImage& src) {
  ASSERT_TRUE(dst.CopyFormat(src));
  std::memcpy(dst.Bits(), src.Bits(), src.SizeBytes());
}

// Every fast kernel set this CPU runs: the baseline always, AVX2 and AVX-512 where present.
inline std::vector<const KernelTable*> FastKernelSets() {
  std::vector<const KernelTable*> sets{&BaselineKernels()};
  for (const KernelTable* k : {Avx2Kernels(), Avx512Kernels()}) {
    if (k != nullptr) sets.push_back(k);
  }
  return sets;
}

}  // namespace orvane::image::test
