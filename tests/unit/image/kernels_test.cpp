// Every fast path against its scalar reference, byte for byte, on seeded random images of awkward sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <tuple>
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

// 1, 2, 3, 5, odd, vector widths (16 pixels of 8-bit, 8 of 16-bit data, plus the 4 border columns) ± 1.
constexpr struct {
  int w, h;
} kAwkwardSizes[] = {{1, 1}, {2, 2}, {3, 3}, {5, 5}, {1, 7}, {7, 1}, {2, 9}, {4, 4},
                     {19, 6}, {20, 7}, {21, 9}, {11, 5}, {12, 6}, {13, 7}, {37, 11}, {101, 33}};

// Every fast kernel set of this CPU, on one to three threads.
struct Variant {
  const KernelTable* kernels;
  std::unique_ptr<RowPool> pool;
};
std::vector<Variant> Variants() {
  std::vector<Variant> v;
  for (const KernelTable* kernels : test::FastKernelSets()) {
    v.push_back({kernels, nullptr});
    v.push_back({kernels, std::make_unique<RowPool>(2)});
    v.push_back({kernels, std::make_unique<RowPool>(3)});
  }
  return v;
}

// Runs `run` with the reference on one copy and each fast variant on another, for every size and depth.
using Pass = std::function<void(const KernelTable&, DibImage& dst, DibImage& src, RowPool*)>;
void Compare(const char* pass, std::initializer_list<int> inBits, int outBits, const Pass& run) {
  uint32_t seed = 1000;
  for (const Variant& variant : Variants()) {
    for (const auto& size : kAwkwardSizes) {
      for (int bits : inBits) {
        SCOPED_TRACE(::testing::Message() << pass << " " << variant.kernels->name << (variant.pool ? " pool " : " ")
                                          << size.w << "x" << size.h << " bits " << bits);
        DibImage source, expected, actual;
        ASSERT_TRUE(source.Create(size.w, size.h, bits));
        FillRandom(source, ++seed, 0.2);
        const int out = outBits ? outBits : bits;
        ASSERT_TRUE(expected.Create(size.w, size.h, out));
        ASSERT_TRUE(actual.Create(size.w, size.h, out));
        if (!outBits) {
          test::CopyPixels(expected, source);
          test::CopyPixels(actual, source);
        }
        run(ReferenceKernels(), expected, source, nullptr);
        run(*variant.kernels, actual, source, variant.pool.get());
        ASSERT_TRUE(SamePixels(expected, actual));
      }
    }
  }
}

TEST(Kernels, DemosaicFastEqualsReferenceForEveryPhaseDepthAndGain) {
  constexpr int kGains[][2] = {{100, 100}, {400, 400}, {0, 37}, {255, 163}};
  for (int phase = 0; phase < 4; ++phase) {
    for (const auto& g : kGains) {
      const DemosaicParams p{phase, GainFactor(g[0]), GainFactor(g[1])};
      auto run = [&](const KernelTable& k, DibImage& dst, DibImage& src, RowPool* pool) {
        k.demosaic(PlaneOf(dst), PlaneOf(src), p, pool);
      };
      SCOPED_TRACE(::testing::Message() << "phase " << phase << " gains " << g[0] << "/" << g[1]);
      for (auto [in, out] : {std::pair{8, 24}, {8, 32}, {16, 48}, {16, 64}}) Compare("demosaic", {in}, out, run);
    }
  }
}

// A plane over its own bytes, its first row `offset` bytes past a cache line and its rows `gap` bytes
// apart beyond their pixels; every byte from that cache line to 64 bytes past the last row (padding and
// the fourth byte of 32-bit pixels too) random, the same for the same seed.
struct LoosePlane {
  std::vector<uint8_t> bytes;
  uint8_t* line = nullptr;
  size_t size = 0;
  Plane plane;
  LoosePlane(int w, int h, int bytesPerPixel, int offset, int gap, uint32_t seed) {
    const int stride = w * bytesPerPixel + gap;
    size = static_cast<size_t>(offset) + static_cast<size_t>(stride) * h + 64;
    bytes.resize(size + 64);
    line = bytes.data() + (64 - reinterpret_cast<uintptr_t>(bytes.data()) % 64) % 64;
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size; ++i) line[i] = static_cast<uint8_t>(rng());
    plane = {line + offset, w, h, stride, bytesPerPixel};
  }
  bool operator==(const LoosePlane& o) const { return size == o.size && std::memcmp(line, o.line, size) == 0; }
};

// The wide demosaic blocks (64 columns of 8-bit or 32 of 16-bit samples, two rows): widths around one,
// two and three blocks and their overlapping last block, output rows at several offsets from a cache
// line (the whole-frame pass writes whole lines), bands starting and ending on odd rows. Every byte
// outside the pixels' three colours stays as it was.
TEST(Kernels, DemosaicAroundWideBlocksWritesOnlyThePixels) {
  uint32_t seed = 5000;
  for (int sample : {1, 2}) {
    for (int w : {36, 37, 38, 39, 68, 69, 70, 71, 132, 133, 134, 135, 197, 198, 262}) {
      for (int h : {4, 5, 9}) {
        for (int phase = 0; phase < 4; ++phase) {
          // Channels, then the first row's offset from a cache line and the gap between rows in samples.
          for (auto [channels, offset, gap] : {std::tuple{3, 0, 0}, {3, 1, 7}, {3, 31, 4}, {3, 16, 1}, {4, 3, 0},
                                               {4, 1, 5}}) {
            SCOPED_TRACE(::testing::Message() << w << "x" << h << " sample bytes " << sample << " phase " << phase
                                              << " channels " << channels << " offset " << offset << " gap " << gap);
            const LoosePlane src(w, h, sample, 0, 3 * sample, ++seed);
            const int bytes = channels * sample;
            const LoosePlane expected(w, h, bytes, offset * sample, gap * sample, ++seed);
            const DemosaicParams p{phase, GainFactor(400), GainFactor(71)};
            ReferenceKernels().demosaic(expected.plane, src.plane, p, nullptr);
            for (const KernelTable* kernels : test::FastKernelSets()) {
              LoosePlane whole(w, h, bytes, offset * sample, gap * sample, seed);
              kernels->demosaic(whole.plane, src.plane, p, nullptr);
              EXPECT_TRUE(expected == whole) << kernels->name << " whole frame";
              LoosePlane bands(w, h, bytes, offset * sample, gap * sample, seed);
              for (auto [r0, r1] : {std::pair{0, 1}, {1, h - 2}, {h - 2, h}}) {
                kernels->demosaicRows(bands.plane, src.plane, p, r0, r1);
              }
              EXPECT_TRUE(expected == bands) << kernels->name << " bands";
            }
          }
        }
      }
    }
  }
}

// Frames of 64 rows and more are split between threads: rows of odd counts meet at the splits. Factors
// beyond those of gains 0..400 % are taken as well (up to 2047, where the reference's 16-bit sums times
// the factor still fit an int).
TEST(Kernels, DemosaicOnThreadsEqualsReferenceAroundWideBlocks) {
  constexpr int kFactors[4][2] = {{128, 512}, {2047, 0}, {0, 1024}, {513, 77}};
  for (const Variant& variant : Variants()) {
    for (int phase = 0; phase < 4; ++phase) {
      for (int bytes : {3, 4, 6, 8}) {
        SCOPED_TRACE(::testing::Message() << variant.kernels->name << (variant.pool ? " pool" : "") << " phase "
                                          << phase << " bytes " << bytes);
        const int sample = bytes % 3 == 0 ? bytes / 3 : bytes / 4;
        const LoosePlane src(135, 67, sample, 0, 2, 77 + phase);
        const LoosePlane expected(135, 67, bytes, 6, 2, 99);
        LoosePlane actual(135, 67, bytes, 6, 2, 99);
        const DemosaicParams p{phase, kFactors[phase][0], kFactors[phase][1]};
        ReferenceKernels().demosaic(expected.plane, src.plane, p, nullptr);
        variant.kernels->demosaic(actual.plane, src.plane, p, variant.pool.get());
        EXPECT_TRUE(expected == actual);
      }
    }
  }
}

TEST(Kernels, FiltersFastEqualReference) {
  const int gains[4] = {255, 0, 128, 77};
  const int offsets[4] = {-255, 255, 0, 13};
  for (int phase = 0; phase < 4; ++phase) {
    Compare("gray gain", {8, 16}, 0, [&](const KernelTable& k, DibImage& img, DibImage&, RowPool* pool) {
      k.grayGain(PlaneOf(img), MakeGrayGainParams(gains, offsets, phase, img.BitsPerPixel()), pool);
    });
  }
  for (auto [hue, saturation] : {std::pair{120, 0}, {-360, -255}, {37, 255}, {-200, 90}, {0, -100}}) {
    int table[256];
    BuildSaturationTable(saturation, table);
    Compare("hue/sat", {24, 32, 48, 64}, 0, [&](const KernelTable& k, DibImage& img, DibImage&, RowPool* pool) {
      k.hueSat(PlaneOf(img), PlaneOf(img), MakeHueSatParams(hue, saturation, table), pool);
    });
  }
  FilterTables tables;
  Compare("lut", {8, 16, 24, 32, 48, 64}, 0, [&](const KernelTable& k, DibImage& img, DibImage&, RowPool* pool) {
    k.lut(PlaneOf(img), PlaneOf(img), {tables.Gamma8(37), tables.Gamma16(163)}, pool);
  });
  for (int sharpness : {1, 17, 30}) {
    Compare("sharpen", {8, 16, 24, 32, 48, 64}, 0, [&](const KernelTable& k, DibImage& img, DibImage& src,
                                                       RowPool* pool) {
      k.sharpen(PlaneOf(img), PlaneOf(src), SharpenParams{sharpness}, pool);
    });
  }
  Compare("luminance", {24}, 8, [&](const KernelTable& k, DibImage& dst, DibImage& src, RowPool* pool) {
    k.luminance(PlaneOf(dst), PlaneOf(src), pool);
  });
  // Fused forms: a per-value table after hue/saturation and after the gray gains, the brightness gain after
  // sharpness; out of place where the pass allows it.
  int sat[256];
  BuildSaturationTable(-70, sat);
  for (int brightness : {-90, 200}) {
    Compare("hue/sat + table", {24, 32, 48, 64}, 0, [&](const KernelTable& k, DibImage& img, DibImage& src,
                                                         RowPool* pool) {
      HueSatParams params = MakeHueSatParams(-150, -70, sat);
      params.post8 = tables.Compose8(60, -30, brightness);
      params.post16 = tables.Compose16(60, -30, brightness);
      k.hueSat(PlaneOf(img), PlaneOf(src), params, pool);
    });
    Compare("gray gain + table", {8, 16}, 0, [&](const KernelTable& k, DibImage& img, DibImage&, RowPool* pool) {
      GrayGainParams params = MakeGrayGainParams(gains, offsets, 1, img.BitsPerPixel());
      params.post8 = tables.Compose8(45, 90, brightness);
      params.post16 = tables.Compose16(45, 90, brightness);
      k.grayGain(PlaneOf(img), params, pool);
    });
    Compare("table out of place", {8, 16, 24, 32, 48, 64}, 0, [&](const KernelTable& k, DibImage& img,
                                                                   DibImage& src, RowPool* pool) {
      k.lut(PlaneOf(img), PlaneOf(src), {tables.Compose8(140, 10, brightness), tables.Compose16(140, 10, brightness)},
            pool);
    });
    Compare("sharpen + gain", {8, 16, 24, 32, 48, 64}, 0, [&](const KernelTable& k, DibImage& img, DibImage& src,
                                                               RowPool* pool) {
      std::memset(img.Bits(), 0x5A, img.SizeBytes());  // every byte is written from the source
      k.sharpen(PlaneOf(img), PlaneOf(src), SharpenParams{23, true, BrightnessFactor(brightness)}, pool);
    });
  }
}

TEST(Kernels, HueSaturationFastEqualsReferenceForEveryChroma) {
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
  EXPECT_EQ(&ChooseKernels("1"), &ReferenceKernels());  // the force-scalar switch
  // Otherwise the widest set the CPU runs.
  const KernelTable* widest = Avx512Kernels() != nullptr ? Avx512Kernels() : Avx2Kernels();
  EXPECT_EQ(&ChooseKernels("0"), widest != nullptr ? widest : &BaselineKernels());
  EXPECT_EQ(&ChooseKernels(nullptr), &ChooseKernels("0"));
}

// The same chroma sweep in 48- and 64-bit pixels (high bytes as above, low bytes noise, which the
// arithmetic ignores), with and without the per-value table after it, on one to three threads.
TEST(Kernels, DeepHueSaturationFastEqualsReferenceForEveryChroma) {
  FilterTables tables;
  int table[256];
  BuildSaturationTable(-40, table);
  for (int bits : {48, 64}) {
    DibImage source;
    ASSERT_TRUE(source.Create(259, 256, bits));
    FillRandom(source, 77, 0.0);
    for (int y = 0; y < 256; ++y) {
      for (int x = 0; x < 259; ++x) {
        const int high[3] = {x & 255, y, (x * 7 + y * 13) & 255};
        for (int ch = 0; ch < 3; ++ch) test::Set(source, y, x, (high[ch] << 8) | (test::Get(source, y, x, ch) & 255), ch);
      }
    }
    for (const uint16_t* post : {static_cast<const uint16_t*>(nullptr), tables.Compose16(70, 25, -60)}) {
      HueSatParams params = MakeHueSatParams(-233, -40, table);
      params.post16 = post;
      DibImage expected;
      test::CopyPixels(expected, source);
      ReferenceKernels().hueSat(PlaneOf(expected), PlaneOf(source), params, nullptr);
      for (const Variant& variant : Variants()) {
        DibImage actual;
        test::CopyPixels(actual, source);
        std::memset(actual.Bits(), 0xA5, actual.SizeBytes());  // every sample is written from the source
        variant.kernels->hueSat(PlaneOf(actual), PlaneOf(source), params, variant.pool.get());
        ASSERT_TRUE(SamePixels(expected, actual)) << variant.kernels->name << " bits " << bits << (post ? " table" : "");
      }
    }
  }
}

// Rows that end just before, on and after the vector blocks (32 and 64 pixels, 64-byte registers), with
// the saturation and the shift at and next to the ends of their ranges, with and without the per-value
// table, in place and into another bitmap. The whole bitmaps are compared, so that a block that writes
// past the end of a row into its padding fails too.
TEST(Kernels, HueSaturationFastEqualsReferenceAroundTheVectorBlocks) {
  FilterTables tables;
  constexpr int kWidths[] = {31, 32, 33, 63, 64, 65, 127, 128, 129, 191, 193};
  constexpr int kShifts[] = {0, 1, 254, 255, 256, 1274, 1275, 1529};
  uint32_t seed = 5000;
  for (int saturation : {-255, -254, -1, 0, 1, 254, 255}) {
    int table[256];
    BuildSaturationTable(saturation, table);
    for (int shift : kShifts) {
      HueSatParams params = MakeHueSatParams(0, saturation, table);
      params.shift = shift;
      for (int bits : {24, 32, 48, 64}) {
        for (int width : kWidths) {
          const bool table8 = (shift + width) % 2 == 0;  // the per-value table on every other case
          params.post8 = table8 ? tables.Compose8(70, 25, -60) : nullptr;
          params.post16 = table8 ? tables.Compose16(70, 25, -60) : nullptr;
          const bool inPlace = (width / 2) % 2 == 0;
          DibImage source, expected;
          ASSERT_TRUE(source.Create(width, 3, bits));
          FillRandom(source, ++seed, 0.1);
          test::CopyPixels(expected, source);
          ReferenceKernels().hueSat(PlaneOf(expected), PlaneOf(inPlace ? expected : source), params, nullptr);
          for (const KernelTable* kernels : test::FastKernelSets()) {
            DibImage actual;
            test::CopyPixels(actual, source);
            kernels->hueSat(PlaneOf(actual), PlaneOf(inPlace ? actual : source), params, nullptr);
            ASSERT_EQ(std::memcmp(expected.Bits(), actual.Bits(), expected.SizeBytes()), 0)
                << kernels->name << " saturation " << saturation << " shift " << shift << " bits " << bits
                << " width " << width << (table8 ? " table" : "") << (inPlace ? " in place" : "");
          }
        }
      }
    }
  }
}

// Every pair of chroma K and position numerator 0..K in each of the six orders of the channels (the
// largest K above the smallest, the middle one numerator above it), on a few levels of gray under them:
// every quotient of the position arithmetic, at shifts that do and do not wrap.
TEST(Kernels, HueSaturationFastEqualsReferenceForEveryChromaAndPosition) {
  constexpr int kOrders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  DibImage source;
  ASSERT_TRUE(source.Create(6 * 256, 256, 24));
  for (int k = 0; k < 256; ++k) {
    for (int x = 0; x < 6 * 256; ++x) {
      const int base = (x * 7) % (256 - k);
      const int level[3] = {base + k, base + std::min(x % 256, k), base};  // largest, middle, smallest
      uint8_t* px = source.Row(k) + 3 * x;
      for (int ch = 0; ch < 3; ++ch) px[kOrders[x / 256][ch]] = static_cast<uint8_t>(level[ch]);
    }
  }
  int table[256];
  BuildSaturationTable(-30, table);
  for (int shift : {0, 200, 1529}) {
    HueSatParams params = MakeHueSatParams(0, -30, table);
    params.shift = shift;
    DibImage expected;
    test::CopyPixels(expected, source);
    ReferenceKernels().hueSat(PlaneOf(expected), PlaneOf(expected), params, nullptr);
    for (const KernelTable* kernels : test::FastKernelSets()) {
      DibImage actual;
      test::CopyPixels(actual, source);
      kernels->hueSat(PlaneOf(actual), PlaneOf(actual), params, nullptr);
      ASSERT_TRUE(SamePixels(expected, actual)) << kernels->name << " shift " << shift;
    }
  }
}

// The per-value table over rows of every length around the 64-byte registers, at 8, 24 and 32 bits (whose
// fourth bytes keep their values), in place and into another bitmap, padding included.
TEST(Kernels, TableFastEqualsReferenceAroundTheVectorBlocks) {
  FilterTables tables;
  uint32_t seed = 9000;
  for (int bits : {8, 24, 32}) {
    for (int width = 1; width <= 140; ++width) {
      DibImage source, expected;
      ASSERT_TRUE(source.Create(width, 2, bits));
      FillRandom(source, ++seed, 0.1);
      const LutParams params{tables.Compose8(20 + width % 180, width % 2 == 0 ? 40 : -40, 0), nullptr};
      const bool inPlace = width % 3 == 0;
      test::CopyPixels(expected, source);
      ReferenceKernels().lut(PlaneOf(expected), PlaneOf(inPlace ? expected : source), params, nullptr);
      for (const KernelTable* kernels : test::FastKernelSets()) {
        DibImage actual;
        test::CopyPixels(actual, source);
        kernels->lut(PlaneOf(actual), PlaneOf(inPlace ? actual : source), params, nullptr);
        ASSERT_EQ(std::memcmp(expected.Bits(), actual.Bits(), expected.SizeBytes()), 0)
            << kernels->name << " bits " << bits << " width " << width;
      }
    }
  }
}

// The sharpness at the ends of its arithmetic: samples at 0 and the maximum in a pattern that gives
// the largest differences from the blur of either sign, every sharpness 0..30, with and without the
// brightness gain (down to 0 and up to the largest factor), 8- and 16-bit, gray and colour.
// The sharpness of `source` by every fast variant equals the reference's.
void ExpectSharpenEqualsReference(DibImage& source, const SharpenParams& params) {
  DibImage expected;
  ASSERT_TRUE(expected.CopyFormat(source));
  ReferenceKernels().sharpen(PlaneOf(expected), PlaneOf(source), params, nullptr);
  for (const Variant& variant : Variants()) {
    DibImage actual;
    ASSERT_TRUE(actual.CopyFormat(source));
    variant.kernels->sharpen(PlaneOf(actual), PlaneOf(source), params, variant.pool.get());
    ASSERT_TRUE(SamePixels(expected, actual)) << variant.kernels->name;
  }
}

TEST(Kernels, SharpenFastEqualsReferenceAtTheEndsOfItsRange) {
  for (int bits : {8, 16, 24, 48}) {
    DibImage source;
    ASSERT_TRUE(source.Create(53, 9, bits));
    const int top = test::Deep(source) ? 65535 : 255;
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 53; ++x) {
        for (int ch = 0; ch < test::Channels(source); ++ch) {
          const bool high = ((x / (1 + ch)) + y) % 3 == 0 || (x == 26 && y == 4);
          test::Set(source, y, x, high ? top : (x * y) % 2, ch);
        }
      }
    }
    for (int sharpness = 0; sharpness <= 30; ++sharpness) {
      for (int brightness : {0, -255, -1, 255}) {
        SCOPED_TRACE(::testing::Message() << "bits " << bits << " sharpness " << sharpness << " brightness "
                                          << brightness);
        ExpectSharpenEqualsReference(source, {sharpness, brightness != 0, BrightnessFactor(brightness)});
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Every width from the smallest interior up to three vector steps of every format (the steps that load and
// store under masks, the full steps, and the rows in between), on heights whose interiors hold an odd and an
// even number of rows, both whole and in pieces of one to four rows as the pipeline's bands ask for them;
// the rows' padding is never written.
TEST(Kernels, SharpenFastEqualsReferenceForEveryWidthAroundItsVectorSteps) {
  for (int bits : {8, 16, 24, 32, 48, 64}) {
    const int samplesPerPixel = bits / (bits == 16 || bits >= 48 ? 16 : 8);
    const int widest = 4 + 3 * (bits == 16 || bits >= 48 ? 32 : 64) / samplesPerPixel + 8;
    std::vector<int> widths;
    for (int w = 5; w <= widest; ++w) widths.push_back(w);
    widths.push_back(1400);  // rows longer than the AVX2 code's chunks of 2048 samples
    for (int w : widths) {
      for (int h : {7, 8}) {
        DibImage source;
        ASSERT_TRUE(source.Create(w, h, bits));
        FillRandom(source, static_cast<uint32_t>(w * 131 + h), 0.1);
        const SharpenParams params{11, w % 2 == 1, 1.25f};
        DibImage expected;
        ASSERT_TRUE(expected.CopyFormat(source));
        ReferenceKernels().sharpen(PlaneOf(expected), PlaneOf(source), params, nullptr);
        for (const Variant& variant : Variants()) {
          DibImage whole, pieces;
          ASSERT_TRUE(whole.CopyFormat(source));
          ASSERT_TRUE(pieces.CopyFormat(source));
          std::memset(whole.Bits(), 0xA5, whole.SizeBytes());
          variant.kernels->sharpen(PlaneOf(whole), PlaneOf(source), params, variant.pool.get());
          SCOPED_TRACE(::testing::Message() << variant.kernels->name << " bits " << bits << " " << w << "x" << h);
          ASSERT_TRUE(SamePixels(expected, whole));
          // Nothing is written past a row's pixels (the padding up to the stride keeps its bytes).
          for (int y = 0; y < h; ++y) {
            for (int i = w * whole.BytesPerPixel(); i < whole.Stride(); ++i) ASSERT_EQ(whole.Row(y)[i], 0xA5) << y;
          }
          if (variant.kernels->sharpenRows == nullptr) continue;
          for (int y0 = 0, piece = 1; y0 < h; y0 += piece, piece = piece % 4 + 1) {
            variant.kernels->sharpenRows(PlaneOf(pieces), PlaneOf(source), params, y0, std::min(y0 + piece, h));
          }
          ASSERT_TRUE(SamePixels(expected, pieces)) << "in pieces of rows";
        }
      }
    }
  }
}

// Samples within three of 0 and of the maximum (and some anywhere), every sharpness 0..30, gains that the
// fixed-point and table forms serve, ones beyond 255 and up to the largest product below 2^31, zero and a
// negative one (which keeps the generic code), at widths where full vector steps run.
TEST(Kernels, SharpenFastEqualsReferenceNearTheEndsOfTheRangeForEveryGain) {
  constexpr float kGains[] = {0.0f, 0.37f, 1.0f, 1.37f, 3.3f, 254.9f, 300.0f, 30000.0f, -1.0f};
  for (int bits : {8, 16, 24, 32, 48, 64}) {
    DibImage source;
    ASSERT_TRUE(source.Create(bits == 8 ? 150 : 61, 8, bits));
    const int top = test::Deep(source) ? 65535 : 255;
    std::mt19937 rng(static_cast<uint32_t>(bits));
    for (int y = 0; y < source.Height(); ++y) {
      for (int x = 0; x < source.Width(); ++x) {
        for (int ch = 0; ch < test::Channels(source); ++ch) {
          const int r = static_cast<int>(rng() % 9);
          test::Set(source, y, x, r < 4 ? r : r < 8 ? top - (r - 4) : static_cast<int>(rng() % (top + 1)), ch);
        }
      }
    }
    for (int sharpness = 0; sharpness <= 30; ++sharpness) {
      for (int g = -1; g < static_cast<int>(std::size(kGains)); ++g) {
        const SharpenParams params{sharpness, g >= 0, g >= 0 ? kGains[g] : 1.0f};
        SCOPED_TRACE(::testing::Message() << "bits " << bits << " sharpness " << sharpness << " gain " << params.gain
                                          << " " << params.applyGain);
        ExpectSharpenEqualsReference(source, params);
        if (HasFatalFailure()) return;
      }
    }
  }
}

}  // namespace
}  // namespace orvane::image
