// Frame times of the image pipeline on full 4000 × 3000 frames of seeded noise. Every benchmark takes
// the thread count as its argument (1 and all cores) and is timed on the wall clock, since the worker
// threads do the work. Names are "<pass>/<threads>"; scripts/bench pairs them with the OpenCV figures
// ("opencv_bayer_8to24/<threads>", "opencv_bayer_16to48/<threads>") of the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "image/defect_mask.h"
#include "image/dib_image.h"
#include "image/filters.h"
#include "image/image_pipeline.h"
#include "image/kernels.h"
#include "image/row_pool.h"

#if defined(ORVANE_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace orvane::image {
namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

void FillNoise(DibImage& image, uint32_t seed) {
  std::mt19937 rng(seed);
  for (size_t i = 0; i < image.SizeBytes(); ++i) image.Bits()[i] = static_cast<uint8_t>(rng() >> 7);
}

struct Frames {
  DibImage raw8, raw16, c24, c32, c48, c64;
  Frames() {
    if (!raw8.Create(kWidth, kHeight, 8) || !raw16.Create(kWidth, kHeight, 16) || !c24.Create(kWidth, kHeight, 24) ||
        !c32.Create(kWidth, kHeight, 32) || !c48.Create(kWidth, kHeight, 48) || !c64.Create(kWidth, kHeight, 64)) {
      std::abort();
    }
    FillNoise(raw8, 1);
    FillNoise(raw16, 2);
  }
  PipelineImages Images() { return {&raw8, &raw16, &c24, &c32, &c48, &c64}; }
};

Frames& SharedFrames() {
  static Frames frames;
  return frames;
}

std::unique_ptr<RowPool> MakePool(int threads) {
  return threads > 1 ? std::make_unique<RowPool>(threads) : nullptr;
}

void SetBytes(benchmark::State& state, int64_t bytesPerFrame) {
  state.SetBytesProcessed(state.iterations() * bytesPerFrame);
}

// Runs `frame` once untimed, then once per iteration. The first frame allocates and first touches the
// buffers a stream keeps (the output, the sharpness's scratch, the pool's): a camera pays that once,
// not per frame. On a fresh virtual machine a first touch of new memory costs the host's page fault as
// well, and with the few iterations of a slow row it outweighed the frames themselves (a 16-bit row
// read 270 ms instead of 30).
template <typename Frame>
void TimeFrames(benchmark::State& state, Frame&& frame) {
  frame();
  for (auto _ : state) {
    frame();
    benchmark::ClobberMemory();
  }
}

void Demosaic(benchmark::State& state, bool deep, const KernelTable& kernels) {
  Frames& f = SharedFrames();
  auto pool = MakePool(static_cast<int>(state.range(0)));
  DibImage& raw = deep ? f.raw16 : f.raw8;
  DibImage& out = deep ? f.c48 : f.c24;
  const DemosaicParams params{2, GainFactor(120), GainFactor(90)};
  TimeFrames(state, [&] { kernels.demosaic(PlaneOf(out), PlaneOf(raw), params, pool.get()); });
  SetBytes(state, static_cast<int64_t>(out.SizeBytes()));
}

void BM_Demosaic8(benchmark::State& state) { Demosaic(state, false, ActiveKernels()); }
void BM_Demosaic16(benchmark::State& state) { Demosaic(state, true, ActiveKernels()); }
void BM_Demosaic8Reference(benchmark::State& state) { Demosaic(state, false, ReferenceKernels()); }

// One filter pass on the 24-bit (or 48-bit) output, through the pipeline's own filter stage.
void Filter(benchmark::State& state, bool deep, void (*set)(PipelineSettings&)) {
  Frames& f = SharedFrames();
  ImagePipeline pipeline(static_cast<int>(state.range(0)));
  PipelineSettings s;
  set(s);
  DibImage& out = deep ? f.c48 : f.c24;
  FillNoise(out, 3);
  TimeFrames(state, [&] { pipeline.ApplyFilters(s, out); });
  SetBytes(state, static_cast<int64_t>(out.SizeBytes()));
}

void SetHueSat(PipelineSettings& s) {
  s.hue = 40;
  s.saturation = 60;
}
void SetGamma(PipelineSettings& s) { s.gamma = 80; }
void SetContrast(PipelineSettings& s) { s.contrast = 20; }
void SetSharpness(PipelineSettings& s) { s.sharpness = 12; }
void SetBrightness(PipelineSettings& s) { s.brightness = 30; }
void SetAll(PipelineSettings& s) {
  SetHueSat(s);
  SetGamma(s);
  SetContrast(s);
  SetSharpness(s);
  SetBrightness(s);
}

void BM_HueSat8(benchmark::State& s) { Filter(s, false, SetHueSat); }
void BM_Gamma8(benchmark::State& s) { Filter(s, false, SetGamma); }
void BM_Contrast8(benchmark::State& s) { Filter(s, false, SetContrast); }
void BM_Sharpness8(benchmark::State& s) { Filter(s, false, SetSharpness); }
void BM_Brightness8(benchmark::State& s) { Filter(s, false, SetBrightness); }
void BM_HueSat16(benchmark::State& s) { Filter(s, true, SetHueSat); }
void BM_Gamma16(benchmark::State& s) { Filter(s, true, SetGamma); }
void BM_Contrast16(benchmark::State& s) { Filter(s, true, SetContrast); }
void BM_Sharpness16(benchmark::State& s) { Filter(s, true, SetSharpness); }
void BM_Brightness16(benchmark::State& s) { Filter(s, true, SetBrightness); }

void BM_GrayGain8(benchmark::State& state) {
  Frames& f = SharedFrames();
  ImagePipeline pipeline(static_cast<int>(state.range(0)));
  PipelineSettings s;
  s.colorMode = 0;
  s.grayMode = 1;
  s.grayGain[0] = 140;
  TimeFrames(state, [&] { pipeline.Run(s, f.Images(), nullptr, nullptr, nullptr); });
  SetBytes(state, static_cast<int64_t>(f.raw8.SizeBytes()));
}

// The whole frame: raw mosaic to filtered colour bitmap.
// `gray`: gray mode 1 with one gain and one offset changed (colour modes 0 and 1), every filter but the
// sharpness.
void Pipeline(benchmark::State& state, int mode, bool filters, bool gray = false) {
  Frames& f = SharedFrames();
  ImagePipeline pipeline(static_cast<int>(state.range(0)));
  PipelineSettings s;
  if (filters) SetAll(s);
  s.colorMode = mode;
  if (gray) {
    s.sharpness = 0;
    s.grayMode = 1;
    s.grayGain[0] = 140;
    s.grayOffset[3] = 120;
  }
  TimeFrames(state, [&] { pipeline.Run(s, f.Images(), nullptr, nullptr, nullptr); });
  SetBytes(state, static_cast<int64_t>(f.Images().Output(mode)->SizeBytes()));
}
// One copy of the 24-bit output frame: the yardstick of the copies the frame path may make.
void BM_Copy24(benchmark::State& state) {
  Frames& f = SharedFrames();
  std::vector<uint8_t> to(f.c24.SizeBytes());
  TimeFrames(state, [&] { std::memcpy(to.data(), f.c24.Bits(), to.size()); });
  SetBytes(state, static_cast<int64_t>(to.size()));
}

void BM_Pipeline24Default(benchmark::State& s) { Pipeline(s, 2, false); }
void BM_Pipeline24AllFilters(benchmark::State& s) { Pipeline(s, 2, true); }
void BM_Pipeline48Default(benchmark::State& s) { Pipeline(s, 4, false); }
void BM_Pipeline48AllFilters(benchmark::State& s) { Pipeline(s, 4, true); }
void BM_Pipeline8GrayFilters(benchmark::State& s) { Pipeline(s, 0, true, true); }
void BM_Pipeline16GrayFilters(benchmark::State& s) { Pipeline(s, 1, true, true); }

// The corrections on the raw frame before the demosaic: shading between a dark and a bright reference,
// and the dot (defect) filter, on a full-sensor frame of noise (a Bayer mosaic's neighbours differ, so
// most pixels are marked: the filter's worst case). The frame is restored untimed before each run. With
// more than one thread they run on a pool as in the pipeline.
struct MaskFixture {
  DefectMask mask;
  DibImage frame, source;
  explicit MaskFixture(int bits) {
    DibImage dark, bright;
    if (!mask.EnsureAllocated() || !dark.Create(kWidth, kHeight, bits) || !bright.Create(kWidth, kHeight, bits) ||
        !frame.Create(kWidth, kHeight, bits) || !source.Create(kWidth, kHeight, bits)) {
      std::abort();
    }
    FillNoise(dark, 4);
    FillNoise(bright, 5);
    // Dark references low, bright ones high, as a real pair of calibration frames.
    for (size_t i = 0; i < dark.SizeBytes(); ++i) {
      dark.Bits()[i] = static_cast<uint8_t>(dark.Bits()[i] >> 3);
      bright.Bits()[i] = static_cast<uint8_t>(0xC0 | bright.Bits()[i]);
    }
    if (mask.Capture(dark, 0) != MaskStatus::kOk || mask.Capture(bright, 1) != MaskStatus::kOk) std::abort();
    FillNoise(source, 6);
  }
};

void MaskCorrection(benchmark::State& state, int bits, bool dots) {
  MaskFixture f(bits);
  const int threads = static_cast<int>(state.range(0));
  std::unique_ptr<RowPool> pool = threads > 1 ? std::make_unique<RowPool>(threads) : nullptr;
  auto correct = [&] {
    if (dots) {
      f.mask.CorrectDefects(f.frame, 0, 0, pool.get());
    } else {
      f.mask.CorrectShading(f.frame, 0, 0, pool.get());
    }
  };
  correct();  // untimed: the corrections' scratch grows on the first frame (see TimeFrames)
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(f.frame.Bits(), f.source.Bits(), f.source.SizeBytes());
    state.ResumeTiming();
    correct();
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(f.frame.SizeBytes()));
}
void BM_Shading8(benchmark::State& s) { MaskCorrection(s, 8, false); }
void BM_Shading16(benchmark::State& s) { MaskCorrection(s, 16, false); }
void BM_DotFilter8(benchmark::State& s) { MaskCorrection(s, 8, true); }
void BM_DotFilter16(benchmark::State& s) { MaskCorrection(s, 16, true); }

#if defined(ORVANE_BENCH_OPENCV)
// cv::cvtColor Bayer → BGR (bilinear) on the same mosaic. Our phase 2 reads blue, green / green, red at
// the origin, which OpenCV calls a BG pattern.
void OpenCvBayer(benchmark::State& state, bool deep) {
  Frames& f = SharedFrames();
  const int previous = cv::getNumThreads();
  cv::setNumThreads(static_cast<int>(state.range(0)));
  DibImage& raw = deep ? f.raw16 : f.raw8;
  const cv::Mat src(kHeight, kWidth, deep ? CV_16UC1 : CV_8UC1, raw.Bits(), static_cast<size_t>(raw.Stride()));
  cv::Mat dst(kHeight, kWidth, deep ? CV_16UC3 : CV_8UC3);
  TimeFrames(state, [&] { cv::cvtColor(src, dst, cv::COLOR_BayerBG2BGR); });
  cv::setNumThreads(previous);
  SetBytes(state, static_cast<int64_t>(dst.total() * dst.elemSize()));
}
void BM_OpenCvBayer8(benchmark::State& s) { OpenCvBayer(s, false); }
void BM_OpenCvBayer16(benchmark::State& s) { OpenCvBayer(s, true); }
#endif

void Register(const char* name, void (*fn)(benchmark::State&), bool pooled = true) {
  const int cores = RowPool::HardwareThreads();
  auto* b = benchmark::RegisterBenchmark(name, fn)->Arg(1);
  if (cores > 1 && pooled) b->Arg(cores);
  b->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace orvane::image

int main(int argc, char** argv) {
  using namespace orvane::image;
#if defined(ORVANE_BENCH_OPENCV)
  Register("opencv_bayer_8to24", BM_OpenCvBayer8);
  Register("opencv_bayer_16to48", BM_OpenCvBayer16);
#endif
  Register("demosaic_8to24", BM_Demosaic8);
  Register("demosaic_16to48", BM_Demosaic16);
  Register("demosaic_8to24_scalar_reference", BM_Demosaic8Reference);
  Register("gray_gains_8", BM_GrayGain8);
  Register("hue_saturation_24", BM_HueSat8);
  Register("gamma_24", BM_Gamma8);
  Register("contrast_24", BM_Contrast8);
  Register("sharpness_24", BM_Sharpness8);
  Register("brightness_24", BM_Brightness8);
  Register("hue_saturation_48", BM_HueSat16);
  Register("gamma_48", BM_Gamma16);
  Register("contrast_48", BM_Contrast16);
  Register("sharpness_48", BM_Sharpness16);
  Register("brightness_48", BM_Brightness16);
  Register("copy_24", BM_Copy24, false);
  Register("pipeline_24_default", BM_Pipeline24Default);
  Register("pipeline_24_all_filters", BM_Pipeline24AllFilters);
  Register("pipeline_48_default", BM_Pipeline48Default);
  Register("pipeline_48_all_filters", BM_Pipeline48AllFilters);
  Register("pipeline_8_gray_tables", BM_Pipeline8GrayFilters);
  Register("pipeline_16_gray_tables", BM_Pipeline16GrayFilters);
  Register("shading_8", BM_Shading8);
  Register("dot_filter_8", BM_DotFilter8);
  Register("shading_16", BM_Shading16);
  Register("dot_filter_16", BM_DotFilter16);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("kernels", ActiveKernels().name);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
