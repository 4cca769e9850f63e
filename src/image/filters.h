// Tables and measurements of the colour and gray corrections: what turns the settings into the
// parameters of the kernels in kernels.h.
#pragma once

#include <cstdint>
#include <vector>

#include "image/dib_image.h"
#include "image/kernels.h"

namespace orvane::image {

// Hue shift in degrees (-360..360) to a shift on the 1530-step colour circle (6 sectors of 255).
int HueShift(int hue);
// S[i] = (f × i + 0x8000) >> 16 with f = (saturation + 256) << 8: i × (256 + saturation) / 256 rounded.
void BuildSaturationTable(int saturation, int* table256);
// Parameters of the hue/saturation pass; `table` must hold BuildSaturationTable(saturation).
inline HueSatParams MakeHueSatParams(int hue, int saturation, const int* table) {
  return {HueShift(hue), table, (saturation + 256) << 8};
}

// Gamma in percent: T[0] = 0, T[i] = (int)(M × (i / M)^(1 / (gamma / 100))), limited to M.
void BuildGammaTable(int gamma, uint8_t* table256);
void BuildGammaTable(int gamma, uint16_t* table65536);
// Contrast -127..127 (16-bit data cuts at contrast × 256): 0 below the cut, M above M - cut, a linear
// stretch in between (a negative contrast compresses around the middle).
void BuildContrastTable(int contrast, uint8_t* table256);
void BuildContrastTable(int contrast, uint16_t* table65536);
// Brightness -255..255 as a factor: 1 - |b| / 255 below zero, 1 + 10 b / 255 above (double, applied as float).
float BrightnessFactor(int brightness);
void BuildBrightnessTable(int brightness, uint8_t* table256);
void BuildBrightnessTable(int brightness, uint16_t* table65536);
// The brightness pass straight from its formula: every channel value v becomes (int)(v × f) in 0 .. M.
void BrightnessReference(const Plane& img, int brightness);

// Gray gains and offsets by name, in the order R, G1, G2, B.
enum GrayChannel { kGrayR = 0, kGrayG1 = 1, kGrayG2 = 2, kGrayB = 3 };
// Places the named gains and offsets at their memory positions for the Bayer phase: with both phase flags
// clear the cell reads G1, R / B, G2; the row flag exchanges the rows, the column flag the columns.
GrayGainParams MakeGrayGainParams(const int gain[4], const int offset[4], int phase, int depthBits);

// Automatic gray balance: the mean of each cell position over samples whose measured byte v is 0 < v < 255
// (8-bit data: the sample; 16-bit: its high byte). Gains R, G2, B = (int)(mG1 / m × 128) in single
// precision, G1 = 128, each limited to 0..255. A position without samples (or with mean 0) keeps its gain.
void MeasureGrayBalance(const DibImage& raw, int phase, int gain[4]);

// Automatic white balance on the mosaic (demosaic naming, effective phase): red = (int)(100 mG / mR),
// blue = (int)(100 mG / mB) in double precision, each at most 400. False (gains unchanged) when a colour
// has no samples in the frame.
bool MeasureWhiteBalance(const DibImage& raw, int phase, int* red, int* blue);

// Effective Bayer phase: the vertical mirror exchanges 0/1 and 2/3, then the horizontal 0/2 and 1/3.
int EffectivePhase(int phase, bool mirrorV, bool mirrorH);

// Tables of the per-value passes, rebuilt only when their setting differs from the one they were built
// for (the result is the same as rebuilding every frame). All memory is taken at construction.
class FilterTables {
 public:
  FilterTables();
  const uint8_t* Gamma8(int gamma);
  const uint16_t* Gamma16(int gamma);
  const uint8_t* Contrast8(int contrast);
  const uint16_t* Contrast16(int contrast);
  const uint8_t* Brightness8(int brightness);
  const uint16_t* Brightness16(int brightness);
  const int* Saturation(int saturation);
  // Gamma, then contrast, then brightness as one table (neutral settings are the identity): the per-value
  // passes that follow each other without another pass between them give the same bytes in one sweep.
  const uint8_t* Compose8(int gamma, int contrast, int brightness);
  const uint16_t* Compose16(int gamma, int contrast, int brightness);

 private:
  struct Cache8 {
    int key = INT32_MIN;
    std::vector<uint8_t> table = std::vector<uint8_t>(256);
  };
  struct Cache16 {
    int key = INT32_MIN;
    std::vector<uint16_t> table = std::vector<uint16_t>(65536);
  };
  Cache8 gamma8_, contrast8_, brightness8_;
  Cache16 gamma16_, contrast16_, brightness16_;
  int saturationKey_ = INT32_MIN;
  int saturation_[256] = {};
  int composed8Key_[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
  uint8_t composed8_[256] = {};
  int composed16Key_[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
  std::vector<uint16_t> composed16_ = std::vector<uint16_t>(65536);
};

}  // namespace orvane::image
