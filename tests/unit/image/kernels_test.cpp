// Every fast path against its scalar reference, byte for byte, on seeded random images of awkward sizes.
#include <gtest/gtest.h>

#include <vector>

#include "image/filters.h"
#include "image/image_pipeline.h"
#include "image/kernels.h"
#include "image/row_pool.h"
#include "image_test_util.h"

namespace orvane::image {
namespace {

using test::FillRandom;
using test::SamePixels;

struct Size {
  int w;
  int h;
};
// 1, 2, 3, 5, odd, vector widths (16 pixels of 8-bit, 8 of 16-bit data, plus the 4 border columns) ± 1.
constexpr Size kAwkwardSizes[] = {{1, 1}, {2, 2}, {3, 3}, {5, 5}, {1, 7}, {7, 1}, {2, 9}, {4, 4},
                                  {19, 6}, {20, 7}, {21, 9}, {11, 5}, {12, 6}, {13, 7}, {37, 11}, {101, 33}};

// The fast kernel sets to check: the baseline always, AVX2 where the CPU has it; with and without a pool.
struct Variant {
  const KernelTable* kernels;
  int threads;
};
std::vector<Variant> Variants() {
  std::vector<Variant> v{{&BaselineKernels(), 1}, {&BaselineKernels(), 3}};
  if (const KernelTable* avx2 = Avx2Kernels()) {
    v.push_back({avx2, 1});
    v.push_back({avx2, 2});
  }
  return v;
}

struct Fixture {
  explicit Fixture(int threads) : pool(threads > 1 ? std::make_unique<RowPool>(threads) : nullptr) {}
  std::unique_ptr<RowPool> pool;
};

TEST(DemosaicKernels, FastEqualsReferenceForEveryPhaseDepthAndSize) {
  struct Gains {
    int red;
    int blue;
  };
  constexpr Gains kGains[] = {{100, 100}, {400, 400}, {0, 37}, {255, 163}};
  constexpr int kOutputs[2][2] = {{24, 32}, {48, 64}};
  uint32_t seed = 1;
  for (const Variant& variant : Variants()) {
    Fixture fx(variant.threads);
    for (const Size& size : kAwkwardSizes) {
      for (int deep = 0; deep < 2; ++deep) {
        DibImage raw;
        ASSERT_TRUE(raw.Create(size.w, size.h, deep ? 16 : 8));
        FillRandom(raw, ++seed, 0.2);
        for (int outBits : kOutputs[deep]) {
          for (int phase = 0; phase < 4; ++phase) {
            for (const Gains& g : kGains) {
              SCOPED_TRACE(::testing::Message() << variant.kernels->name << " threads " << variant.threads << " "
                                                << size.w << "x" << size.h << " out " << outBits << " phase "
                                                << phase << " gains " << g.red << "/" << g.blue);
              DibImage expected, actual;
              ASSERT_TRUE(expected.Create(size.w, size.h, outBits));
              ASSERT_TRUE(actual.Create(size.w, size.h, outBits));
              const DemosaicParams p{phase, GainFactor(g.red), GainFactor(g.blue)};
              ReferenceKernels().demosaic(PlaneOf(expected), PlaneOf(raw), p, nullptr);
              variant.kernels->demosaic(PlaneOf(actual), PlaneOf(raw), p, fx.pool.get());
              ASSERT_TRUE(SamePixels(expected, actual));
            }
          }
        }
      }
    }
  }
}

TEST(DemosaicKernels, FastEqualsReferenceOnFullFrames) {
  // One full 4000 × 3000 frame per depth (kept few: they dominate the run time under the sanitizers).
  const KernelTable& fast = ActiveKernels();
  RowPool pool(2);
  for (int deep = 0; deep < 2; ++deep) {
    DibImage raw, expected, actual;
    ASSERT_TRUE(raw.Create(4000, 3000, deep ? 16 : 8));
    FillRandom(raw, 77 + deep, 0.1);
    ASSERT_TRUE(expected.Create(4000, 3000, deep ? 48 : 24));
    ASSERT_TRUE(actual.Create(4000, 3000, deep ? 48 : 24));
    const DemosaicParams p{2 + deep, GainFactor(350), GainFactor(90)};
    ReferenceKernels().demosaic(PlaneOf(expected), PlaneOf(raw), p, nullptr);
    fast.demosaic(PlaneOf(actual), PlaneOf(raw), p, &pool);
    EXPECT_TRUE(SamePixels(expected, actual)) << (deep ? "16-bit" : "8-bit");
  }
}

// In-place passes: run the reference and the fast path on two copies of one random image.
template <typename Run>
void CompareInPlace(const char* pass, const std::vector<int>& depths, Run run) {
  uint32_t seed = 1000;
  for (const Variant& variant : Variants()) {
    Fixture fx(variant.threads);
    for (const Size& size : kAwkwardSizes) {
      for (int bits : depths) {
        SCOPED_TRACE(::testing::Message() << pass << " " << variant.kernels->name << " threads " << variant.threads
                                          << " " << size.w << "x" << size.h << " bits " << bits);
        DibImage source, expected, actual;
        ASSERT_TRUE(source.Create(size.w, size.h, bits));
        FillRandom(source, ++seed, 0.1);
        test::CopyPixels(expected, source);
        test::CopyPixels(actual, source);
        run(ReferenceKernels(), expected, source, nullptr);
        run(*variant.kernels, actual, source, fx.pool.get());
        ASSERT_TRUE(SamePixels(expected, actual));
      }
    }
  }
}

TEST(FilterKernels, GrayGainFastEqualsReference) {
  const int gains[4] = {255, 0, 128, 77};
  const int offsets[4] = {-255, 255, 0, 13};
  for (int phase = 0; phase < 4; ++phase) {
    CompareInPlace("gray gain", {8, 16}, [&](const KernelTable& k, DibImage& img, const DibImage&, RowPool* pool) {
      k.grayGain(PlaneOf(img), MakeGrayGainParams(gains, offsets, phase, img.BitsPerPixel()), pool);
    });
  }
}

TEST(FilterKernels, HueSaturationFastEqualsReference) {
  constexpr int kCases[][2] = {{120, 0}, {-360, -255}, {37, 255}, {-200, 90}, {0, -100}};
  for (const auto& c : kCases) {
    int table[256];
    BuildSaturationTable(c[1], table);
    const HueSatParams params = MakeHueSatParams(c[0], c[1], table);
    CompareInPlace("hue/sat", {24, 32, 48, 64}, [&](const KernelTable& k, DibImage& img, const DibImage&,
                                                    RowPool* pool) {
      k.hueSat(PlaneOf(img), PlaneOf(img), params, pool);
    });
  }
}

TEST(FilterKernels, HueSaturationFastEqualsReferenceForEveryChroma) {
  // Every (blue, green) pair with a red that sweeps as well: all chroma values 0..255 and every sector.
  DibImage source;
  ASSERT_TRUE(source.Create(256, 256, 24));
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      uint8_t* px = source.Row(y) + 3 * x;
      px[0] = static_cast<uint8_t>(x);
      px[1] = static_cast<uint8_t>(y);
      px[2] = static_cast<uint8_t>((x * 7 + y * 13) & 255);
    }
  }
  int table[256];
  for (int saturation : {-255, 0, 255}) {
    BuildSaturationTable(saturation, table);
    for (const Variant& variant : Variants()) {
      DibImage expected, actual;
      test::CopyPixels(expected, source);
      test::CopyPixels(actual, source);
      const HueSatParams params = MakeHueSatParams(97, saturation, table);
      ReferenceKernels().hueSat(PlaneOf(expected), PlaneOf(expected), params, nullptr);
      variant.kernels->hueSat(PlaneOf(actual), PlaneOf(actual), params, nullptr);
      ASSERT_TRUE(SamePixels(expected, actual)) << variant.kernels->name << " saturation " << saturation;
    }
  }
}

TEST(FilterKernels, LutFastEqualsReference) {
  FilterTables tables;
  CompareInPlace("lut", {8, 16, 24, 32, 48, 64}, [&](const KernelTable& k, DibImage& img, const DibImage&,
                                                     RowPool* pool) {
    const bool deep = img.BitsPerPixel() == 16 || img.BitsPerPixel() >= 48;
    const LutParams params{deep ? nullptr : tables.Gamma8(37), deep ? tables.Gamma16(163) : nullptr};
    k.lut(PlaneOf(img), PlaneOf(img), params, pool);
  });
}

TEST(FilterKernels, SharpenFastEqualsReference) {
  for (int sharpness : {1, 17, 30}) {
    CompareInPlace("sharpen", {8, 16, 24, 32, 48, 64}, [&](const KernelTable& k, DibImage& img,
                                                           const DibImage& copy, RowPool* pool) {
      k.sharpen(PlaneOf(img), PlaneOf(const_cast<DibImage&>(copy)), SharpenParams{sharpness}, pool);
    });
  }
}

TEST(FilterKernels, FusedTablesAndGainEqualTheReference) {
  // Out of place, with a per-value table after hue/saturation and the brightness gain after sharpness.
  FilterTables tables;
  int sat[256];
  BuildSaturationTable(-70, sat);
  for (int brightness : {-90, 200}) {
    CompareInPlace("hue/sat + table", {24, 32, 48, 64}, [&](const KernelTable& k, DibImage& img,
                                                            const DibImage& source, RowPool* pool) {
      HueSatParams params = MakeHueSatParams(-150, -70, sat);
      params.post8 = tables.Compose8(60, -30, brightness);
      params.post16 = tables.Compose16(60, -30, brightness);
      k.hueSat(PlaneOf(img), PlaneOf(const_cast<DibImage&>(source)), params, pool);
    });
    CompareInPlace("table out of place", {8, 16, 24, 32, 48, 64}, [&](const KernelTable& k, DibImage& img,
                                                                      const DibImage& source, RowPool* pool) {
      const LutParams params{tables.Compose8(140, 10, brightness), tables.Compose16(140, 10, brightness)};
      k.lut(PlaneOf(img), PlaneOf(const_cast<DibImage&>(source)), params, pool);
    });
    CompareInPlace("sharpen + gain", {8, 16, 24, 32, 48, 64}, [&](const KernelTable& k, DibImage& img,
                                                                  const DibImage& source, RowPool* pool) {
      std::memset(img.Bits(), 0x5A, img.SizeBytes());  // every byte is written from the source
      k.sharpen(PlaneOf(img), PlaneOf(const_cast<DibImage&>(source)),
                SharpenParams{23, true, BrightnessFactor(brightness)}, pool);
    });
  }
}

TEST(FilterKernels, LuminanceFastEqualsReference) {
  for (const Variant& variant : Variants()) {
    Fixture fx(variant.threads);
    for (const Size& size : kAwkwardSizes) {
      DibImage colour, expected, actual;
      ASSERT_TRUE(colour.Create(size.w, size.h, 24));
      FillRandom(colour, 5u + static_cast<uint32_t>(size.w));
      ASSERT_TRUE(expected.Create(size.w, size.h, 8));
      ASSERT_TRUE(actual.Create(size.w, size.h, 8));
      ReferenceKernels().luminance(PlaneOf(expected), PlaneOf(colour), nullptr);
      variant.kernels->luminance(PlaneOf(actual), PlaneOf(colour), fx.pool.get());
      ASSERT_TRUE(SamePixels(expected, actual)) << variant.kernels->name << " " << size.w << "x" << size.h;
    }
  }
}

TEST(KernelChoice, ForceScalarSelectsTheReference) {
  EXPECT_EQ(&ChooseKernels("1"), &ReferenceKernels());
  EXPECT_NE(&ChooseKernels(nullptr), &ReferenceKernels());
  EXPECT_NE(&ChooseKernels("0"), &ReferenceKernels());
}

}  // namespace
}  // namespace orvane::image
