// Automatic exposure: five windows of the raw frame decide a factor by which the exposure value or the
// global analog gain is changed.
#pragma once

#include "image/dib_image.h"

namespace orvane::image {

// The camera operations the automatic exposure needs. The SDK object implements it over its device
// object; tests use a small fake. Exposure values are in the device unit (100 µs).
class ExposureControl {
 public:
  virtual ~ExposureControl() = default;
  virtual int GetGlobalGain() = 0;
  virtual int GetGlobalGainMin() = 0;
  virtual int GetGlobalGainMax() = 0;
  virtual bool SetGlobalGain(int gain) = 0;
  virtual int GetExposure() = 0;
  virtual int GetExposureMin() = 0;
  virtual int GetExposureMax() = 0;
  virtual bool SetExposure(int value) = 0;
};

enum class AutoIrisMode { kOff = 0, kExposure = 1, kGain = 2 };

struct AutoExposureResult {
  bool changed = false;
  AutoIrisMode mode = AutoIrisMode::kOff;
  int value = 0;   // the new exposure value or global gain, as set on the device
  double factor = 1.0;
};

// Factor d from the five window means (w0 first): w0 sets 0.85 / 0.9 / 1.1 / 1.05 / 1.0, each further
// window adds -0.15 / -0.1 / +0.1 / +0.05 / 0 by the same thresholds (200, 160, 50, 100).
double ExposureFactor(const int means[5]);

// One step on an 8- or 16-bit raw frame (16-bit frames are measured by their high byte, so the same
// 8-bit thresholds apply). A factor inside (0.6, 1.2) changes nothing.
AutoExposureResult RunAutoExposure(const DibImage& raw, AutoIrisMode mode, ExposureControl& control);

}  // namespace orvane::image
