#include "image/image_pipeline.h"

#include <algorithm>
#include <cstring>

#include "image/raw_conversion.h"

namespace orvane::image {

namespace {

Plane PlaneFromArgs(uint8_t* bits, const PixelRect& rect, int x, int y, int bytesPerPixel, int stride) {
  Plane p;
  p.bits = bits + static_cast<ptrdiff_t>(y) * stride + static_cast<ptrdiff_t>(x) * bytesPerPixel;
  p.width = rect.Width();
  p.height = rect.Height();
  p.stride = stride;
  p.bytesPerPixel = bytesPerPixel;
  return p;
}
Plane DstPlane(const PixelOpArgs& a) {
  return PlaneFromArgs(a.dst, a.rect, a.dstX, a.dstY, a.dstBytesPerPixel, a.dstStride);
}
Plane SrcPlane(const PixelOpArgs& a) {
  return PlaneFromArgs(const_cast<uint8_t*>(a.src), a.rect, a.rect.left, a.rect.top, a.srcBytesPerPixel, a.srcStride);
}

// The passes as PixelOps: `arg` is the pass context, `arg2` unused.
struct PassContext {
  const KernelTable* kernels;
  RowPool* pool;
  const void* params;
};

int DemosaicOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const PassContext*>(a.arg);
  c->kernels->demosaic(DstPlane(a), SrcPlane(a), *static_cast<const DemosaicParams*>(c->params), c->pool);
  return 1;
}
int GrayGainOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const PassContext*>(a.arg);
  c->kernels->grayGain(DstPlane(a), *static_cast<const GrayGainParams*>(c->params), c->pool);
  return 1;
}
int HueSatOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const PassContext*>(a.arg);
  c->kernels->hueSat(DstPlane(a), SrcPlane(a), *static_cast<const HueSatParams*>(c->params), c->pool);
  return 1;
}
int LutOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const PassContext*>(a.arg);
  c->kernels->lut(DstPlane(a), SrcPlane(a), *static_cast<const LutParams*>(c->params), c->pool);
  return 1;
}
int SharpenOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const PassContext*>(a.arg);
  c->kernels->sharpen(DstPlane(a), SrcPlane(a), *static_cast<const SharpenParams*>(c->params), c->pool);
  return 1;
}
int LuminanceOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const PassContext*>(a.arg);
  c->kernels->luminance(DstPlane(a), SrcPlane(a), c->pool);
  return 1;
}

// The demosaic and the colour filters of a whole frame as one operation, in bands of kBandRows rows: each
// band is demosaiced, goes through hue/saturation or the table (into the scratch when the sharpness
// follows), and the sharpness then finishes every row whose four source rows of the scratch are done,
// while the band is still in the cache. Every row is computed by the same kernels as in the pass-by-pass
// order, so the bytes are the same. With a pool the frame is split into one part per thread; the three
// rows around each seam whose sharpness needs the other part's scratch are sharpened after both parts.
constexpr int kBandRows = 16;

struct FusedContext {
  const KernelTable* kernels;
  RowPool* pool;
  DemosaicParams demosaic;
  const FilterPlan* plan;
  Plane scratch;  // the sharpness's copy (same format as the output), when plan->sharpen
};

Plane RowsOf(const Plane& p, int y0, int y1) {
  Plane r = p;
  r.bits = p.Row(y0);
  r.height = y1 - y0;
  return r;
}

int FusedFrameOp(const PixelOpArgs& a) {
  const auto* c = static_cast<const FusedContext*>(a.arg);
  const KernelTable& k = *c->kernels;
  const FilterPlan& plan = *c->plan;
  const Plane out = DstPlane(a);
  const Plane raw = SrcPlane(a);
  const Plane target = plan.sharpen ? c->scratch : out;
  const int h = raw.height;
  auto firstStage = [&](int y0, int y1) {
    k.demosaicRows(out, raw, c->demosaic, y0, y1);
    const Plane o = RowsOf(out, y0, y1);
    const Plane t = RowsOf(target, y0, y1);
    if (plan.hueSat) {
      k.hueSat(t, o, plan.hue, nullptr);
    } else if (plan.table) {
      k.lut(t, o, plan.lut, nullptr);
    } else if (plan.sharpen) {
      for (int y = y0; y < y1; ++y) {
        std::memcpy(target.Row(y), out.Row(y), static_cast<size_t>(out.width) * out.bytesPerPixel);
      }
    }
  };
  auto part = [&](int begin, int end) {
    const bool first = begin == 0;
    const bool last = end == h;
    int next = begin + (first ? 0 : 2);    // next row to sharpen; rows above wait for the part before
    const int stop = end - (last ? 0 : 1);  // rows from here on wait for the part after
    for (int y0 = begin; y0 < end; y0 += kBandRows) {
      const int y1 = std::min(y0 + kBandRows, end);
      firstStage(y0, y1);
      if (!plan.sharpen) continue;
      // Row y reads the scratch rows y - 2 .. y + 1 (the last rows of the image are copies).
      const int ready = std::min(last && y1 == end ? end : y1 - 1, stop);
      if (ready > next) {
        k.sharpenRows(out, c->scratch, plan.sharpenParams, next, ready);
        next = ready;
      }
    }
  };
  const int threads = c->pool != nullptr ? c->pool->Threads() : 1;
  const int parts = std::max(1, std::min(threads, h / (2 * kBandRows)));
  auto begin = [&](int i) { return static_cast<int>(static_cast<int64_t>(h) * i / parts); };
  if (parts == 1) {
    part(0, h);
    return 1;
  }
  // One index per thread: the pool splits `parts` rows into one row per worker.
  c->pool->Run(parts, [&](int i0, int i1) {
    for (int i = i0; i < i1; ++i) part(begin(i), begin(i + 1));
  });
  if (plan.sharpen) {
    for (int i = 1; i < parts; ++i) k.sharpenRows(out, c->scratch, plan.sharpenParams, begin(i) - 1, begin(i) + 2);
  }
  return 1;
}

bool Fits(const DibImage* image, int width, int height, int bits) {
  return image != nullptr && image->Valid() && image->Width() == width && image->Height() == height &&
         image->BitsPerPixel() == bits;
}

}  // namespace

DibImage* PipelineImages::Output(int colorMode) const {
  switch (colorMode) {
    case 0: return raw8;
    case 1: return raw16;
    case 2: return color24;
    case 3: return color32;
    case 4: return color48;
    case 5: return color64;
    default: return nullptr;
  }
}

Plane PlaneOf(DibImage& image) {
  Plane p;
  p.bits = image.Bits();
  p.width = image.Width();
  p.height = image.Height();
  p.stride = image.Stride();
  p.bytesPerPixel = image.BytesPerPixel();
  return p;
}

ImagePipeline::ImagePipeline(int threads, const KernelTable* kernels)
    : kernels_(kernels != nullptr ? kernels : &ActiveKernels()),
      pool_(threads > 1 ? std::make_unique<RowPool>(threads) : nullptr) {}

bool ImagePipeline::Run(const PipelineSettings& settingsIn, const PipelineImages& images, DefectMask* mask,
                        ExposureControl* exposure, PipelineUpdates* updates) {
  PipelineUpdates local;
  PipelineUpdates& up = updates != nullptr ? *updates : local;
  up = PipelineUpdates{};
  PipelineSettings s = settingsIn;
  const int mode = s.colorMode;
  DibImage* raw = images.Raw(mode);
  DibImage* output = images.Output(mode);
  if (raw == nullptr || output == nullptr || !raw->Valid() || !output->Valid()) return false;
  const int w = raw->Width();
  const int h = raw->Height();
  if (!Fits(raw, w, h, mode == 1 || mode >= 4 ? 16 : 8) || !Fits(output, w, h, BitsOfColorMode(mode))) return false;

  // 1. Automatic exposure on the raw frame.
  if (exposure != nullptr && (s.autoIris == 1 || s.autoIris == 2)) {
    up.exposure = RunAutoExposure(*raw, static_cast<AutoIrisMode>(s.autoIris), *exposure);
    if (up.exposure.changed && refresh_) {
      refresh_(s.autoIris == 2 ? DialogRefresh::kAnalogGain : DialogRefresh::kAnalogExposure, up.exposure.value);
    }
  }

  // 2. Shading, then defect correction.
  if (mask != nullptr && s.maskFilter != 0) mask->CorrectShading(*raw, s.offsetX, s.offsetY, pool_.get());
  if (mask != nullptr && s.dotFilter != 0) mask->CorrectDefects(*raw, s.offsetX, s.offsetY, pool_.get());

  const int phase = EffectivePhase(std::clamp(s.bayerPhase, 0, 3), s.mirrorV != 0, s.mirrorH != 0);

  // 3. Gray modes (colour modes 0 and 1); gray mode 1 may take the filters' table into its pass.
  const bool tableApplied = mode <= 1 && RunGrayMode(s, images, *raw, phase, up);

  // 4. Software mirror of the directions the device does not mirror itself.
  const bool softH = s.mirrorH != 0 && s.hardwareMirrorH == 0;
  const bool softV = s.mirrorV != 0 && s.hardwareMirrorV == 0;
  if (softH || softV) MirrorRaw(*raw, softH, softV, mirrorScratch_);

  // 5. Demosaic and 6. filters on the output: band by band where the kernels allow it.
  if (mode >= 2) {
    const DemosaicParams params = BalancedDemosaicParams(*raw, phase, s, up);
    FilterPlan plan;
    // Without filters the whole-frame demosaic is used: it may write past the caches, as nothing
    // reads the frame again at once.
    const bool filters = PlanFilters(s, *output, &plan) && (plan.hueSat || plan.table || plan.sharpen);
    if (filters && kernels_->demosaicRows != nullptr && kernels_->sharpenRows != nullptr) {
      FusedContext ctx{kernels_, pool_.get(), params, &plan, plan.sharpen ? PlaneOf(sharpenScratch_) : Plane{}};
      ApplyPixelOp(*output, FusedFrameOp, *raw, nullptr, 0, 0, &ctx, 0);
      return true;
    }
    Demosaic(*raw, *output, params);
  }
  return FilterOutput(s, *output, tableApplied);
}

DemosaicParams ImagePipeline::BalancedDemosaicParams(DibImage& src, int phase, PipelineSettings& s,
                                                     PipelineUpdates& up) {
  if (s.autoWhiteBalance != 0) {
    int red = s.bayerGainRed;
    int blue = s.bayerGainBlue;
    if (MeasureWhiteBalance(src, phase, &red, &blue)) {
      s.bayerGainRed = red;
      s.bayerGainBlue = blue;
      s.bayerGainGreen = 100;
      up.whiteBalanceMeasured = true;
      up.bayerGainRed = red;
      up.bayerGainGreen = 100;
      up.bayerGainBlue = blue;
      if (refresh_) refresh_(DialogRefresh::kImage, 0);
    }
    if (s.whiteBalanceOnce[0] != 0 && s.whiteBalanceOnce[1] != 0) up.whiteBalanceFinished = true;
  }
  return DemosaicParams{phase, GainFactor(s.bayerGainRed), GainFactor(s.bayerGainBlue)};
}

void ImagePipeline::Demosaic(DibImage& src, DibImage& dst, const DemosaicParams& params) {
  PassContext ctx{kernels_, pool_.get(), &params};
  ApplyPixelOp(dst, DemosaicOp, src, nullptr, 0, 0, &ctx, 0);
}

bool ImagePipeline::RunGrayMode(PipelineSettings& s, const PipelineImages& images, DibImage& raw, int phase,
                                PipelineUpdates& up) {
  const int mode = s.colorMode;
  if (s.grayMode == 1) {
    if (s.autoGrayBalance == 1) {
      MeasureGrayBalance(raw, std::clamp(s.bayerPhase, 0, 3), s.grayGain);
      up.grayBalanceMeasured = true;
      std::copy(s.grayGain, s.grayGain + 4, up.grayGain);
      if (refresh_) refresh_(DialogRefresh::kImage, 0);
    }
    bool neutral = true;
    for (int i = 0; i < 4; ++i) neutral = neutral && s.grayGain[i] == 128 && s.grayOffset[i] == 128;
    if (!neutral) {
      GrayGainParams params =
          MakeGrayGainParams(s.grayGain, s.grayOffset, std::clamp(s.bayerPhase, 0, 3), mode == 0 ? 8 : 16);
      // The raw frame is the output in these modes: the filters' table (gamma, contrast, brightness)
      // maps each value alone, so it is applied by the gains' pass, before the software mirror. With the
      // sharpness on, the table pass makes the sharpness's copy as well, so it stays where it is.
      FilterPlan plan;
      const bool fold = PlanFilters(s, raw, &plan) && plan.table && !plan.sharpen;
      if (fold) {
        params.post8 = plan.lut.lut8;
        params.post16 = plan.lut.lut16;
      }
      PassContext ctx{kernels_, pool_.get(), &params};
      ApplyPixelOp(raw, GrayGainOp, raw, nullptr, 0, 0, &ctx, 0);
      return fold;
    }
  } else if (s.grayMode == 2 && mode == 0) {
    // Colour mode 1 would convert the 8-bit bitmap, which is not its output: nothing visible, so skipped.
    if (Fits(images.color24, raw.Width(), raw.Height(), 24)) {
      Demosaic(raw, *images.color24, BalancedDemosaicParams(raw, phase, s, up));
      PassContext ctx{kernels_, pool_.get(), nullptr};
      ApplyPixelOp(raw, LuminanceOp, *images.color24, nullptr, 0, 0, &ctx, 0);
    }
  }
  return false;
}

// The passes run in the order hue/saturation, gamma, contrast, sharpness, brightness, each only when its
// setting is not neutral. Gamma, contrast and brightness map every channel value through a table, so
// neighbouring ones are composed into one table and folded into the pass before them; the pass before
// the sharpness writes into the scratch bitmap that the sharpness reads (it needs an unmodified copy),
// and the brightness factor is applied by the sharpness pass as it writes. The bytes are those of the
// passes run one after the other (the tests compare with the references chained that way).
bool ImagePipeline::PlanFilters(const PipelineSettings& s, DibImage& output, FilterPlan* plan) {
  if (!output.Valid()) return false;
  const bool deep = output.BitsPerPixel() == 16 || output.BitsPerPixel() >= 48;
  const bool colour = output.BitsPerPixel() >= 24;
  const int hue = std::clamp(s.hue, -360, 360);
  const int saturation = std::clamp(s.saturation, -255, 255);
  const int gamma = std::clamp(s.gamma, 0, 200);
  const int contrast = std::clamp(s.contrast, -127, 127);
  const int sharpness = std::clamp(s.sharpness, 0, 30);
  const int brightness = std::clamp(s.brightness, -255, 255);
  *plan = FilterPlan{};
  plan->hueSat = colour && (hue != 0 || saturation != 0);
  plan->sharpen = sharpness != 0;
  // Table passes before the sharpness (gamma, contrast), or all three when there is no sharpness.
  const int tableBrightness = plan->sharpen ? 0 : brightness;
  plan->table = gamma != 100 || contrast != 0 || tableBrightness != 0;
  if (plan->sharpen) {
    const bool same = sharpenScratch_.Valid() && sharpenScratch_.Width() == output.Width() &&
                      sharpenScratch_.Height() == output.Height() &&
                      sharpenScratch_.BitsPerPixel() == output.BitsPerPixel();
    if (!same && !sharpenScratch_.CopyFormat(output)) return false;
    plan->sharpenParams = SharpenParams{sharpness, brightness != 0, BrightnessFactor(brightness)};
  }
  if (plan->table) {
    if (deep) {
      plan->lut.lut16 = tables_.Compose16(gamma, contrast, tableBrightness);
    } else {
      plan->lut.lut8 = tables_.Compose8(gamma, contrast, tableBrightness);
    }
  }
  if (plan->hueSat) {
    plan->hue = MakeHueSatParams(hue, saturation, tables_.Saturation(saturation));
    plan->hue.post8 = plan->lut.lut8;
    plan->hue.post16 = plan->lut.lut16;
  }
  return true;
}

bool ImagePipeline::ApplyFilters(const PipelineSettings& s, DibImage& output) { return FilterOutput(s, output, false); }

bool ImagePipeline::FilterOutput(const PipelineSettings& s, DibImage& output, bool tableApplied) {
  FilterPlan plan;
  if (!PlanFilters(s, output, &plan)) return false;
  if (tableApplied) plan.table = false;
  RowPool* pool = pool_.get();
  DibImage* target = plan.sharpen ? &sharpenScratch_ : &output;
  if (plan.hueSat) {
    PassContext ctx{kernels_, pool, &plan.hue};
    ApplyPixelOp(*target, HueSatOp, output, nullptr, 0, 0, &ctx, 0);
  } else if (plan.table) {
    PassContext ctx{kernels_, pool, &plan.lut};
    ApplyPixelOp(*target, LutOp, output, nullptr, 0, 0, &ctx, 0);
  } else if (plan.sharpen) {
    std::memcpy(target->Bits(), output.Bits(), output.SizeBytes());
  }
  if (plan.sharpen) {
    PassContext ctx{kernels_, pool, &plan.sharpenParams};
    ApplyPixelOp(output, SharpenOp, sharpenScratch_, nullptr, 0, 0, &ctx, 0);
  }
  return true;
}

}  // namespace orvane::image
