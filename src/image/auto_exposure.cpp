#include "image/auto_exposure.h"

#include <algorithm>

#include "image/raw_conversion.h"

namespace orvane::image {

namespace {
// Window edges as fractions of width and height: left, top, right, bottom.
constexpr double kWindows[5][4] = {
    {0.1, 0.1, 0.2, 0.2}, {0.1, 0.8, 0.2, 0.9}, {0.45, 0.45, 0.55, 0.55}, {0.8, 0.1, 0.9, 0.2}, {0.8, 0.8, 0.9, 0.9}};
// Gain floor of the gain mode: below it a small gain could not grow by a 5 % step.
constexpr int kMinimumGainStep = 4;
}  // namespace

double ExposureFactor(const int means[5]) {
  double d;
  const int m0 = means[0];
  if (m0 > 200) {
    d = 0.85;
  } else if (m0 > 160) {
    d = 0.9;
  } else if (m0 < 50) {
    d = 1.1;
  } else if (m0 < 100) {
    d = 1.05;
  } else {
    d = 1.0;
  }
  for (int i = 1; i < 5; ++i) {
    const int m = means[i];
    if (m > 200) {
      d -= 0.15;
    } else if (m > 160) {
      d -= 0.1;
    } else if (m < 50) {
      d += 0.1;
    } else if (m < 100) {
      d += 0.05;
    }
  }
  return d;
}

AutoExposureResult RunAutoExposure(const DibImage& raw, AutoIrisMode mode, ExposureControl& control) {
  AutoExposureResult result;
  result.mode = mode;
  if (mode == AutoIrisMode::kOff || !raw.Valid()) return result;
  const int w = raw.Width();
  const int h = raw.Height();
  int means[5];
  for (int i = 0; i < 5; ++i) {
    const PixelRect rect{static_cast<int>(kWindows[i][0] * w), static_cast<int>(kWindows[i][1] * h),
                         static_cast<int>(kWindows[i][2] * w), static_cast<int>(kWindows[i][3] * h)};
    means[i] = RegionMean(raw, rect, raw.BitsPerPixel() == 16);
  }
  const double d = ExposureFactor(means);
  result.factor = d;
  if (d > 0.6 && d < 1.2) return result;

  if (mode == AutoIrisMode::kGain) {
    const int g = std::max(control.GetGlobalGain(), kMinimumGainStep);
    int value = static_cast<int>(g * d);
    if (d > 1.0) value = std::max(value, kMinimumGainStep);
    value = std::clamp(value, control.GetGlobalGainMin(), std::max(control.GetGlobalGainMin(), control.GetGlobalGainMax()));
    if (!control.SetGlobalGain(value)) return result;
    result.changed = true;
    result.value = value;
  } else {
    const int e = control.GetExposure();
    // The exposure register is 16 bits wide: saturate instead of wrapping.
    int value = std::clamp(static_cast<int>(std::clamp(e * d, 0.0, 65535.0)), 1, 65535);
    value = std::clamp(value, control.GetExposureMin(), std::max(control.GetExposureMin(), control.GetExposureMax()));
    if (!control.SetExposure(value)) return result;
    result.changed = true;
    result.value = value;
  }
  return result;
}

}  // namespace orvane::image
