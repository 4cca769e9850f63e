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

int BitsOfMode(int colorMode) {
  static constexpr int kBits[6] = {8, 16, 24, 32, 48, 64};
  return (colorMode >= 0 && colorMode <= 5) ? kBits[colorMode] : 0;
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
  if (!Fits(raw, w, h, mode == 1 || mode >= 4 ? 16 : 8) || !Fits(output, w, h, BitsOfMode(mode))) return false;

  // 1. Automatic exposure on the raw frame.
  if (exposure != nullptr && (s.autoIris == 1 || s.autoIris == 2)) {
    up.exposure = RunAutoExposure(*raw, static_cast<AutoIrisMode>(s.autoIris), *exposure);
    if (up.exposure.changed && refresh_) {
      refresh_(s.autoIris == 2 ? DialogRefresh::kAnalogGain : DialogRefresh::kAnalogExposure, up.exposure.value);
    }
  }

  // 2. Shading, then defect correction.
  if (mask != nullptr && s.maskFilter != 0) mask->CorrectShading(*raw, s.offsetX, s.offsetY);
  if (mask != nullptr && s.dotFilter != 0) mask->CorrectDefects(*raw, s.offsetX, s.offsetY);

  const int phase = EffectivePhase(std::clamp(s.bayerPhase, 0, 3), s.mirrorV != 0, s.mirrorH != 0);
  auto demosaic = [&](DibImage& src, DibImage& dst) {
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
    const DemosaicParams params{phase, GainFactor(s.bayerGainRed), GainFactor(s.bayerGainBlue)};
    PassContext ctx{kernels_, pool_.get(), &params};
    ApplyPixelOp(dst, DemosaicOp, src, nullptr, 0, 0, &ctx, 0);
  };

  // 3. Gray modes (colour modes 0 and 1).
  if (mode <= 1) {
    if (s.grayMode == 1) {
      if (s.autoGrayBalance == 1) {
        MeasureGrayBalance(*raw, std::clamp(s.bayerPhase, 0, 3), s.grayGain);
        up.grayBalanceMeasured = true;
        std::copy(s.grayGain, s.grayGain + 4, up.grayGain);
        if (refresh_) refresh_(DialogRefresh::kImage, 0);
      }
      bool neutral = true;
      for (int i = 0; i < 4; ++i) neutral = neutral && s.grayGain[i] == 128 && s.grayOffset[i] == 128;
      if (!neutral) {
        const GrayGainParams params =
            MakeGrayGainParams(s.grayGain, s.grayOffset, std::clamp(s.bayerPhase, 0, 3), mode == 0 ? 8 : 16);
        PassContext ctx{kernels_, pool_.get(), &params};
        ApplyPixelOp(*raw, GrayGainOp, *raw, nullptr, 0, 0, &ctx, 0);
      }
    } else if (s.grayMode == 2 && mode == 0) {
      // Colour mode 1 would convert the 8-bit bitmap, which is not its output: nothing visible, so skipped.
      if (Fits(images.color24, w, h, 24)) {
        demosaic(*raw, *images.color24);
        PassContext ctx{kernels_, pool_.get(), nullptr};
        ApplyPixelOp(*raw, LuminanceOp, *images.color24, nullptr, 0, 0, &ctx, 0);
      }
    }
  }

  // 4. Software mirror of the directions the device does not mirror itself.
  const bool softH = s.mirrorH != 0 && s.hardwareMirrorH == 0;
  const bool softV = s.mirrorV != 0 && s.hardwareMirrorV == 0;
  if (softH || softV) MirrorRaw(*raw, softH, softV, mirrorScratch_);

  // 5. Demosaic.
  if (mode >= 2) demosaic(*raw, *output);

  // 6. Filters on the output.
  ApplyFilters(s, *output);
  return true;
}

// The passes run in the order hue/saturation, gamma, contrast, sharpness, brightness, each only when its
// setting is not neutral. Gamma, contrast and brightness map every channel value through a table, so
// neighbouring ones are composed into one table and folded into the pass before them; the pass before
// the sharpness writes into the scratch bitmap that the sharpness reads (it needs an unmodified copy),
// and the brightness factor is applied by the sharpness pass as it writes. The bytes are those of the
// passes run one after the other (the tests compare with the references chained that way).
bool ImagePipeline::ApplyFilters(const PipelineSettings& s, DibImage& output) {
  if (!output.Valid()) return false;
  const bool deep = output.BitsPerPixel() == 16 || output.BitsPerPixel() >= 48;
  const bool colour = output.BitsPerPixel() >= 24;
  RowPool* pool = pool_.get();
  const int hue = std::clamp(s.hue, -360, 360);
  const int saturation = std::clamp(s.saturation, -255, 255);
  const int gamma = std::clamp(s.gamma, 0, 200);
  const int contrast = std::clamp(s.contrast, -127, 127);
  const int sharpness = std::clamp(s.sharpness, 0, 30);
  const int brightness = std::clamp(s.brightness, -255, 255);
  const bool hueSat = colour && (hue != 0 || saturation != 0);
  const bool sharpen = sharpness != 0;
  // Table passes before the sharpness (gamma, contrast), or all three when there is no sharpness.
  const int tableBrightness = sharpen ? 0 : brightness;
  const bool table = gamma != 100 || contrast != 0 || tableBrightness != 0;

  DibImage* target = &output;
  if (sharpen) {
    const bool same = sharpenScratch_.Valid() && sharpenScratch_.Width() == output.Width() &&
                      sharpenScratch_.Height() == output.Height() &&
                      sharpenScratch_.BitsPerPixel() == output.BitsPerPixel();
    if (!same && !sharpenScratch_.CopyFormat(output)) return false;
    target = &sharpenScratch_;
  }
  const uint8_t* lut8 = nullptr;
  const uint16_t* lut16 = nullptr;
  if (table) {
    if (deep) {
      lut16 = tables_.Compose16(gamma, contrast, tableBrightness);
    } else {
      lut8 = tables_.Compose8(gamma, contrast, tableBrightness);
    }
  }
  if (hueSat) {
    HueSatParams params = MakeHueSatParams(hue, saturation, tables_.Saturation(saturation));
    params.post8 = lut8;
    params.post16 = lut16;
    PassContext ctx{kernels_, pool, &params};
    ApplyPixelOp(*target, HueSatOp, output, nullptr, 0, 0, &ctx, 0);
  } else if (table) {
    const LutParams params{lut8, lut16};
    PassContext ctx{kernels_, pool, &params};
    ApplyPixelOp(*target, LutOp, output, nullptr, 0, 0, &ctx, 0);
  } else if (sharpen) {
    std::memcpy(target->Bits(), output.Bits(), output.SizeBytes());
  }
  if (sharpen) {
    const SharpenParams params{sharpness, brightness != 0, BrightnessFactor(brightness)};
    PassContext ctx{kernels_, pool, &params};
    ApplyPixelOp(output, SharpenOp, sharpenScratch_, nullptr, 0, 0, &ctx, 0);
  }
  return true;
}

}  // namespace orvane::image
