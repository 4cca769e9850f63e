// The order of the pipeline, checked against the scalar references chained by hand.
#include "image/image_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>

#include "image/raw_conversion.h"
#include "image_test_util.h"

// Counts heap allocations while armed, to check that a frame allocates nothing once the geometry is set.
// The replacement operator new/delete at the end of this file pair malloc with free; GCC cannot see that
// through the replacement and warns at every inlined delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
std::atomic<bool> g_countAllocations{false};
std::atomic<int> g_allocations{0};
void* volatile g_sink = nullptr;

namespace orvane::image {
namespace {

struct Frame {
  DibImage raw8, raw16, c24, c32, c48, c64;
  Frame(int w, int h) {
    for (auto [img, bits] : {std::pair{&raw8, 8}, {&raw16, 16}, {&c24, 24}, {&c32, 32}, {&c48, 48}, {&c64, 64}}) {
      EXPECT_TRUE(img->Create(w, h, bits));
    }
  }
  PipelineImages Images() { return {&raw8, &raw16, &c24, &c32, &c48, &c64}; }
};

PipelineSettings AllFiltersOn(int mode) {
  return {.colorMode = mode, .brightness = 30, .contrast = 20, .hue = 40, .saturation = 60, .sharpness = 12,
          .gamma = 80, .bayerGainRed = 130, .bayerGainBlue = 85};
}

// The filters of the output, chained from the references in the pipeline's order.
void ReferenceFilters(const PipelineSettings& s, DibImage& out) {
  const KernelTable& ref = ReferenceKernels();
  FilterTables tables;
  if (out.BitsPerPixel() >= 24 && (s.hue != 0 || s.saturation != 0)) {
    ref.hueSat(PlaneOf(out), PlaneOf(out), MakeHueSatParams(s.hue, s.saturation, tables.Saturation(s.saturation)), nullptr);
  }
  if (s.gamma != 100) ref.lut(PlaneOf(out), PlaneOf(out), {tables.Gamma8(s.gamma), tables.Gamma16(s.gamma)}, nullptr);
  if (s.contrast != 0) {
    ref.lut(PlaneOf(out), PlaneOf(out), {tables.Contrast8(s.contrast), tables.Contrast16(s.contrast)}, nullptr);
  }
  if (s.sharpness != 0) {
    DibImage copy;
    test::CopyPixels(copy, out);
    ref.sharpen(PlaneOf(out), PlaneOf(copy), {s.sharpness}, nullptr);
  }
  if (s.brightness != 0) BrightnessReference(PlaneOf(out), s.brightness);
}

// A frame runs in bands of rows, split between threads from 64 rows on, with the sharpness lagging
// behind the demosaic: every size, thread count and kernel set gives the references' bytes.
TEST(ImagePipeline, ColourModesEqualTheChainedReferences) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{37, 21}, {101, 67}, {600, 131}};
  enum { kNone, kAll, kSharpness, kSharpnessBrightness };
  for (Size size : sizes) {
    for (int mode = 2; mode <= 5; ++mode) {
      for (int filters : {kNone, kAll, kSharpness, kSharpnessBrightness}) {
        PipelineSettings s = filters == kAll ? AllFiltersOn(mode) : PipelineSettings{};
        if (filters == kSharpness || filters == kSharpnessBrightness) s.sharpness = 25;
        if (filters == kSharpnessBrightness) s.brightness = -45;
        s.colorMode = mode;
        s.bayerPhase = mode & 3;
        s.bayerGainGreen = 400;  // stored for the dialogs, never applied
        Frame frame(size.width, size.height);
        DibImage* raw = frame.Images().Raw(mode);
        test::FillRandom(*raw, static_cast<uint32_t>(mode * 7 + filters), 0.05);
        DibImage expected;
        ASSERT_TRUE(expected.CopyFormat(*frame.Images().Output(mode)));
        ReferenceKernels().demosaic(PlaneOf(expected), PlaneOf(*raw),
                                    {s.bayerPhase, GainFactor(s.bayerGainRed), GainFactor(s.bayerGainBlue)}, nullptr);
        ReferenceFilters(s, expected);
        for (const KernelTable* kernels : test::FastKernelSets()) {
          for (int threads : {1, 2, 3}) {
            Frame run(size.width, size.height);
            test::CopyPixels(*run.Images().Raw(mode), *raw);
            ImagePipeline pipeline(threads, kernels);
            ASSERT_TRUE(pipeline.Run(s, run.Images(), nullptr, nullptr, nullptr));
            EXPECT_TRUE(test::SamePixels(expected, *run.Images().Output(mode)))
                << size.width << " x " << size.height << " mode " << mode << " filters " << filters << " threads "
                << threads << " " << kernels->name;
          }
        }
      }
    }
  }
}

TEST(ImagePipeline, AFullColourFrameWithEveryFilterEqualsTheChainedReferences) {
  PipelineSettings s = AllFiltersOn(2);
  Frame frame(4000, 3000);
  test::FillRandom(frame.raw8, 99, 0.05);
  DibImage expected;
  ASSERT_TRUE(expected.CopyFormat(frame.c24));
  ReferenceKernels().demosaic(PlaneOf(expected), PlaneOf(frame.raw8),
                              {s.bayerPhase, GainFactor(s.bayerGainRed), GainFactor(s.bayerGainBlue)}, nullptr);
  ReferenceFilters(s, expected);
  ImagePipeline pipeline(2);
  ASSERT_TRUE(pipeline.Run(s, frame.Images(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(test::SamePixels(expected, frame.c24));
}

// Sharpness and brightness run fused in one pass where fixed point reproduces the brightness
// exactly, and apart otherwise: either way every brightness gives the references' bytes.
TEST(ImagePipeline, SharpnessWithEveryBrightnessEqualsTheReferences) {
  for (int bits : {8, 24}) {
    DibImage source;
    ASSERT_TRUE(source.Create(45, 7, bits));
    test::FillRandom(source, 7u + static_cast<uint32_t>(bits), 0.05);
    for (const KernelTable* kernels : test::FastKernelSets()) {
      ImagePipeline pipeline(1, kernels);
      for (int brightness = -255; brightness <= 255; ++brightness) {
        PipelineSettings s;
        s.colorMode = bits == 8 ? 0 : 2;
        s.sharpness = 25;
        s.brightness = brightness;
        DibImage expected, actual;
        test::CopyPixels(expected, source);
        test::CopyPixels(actual, source);
        ReferenceFilters(s, expected);
        ASSERT_TRUE(pipeline.ApplyFilters(s, actual));
        ASSERT_TRUE(test::SamePixels(expected, actual)) << bits << " bits, brightness " << brightness;
      }
    }
  }
}

TEST(ImagePipeline, EveryCombinationOfFiltersEqualsTheChainedReferences) {
  // The pipeline folds neighbouring per-value passes together; every subset of the five filters must still
  // give the bytes of the passes run one by one, at every depth.
  for (int mode = 0; mode <= 5; ++mode) {
    static constexpr int kBits[6] = {8, 16, 24, 32, 48, 64};
    DibImage source;
    ASSERT_TRUE(source.Create(23, 9, kBits[mode]));
    test::FillRandom(source, 40u + static_cast<uint32_t>(mode), 0.05);
    ImagePipeline pipeline(2);
    for (int mask = 0; mask < 32; ++mask) {
      PipelineSettings s;
      s.colorMode = mode;
      if (mask & 1) s.hue = -75, s.saturation = 30;
      if (mask & 2) s.gamma = 150;
      if (mask & 4) s.contrast = -40;
      if (mask & 8) s.sharpness = 30;
      if (mask & 16) s.brightness = 100;
      DibImage expected, actual;
      test::CopyPixels(expected, source);
      test::CopyPixels(actual, source);
      ReferenceFilters(s, expected);
      ASSERT_TRUE(pipeline.ApplyFilters(s, actual));
      ASSERT_TRUE(test::SamePixels(expected, actual)) << "mode " << mode << " filters " << mask;
    }
  }
}

TEST(ImagePipeline, MirrorsAndBalancesChangeTheDemosaicPhaseAndGains) {
  // Vertical mirror not done by the device: rows reversed in software and phase 2 read as 3.
  Frame frame(14, 10), hw(14, 10);
  test::FillRandom(frame.raw8, 8);
  DibImage mirrored, scratch, expected;
  test::CopyPixels(mirrored, frame.raw8);
  ASSERT_TRUE(MirrorRaw(mirrored, false, true, scratch));
  ASSERT_TRUE(expected.Create(14, 10, 24));
  ReferenceKernels().demosaic(PlaneOf(expected), PlaneOf(mirrored), {3, 128, 128}, nullptr);
  PipelineSettings s{.colorMode = 2, .mirrorV = 1};
  ImagePipeline pipeline(1);
  ASSERT_TRUE(pipeline.Run(s, frame.Images(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(test::SamePixels(expected, frame.c24));
  // Done by the device: the phase still changes, the rows do not move.
  test::CopyPixels(hw.raw8, mirrored);
  s.hardwareMirrorV = 1;
  ASSERT_TRUE(pipeline.Run(s, hw.Images(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(test::SamePixels(expected, hw.c24));
  EXPECT_EQ(EffectivePhase(0, true, false), 1);
  EXPECT_EQ(EffectivePhase(2, true, false), 3);
  EXPECT_EQ(EffectivePhase(0, false, true), 2);
  EXPECT_EQ(EffectivePhase(1, true, true), 2);

  // One-shot white balance: measured, reported, finished, and already applied to this frame.
  std::memset(frame.raw8.Bits(), 90, frame.raw8.SizeBytes());
  PipelineSettings wb{.colorMode = 2, .bayerGainRed = 300, .bayerGainBlue = 10, .autoWhiteBalance = 1};
  wb.whiteBalanceOnce[0] = wb.whiteBalanceOnce[1] = 1;
  int refreshes = 0;
  pipeline.SetRefreshHook([&](DialogRefresh which, int) { refreshes += which == DialogRefresh::kImage; });
  PipelineUpdates up;
  ASSERT_TRUE(pipeline.Run(wb, frame.Images(), nullptr, nullptr, &up));
  EXPECT_TRUE(up.whiteBalanceMeasured && up.whiteBalanceFinished);
  EXPECT_EQ(std::tuple(up.bayerGainRed, up.bayerGainGreen, up.bayerGainBlue), std::tuple(100, 100, 100));
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(frame.c24.Row(4)[3 * 4 + 2], 90);
  wb.whiteBalanceOnce[1] = 0;  // continuous: measured, not finished
  ASSERT_TRUE(pipeline.Run(wb, frame.Images(), nullptr, nullptr, &up));
  EXPECT_TRUE(up.whiteBalanceMeasured);
  EXPECT_FALSE(up.whiteBalanceFinished);
}

// Gray gains (with the filters' table in their pass when the sharpness is off), the software mirror and
// the filters on the raw frame: every depth, odd height, thread count and kernel set gives the chained
// references.
TEST(ImagePipeline, GrayGainsWithTheFiltersEqualTheChainedReferences) {
  const std::pair<int, int> sizes[] = {{37, 21}, {101, 67}, {600, 131}};
  for (auto [width, height] : sizes) {
    for (int mode : {0, 1}) {
      for (bool sharpen : {false, true}) {
        PipelineSettings s{.colorMode = mode, .brightness = -40, .contrast = 25, .gamma = 70, .grayMode = 1,
                           .mirrorV = 1, .mirrorH = sharpen ? 1 : 0};
        s.sharpness = sharpen ? 9 : 0;
        s.grayGain[kGrayR] = 200;
        s.grayOffset[kGrayG2] = 90;
        Frame frame(width, height);
        DibImage* raw = frame.Images().Raw(mode);
        test::FillRandom(*raw, static_cast<uint32_t>(width + mode), 0.05);
        DibImage expected, scratch;
        test::CopyPixels(expected, *raw);
        ReferenceKernels().grayGain(PlaneOf(expected), MakeGrayGainParams(s.grayGain, s.grayOffset, 2, mode ? 16 : 8),
                                    nullptr);
        ASSERT_TRUE(MirrorRaw(expected, s.mirrorH != 0, true, scratch));
        ReferenceFilters(s, expected);
        for (const KernelTable* kernels : test::FastKernelSets()) {
          for (int threads : {1, 2, 3}) {
            Frame run(width, height);
            test::CopyPixels(*run.Images().Raw(mode), *raw);
            ImagePipeline pipeline(threads, kernels);
            ASSERT_TRUE(pipeline.Run(s, run.Images(), nullptr, nullptr, nullptr));
            EXPECT_TRUE(test::SamePixels(expected, *run.Images().Raw(mode)))
                << width << " x " << height << " mode " << mode << " sharpen " << sharpen << " threads " << threads
                << " " << kernels->name;
          }
        }
      }
    }
  }
}

TEST(ImagePipeline, GrayModes) {
  // Gray mode 1 with the stored defaults (all 128) is skipped; changing one value runs it with every offset.
  Frame frame(10, 6);
  test::FillRandom(frame.raw8, 12);
  DibImage original, expected;
  test::CopyPixels(original, frame.raw8);
  PipelineSettings s{.colorMode = 0, .grayMode = 1};
  ImagePipeline pipeline(1);
  ASSERT_TRUE(pipeline.Run(s, frame.Images(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(test::SamePixels(frame.raw8, original));
  s.grayGain[kGrayB] = 127;
  ASSERT_TRUE(pipeline.Run(s, frame.Images(), nullptr, nullptr, nullptr));
  test::CopyPixels(expected, original);
  ReferenceKernels().grayGain(PlaneOf(expected), MakeGrayGainParams(s.grayGain, s.grayOffset, 2, 8), nullptr);
  EXPECT_TRUE(test::SamePixels(frame.raw8, expected));
  // Automatic gray balance: measured once, reported, request consumed by the caller.
  s.autoGrayBalance = 1;
  PipelineUpdates up;
  ASSERT_TRUE(pipeline.Run(s, frame.Images(), nullptr, nullptr, &up));
  EXPECT_TRUE(up.grayBalanceMeasured);
  EXPECT_EQ(up.grayGain[kGrayG1], 128);

  // Gray mode 2: luminance of the demosaic written into the 8-bit bitmap.
  Frame lum(12, 8);
  test::FillRandom(lum.raw8, 13);
  DibImage colour, gray;
  ASSERT_TRUE(colour.Create(12, 8, 24));
  ASSERT_TRUE(gray.Create(12, 8, 8));
  ReferenceKernels().demosaic(PlaneOf(colour), PlaneOf(lum.raw8), {2, 128, 128}, nullptr);
  ReferenceKernels().luminance(PlaneOf(gray), PlaneOf(colour), nullptr);
  ASSERT_TRUE(pipeline.Run(PipelineSettings{.grayMode = 2}, lum.Images(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(test::SamePixels(lum.raw8, gray));
  const uint8_t* px = colour.Row(3) + 3 * 5;
  EXPECT_EQ(gray.Row(3)[5], (30 * px[2] + 59 * px[1] + 11 * px[0]) / 100);

  // Images that do not fit the mode, and unknown modes, are refused.
  DibImage small;
  ASSERT_TRUE(small.Create(4, 8, 24));
  PipelineImages images = frame.Images();
  images.color24 = &small;
  EXPECT_FALSE(pipeline.Run(PipelineSettings{.colorMode = 2}, images, nullptr, nullptr, nullptr));
  EXPECT_FALSE(pipeline.Run(PipelineSettings{.colorMode = 9}, frame.Images(), nullptr, nullptr, nullptr));
}

// The shading and the dot filter run on the raw frame with the pipeline's own threads: at one to three
// threads, both depths and frames away from the sensor's origin, the raw frame equals the references'.
TEST(ImagePipeline, MaskCorrectionsOnThePipelinesThreadsEqualTheReferences) {
  DefectMask mask;
  for (int bits : {8, 16}) {
    DibImage dark, bright;
    ASSERT_TRUE(dark.Create(DefectMask::kWidth, DefectMask::kHeight, bits));
    ASSERT_TRUE(bright.Create(DefectMask::kWidth, DefectMask::kHeight, bits));
    test::FillRandom(dark, static_cast<uint32_t>(70 + bits), 0.02);
    test::FillRandom(bright, static_cast<uint32_t>(80 + bits), 0.02);
    ASSERT_EQ(mask.Capture(dark, 0), MaskStatus::kOk);
    ASSERT_EQ(mask.Capture(bright, 1), MaskStatus::kOk);
  }
  for (auto [width, height, offsetX, offsetY] : {std::tuple{600, 131, 1200, 700}, {257, 300, 3800, 2900}}) {
    for (int mode : {0, 1}) {
      PipelineSettings s;
      s.colorMode = mode;
      s.maskFilter = 1;
      s.dotFilter = 1;
      s.offsetX = offsetX;
      s.offsetY = offsetY;
      Frame frame(width, height);
      DibImage* raw = frame.Images().Raw(mode);
      test::FillRandom(*raw, static_cast<uint32_t>(width + mode), 0.05);
      DibImage expected;
      test::CopyPixels(expected, *raw);
      mask.CorrectShadingReference(expected, offsetX, offsetY);
      mask.CorrectDefectsReference(expected, offsetX, offsetY);
      for (int threads : {1, 2, 3}) {
        Frame run(width, height);
        test::CopyPixels(*run.Images().Raw(mode), *raw);
        ImagePipeline pipeline(threads);
        ASSERT_TRUE(pipeline.Run(s, run.Images(), &mask, nullptr, nullptr));
        EXPECT_TRUE(test::SamePixels(expected, *run.Images().Output(mode)))
            << width << " x " << height << " mode " << mode << " threads " << threads;
      }
    }
  }
}

TEST(ImagePipeline, FramesAllocateNothingOnceTheGeometryIsSet) {
  Frame frame(64, 48);
  test::FillRandom(frame.raw8, 50);
  DefectMask mask;
  PipelineSettings s = AllFiltersOn(2);
  s.mirrorH = 1;
  s.dotFilter = 1;
  s.autoWhiteBalance = 1;
  ImagePipeline pipeline(2);
  ASSERT_TRUE(pipeline.Run(s, frame.Images(), &mask, nullptr, nullptr));  // sizes the scratch bitmaps
  g_allocations = 0;
  g_countAllocations = true;
  {
    // The counter sees allocations made on this thread.
    std::vector<int> probe(static_cast<size_t>(3 + g_allocations.load()));
    g_sink = probe.data();
  }
  EXPECT_EQ(g_allocations.exchange(0), 1);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pipeline.Run(s, frame.Images(), &mask, nullptr, nullptr));
  g_countAllocations = false;
  EXPECT_EQ(g_allocations.load(), 0);
}

}  // namespace
}  // namespace orvane::image

void* operator new(std::size_t size) {
  if (g_countAllocations) ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
