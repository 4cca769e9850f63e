// The per-frame order of the image pipeline: automatic exposure, shading and defect correction, the gray
// modes, the software mirror, the demosaic and the colour filters.
#pragma once

#include <functional>
#include <memory>

#include "image/auto_exposure.h"
#include "image/defect_mask.h"
#include "image/dib_image.h"
#include "image/filters.h"
#include "image/kernels.h"
#include "image/row_pool.h"

namespace orvane::image {

// Bits per pixel of colour mode 0..5 (8, 16, 24, 32, 48 and 64); 0 for any other mode.
constexpr int BitsOfColorMode(int colorMode) {
  constexpr int kBits[6] = {8, 16, 24, 32, 48, 64};
  return colorMode >= 0 && colorMode <= 5 ? kBits[colorMode] : 0;
}

// The settings the pipeline reads, as plain integers. The SDK object keeps the live values (written by
// other threads) and hands the pipeline a copy taken once per frame, so a frame sees one consistent set.
// Defaults are the values used when no settings are stored.
struct PipelineSettings {
  int colorMode = 0;  // 0..5: 8/16-bit gray, 24/32/48/64-bit colour
  int brightness = 0;  // -255..255
  int contrast = 0;    // -127..127
  int hue = 0;         // -360..360 degrees
  int saturation = 0;  // -255..255
  int sharpness = 0;   // 0..30
  int gamma = 100;     // 0..200 percent
  int bayerPhase = 2;  // 0..3
  int bayerGainRed = 100;  // 0..400 percent
  int bayerGainGreen = 100;  // stored only; the demosaic does not apply it
  int bayerGainBlue = 100;
  int autoWhiteBalance = 0;  // recompute the gains on every frame
  int whiteBalanceOnce[2] = {0, 0};  // one-shot markers: with both set, the balance runs on one frame
  int grayMode = 0;  // 0 none, 1 gains and offsets, 2 luminance of the demosaic (colour modes 0, 1)
  int grayGain[4] = {128, 128, 128, 128};  // R, G1, G2, B; 0..255, 128 = unity
  int grayOffset[4] = {128, 128, 128, 128};  // -255..255
  int autoGrayBalance = 0;  // one-shot request (filter 28)
  int mirrorV = 0;
  int mirrorH = 0;
  int hardwareMirrorV = 0;  // the device mirrors this direction itself
  int hardwareMirrorH = 0;
  int maskFilter = 0;  // shading correction
  int dotFilter = 0;   // defect correction
  int autoIris = 0;    // 0 off, 1 exposure, 2 gain
  int offsetX = 0;     // position of the frame in the sensor (the mask references are full-sensor)
  int offsetY = 0;
};

// What a frame changed in the settings, for the SDK object to store back: the white-balance gains
// (and, for a one-shot balance, the switch and both markers cleared), the gray gains with the gray
// balance request set back to 0, and the result of the exposure step.
struct PipelineUpdates {
  bool whiteBalanceMeasured = false;  // bayerGainRed/Green/Blue hold the new gains
  bool whiteBalanceFinished = false;  // the one-shot balance ran: clear the switch and both markers
  int bayerGainRed = 0;
  int bayerGainGreen = 0;
  int bayerGainBlue = 0;
  bool grayBalanceMeasured = false;   // grayGain holds the new gains; the request is consumed
  int grayGain[4] = {};
  AutoExposureResult exposure;        // exposure.changed: store exposure.value (exposure or gain)
};

// Images of the SDK object the pipeline works on (borrowed for the call).
struct PipelineImages {
  DibImage* raw8 = nullptr;   // 8-bit raw frames and the mode-0 output
  DibImage* raw16 = nullptr;  // 16-bit raw frames and the mode-1 output
  DibImage* color24 = nullptr;
  DibImage* color32 = nullptr;
  DibImage* color48 = nullptr;
  DibImage* color64 = nullptr;
  DibImage* Raw(int colorMode) const { return (colorMode == 1 || colorMode >= 4) ? raw16 : raw8; }
  DibImage* Output(int colorMode) const;
};

// The colour filters of one frame as kernel parameters (the tables belong to the pipeline): hue and
// saturation (with the per-value table after it folded in), else the table alone, then the sharpness
// (with the brightness factor folded in).
struct FilterPlan {
  bool hueSat = false;
  bool table = false;
  bool sharpen = false;
  HueSatParams hue;
  LutParams lut;
  SharpenParams sharpenParams;
};

// Which settings dialog should show new values.
enum class DialogRefresh { kImage, kAnalogGain, kAnalogExposure };

class ImagePipeline {
 public:
  // `threads` workers split the passes' rows (1 = the calling thread only); `kernels` null = ActiveKernels().
  explicit ImagePipeline(int threads = RowPool::HardwareThreads(), const KernelTable* kernels = nullptr);

  // Called with the dialog to refresh after an automatic balance or exposure step (acquisition thread).
  void SetRefreshHook(std::function<void(DialogRefresh, int value)> hook) { refresh_ = std::move(hook); }

  // Runs one frame: the raw frame is in images.Raw(colorMode). `mask` and `exposure` may be null (a caller
  // that wants the exposure step outside its frame lock calls RunAutoExposure itself first and passes
  // null here). The caller holds its frame lock; the images and the mask are not touched by anyone else
  // during the call. Returns false when the images do not fit the colour mode (nothing is converted then).
  bool Run(const PipelineSettings& settings, const PipelineImages& images, DefectMask* mask,
           ExposureControl* exposure, PipelineUpdates* updates);

  // The colour filters alone (hue/saturation, gamma, contrast, sharpness, brightness) on an output bitmap.
  bool ApplyFilters(const PipelineSettings& settings, DibImage& output);

  const KernelTable& Kernels() const { return *kernels_; }

 private:
  // The filters' parameters for `settings` on `output`; creates the sharpness's scratch bitmap when the
  // geometry changed. False when the output is invalid or the scratch cannot be had.
  bool PlanFilters(const PipelineSettings& settings, DibImage& output, FilterPlan* plan);
  // The demosaic parameters of `src`, after the automatic white balance when it is on (which updates
  // `settings` for the rest of the frame and reports the new gains in `updates`).
  DemosaicParams BalancedDemosaicParams(DibImage& src, int phase, PipelineSettings& settings,
                                        PipelineUpdates& updates);
  void Demosaic(DibImage& src, DibImage& dst, const DemosaicParams& params);
  // The colour filters, without the per-value table when `tableApplied` (the gray gains applied it).
  bool FilterOutput(const PipelineSettings& settings, DibImage& output, bool tableApplied);
  // Gray modes 1 (gains and offsets per Bayer cell, with the automatic gray balance) and 2 (luminance
  // of the demosaiced frame) on the raw frame of colour modes 0 and 1. True when the gains' pass applied
  // the filters' per-value table as well.
  bool RunGrayMode(PipelineSettings& settings, const PipelineImages& images, DibImage& raw, int phase,
                   PipelineUpdates& updates);

  const KernelTable* kernels_;
  std::unique_ptr<RowPool> pool_;
  FilterTables tables_;
  DibImage mirrorScratch_;
  DibImage sharpenScratch_;
  std::function<void(DialogRefresh, int)> refresh_;
};

// A plane over a whole bitmap.
Plane PlaneOf(DibImage& image);

}  // namespace orvane::image
