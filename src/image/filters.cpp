#include "image/filters.h"

#include <algorithm>
#include <cmath>

namespace orvane::image {

int HueShift(int hue) {
  const int h16 = (hue * 65536) / 360;
  const int x = (h16 * 6) >> 8;  // arithmetic shift
  int m = x % 512;
  if (m >= 256) m -= 512;
  const int k = ((x + 256) >> 9) % 3;
  int shift = m + 510 * k;
  if (shift < 0) shift += 1530;
  if (shift > 1529) shift -= 1530;
  return shift;
}

void BuildSaturationTable(int saturation, int* table256) {
  const int f = (saturation + 256) << 8;
  for (int i = 0; i < 256; ++i) table256[i] = (f * i + 0x8000) >> 16;
}

namespace {

template <typename T>
void GammaTable(int gamma, T* table, int maxValue) {
  const double e = 1.0 / (gamma / 100.0);
  table[0] = 0;
  for (int i = 1; i <= maxValue; ++i) {
    const int v = static_cast<int>(maxValue * std::pow(static_cast<double>(i) / maxValue, e));
    table[i] = static_cast<T>(std::clamp(v, 0, maxValue));
  }
}

template <typename T>
void ContrastTable(int cut, T* table, int maxValue) {
  const double n = maxValue + 1.0;
  for (int i = 0; i <= maxValue; ++i) {
    int v;
    if (i < cut) {
      v = 0;
    } else if (i > maxValue - cut) {
      v = maxValue;
    } else {
      v = static_cast<int>(n / (n - 2.0 * cut) * (i - cut));
    }
    table[i] = static_cast<T>(std::clamp(v, 0, maxValue));
  }
}

template <typename T>
void BrightnessTable(int brightness, T* table, int maxValue) {
  const float f = BrightnessFactor(brightness);
  for (int i = 0; i <= maxValue; ++i) {
    table[i] = static_cast<T>(std::clamp(static_cast<int>(static_cast<float>(i) * f), 0, maxValue));
  }
}

}  // namespace

void BuildGammaTable(int gamma, uint8_t* table256) { GammaTable(gamma, table256, 255); }
void BuildGammaTable(int gamma, uint16_t* table65536) { GammaTable(gamma, table65536, 65535); }
void BuildContrastTable(int contrast, uint8_t* table256) { ContrastTable(contrast, table256, 255); }
void BuildContrastTable(int contrast, uint16_t* table65536) { ContrastTable(contrast * 256, table65536, 65535); }

float BrightnessFactor(int brightness) {
  const double f = brightness < 0 ? 1.0 - std::abs(brightness) / 255.0 : 1.0 + brightness * 10 / 255.0;
  return static_cast<float>(f);
}

void BuildBrightnessTable(int brightness, uint8_t* table256) { BrightnessTable(brightness, table256, 255); }
void BuildBrightnessTable(int brightness, uint16_t* table65536) { BrightnessTable(brightness, table65536, 65535); }

void BrightnessReference(const Plane& img, int brightness) {
  const float f = BrightnessFactor(brightness);
  const int maxValue = img.Deep() ? 65535 : 255;
  for (int y = 0; y < img.height; ++y) {
    uint8_t* px = img.Row(y);
    for (int x = 0; x < img.width; ++x, px += img.bytesPerPixel) {
      for (int ch = 0; ch < img.Channels(); ++ch) {
        if (img.Deep()) {
          uint16_t* w = reinterpret_cast<uint16_t*>(px);
          w[ch] = static_cast<uint16_t>(std::clamp(static_cast<int>(w[ch] * f), 0, maxValue));
        } else {
          px[ch] = static_cast<uint8_t>(std::clamp(static_cast<int>(px[ch] * f), 0, maxValue));
        }
      }
    }
  }
}

namespace {
// Gray naming of the memory position (row parity, column parity) with both flags clear.
constexpr GrayChannel kGrayCell[2][2] = {{kGrayG1, kGrayR}, {kGrayB, kGrayG2}};

GrayChannel GrayChannelAt(int rowParity, int colParity, int phase) {
  return kGrayCell[rowParity ^ PhaseRowFlag(phase)][colParity ^ PhaseColFlag(phase)];
}

// Measured byte of a sample: the sample itself for 8-bit data, the high byte for 16-bit data.
int MeasuredByte(const DibImage& raw, int y, int x) {
  if (raw.BitsPerPixel() == 8) return raw.Row(y)[x];
  return reinterpret_cast<const uint16_t*>(raw.Row(y))[x] >> 8;
}
}  // namespace

GrayGainParams MakeGrayGainParams(const int gain[4], const int offset[4], int phase, int depthBits) {
  GrayGainParams p;
  for (int ry = 0; ry < 2; ++ry) {
    for (int rx = 0; rx < 2; ++rx) {
      const GrayChannel ch = GrayChannelAt(ry, rx, phase);
      // Held to the settings' ranges: the kernels rely on non-negative gains.
      p.gain[ry][rx] = std::clamp(gain[ch], 0, 255);
      p.offset[ry][rx] = std::clamp(offset[ch], -255, 255);
    }
  }
  p.maxValue = (1 << std::clamp(depthBits, 1, 16)) - 1;
  return p;
}

void MeasureGrayBalance(const DibImage& raw, int phase, int gain[4]) {
  uint64_t sum[4] = {};
  uint64_t count[4] = {};
  for (int y = 0; y < raw.Height(); ++y) {
    for (int x = 0; x < raw.Width(); ++x) {
      const int v = MeasuredByte(raw, y, x);
      if (v > 0 && v < 255) {
        const GrayChannel ch = GrayChannelAt(y & 1, x & 1, phase);
        sum[ch] += static_cast<uint64_t>(v);
        ++count[ch];
      }
    }
  }
  if (count[kGrayG1] == 0) return;
  const float g1 = static_cast<float>(sum[kGrayG1]) / static_cast<float>(count[kGrayG1]);
  gain[kGrayG1] = 128;
  for (GrayChannel ch : {kGrayR, kGrayG2, kGrayB}) {
    if (count[ch] == 0) continue;
    const float m = static_cast<float>(sum[ch]) / static_cast<float>(count[ch]);
    gain[ch] = std::clamp(static_cast<int>(g1 / m * 128.0f), 0, 255);
  }
}

namespace {

// Adds the samples in the even and in the odd columns of one row (a loop the compiler vectorises), in
// pieces of 2^16 columns whose 32-bit sums cannot overflow.
template <typename T>
void SumColumnPairs(const T* row, int width, uint64_t* even, uint64_t* odd) {
  for (int begin = 0; begin < width; begin += 65536) {
    const int end = std::min(width, begin + 65536);
    uint32_t e = 0, o = 0;
    int x = begin;
    for (; x + 1 < end; x += 2) {
      e += row[x];
      o += row[x + 1];
    }
    if (x < end) e += row[x];
    *even += e;
    *odd += o;
  }
}

}  // namespace

bool MeasureWhiteBalance(const DibImage& raw, int phase, int* red, int* blue) {
  const int rowFlag = PhaseRowFlag(phase);
  const int colFlag = PhaseColFlag(phase);
  // sum[row parity][column parity] of the flag-adjusted pattern: green where the parities agree, red on
  // rows of parity 1, blue on rows of parity 0.
  uint64_t sum[2][2] = {}, count[2][2] = {};
  const int width = raw.Width();
  for (int y = 0; y < raw.Height(); ++y) {
    const int py = (y + rowFlag) & 1;
    uint64_t even = 0, odd = 0;
    if (raw.BitsPerPixel() == 8) {
      SumColumnPairs(raw.Row(y), width, &even, &odd);
    } else {
      SumColumnPairs(reinterpret_cast<const uint16_t*>(raw.Row(y)), width, &even, &odd);
    }
    sum[py][colFlag & 1] += even;
    count[py][colFlag & 1] += static_cast<uint64_t>((width + 1) / 2);
    sum[py][(colFlag + 1) & 1] += odd;
    count[py][(colFlag + 1) & 1] += static_cast<uint64_t>(width / 2);
  }
  const uint64_t sumG = sum[0][0] + sum[1][1], countG = count[0][0] + count[1][1];
  const uint64_t sumR = sum[1][0], countR = count[1][0];
  const uint64_t sumB = sum[0][1], countB = count[0][1];
  if (countG == 0 || countR == 0 || countB == 0) return false;
  const double mG = static_cast<double>(sumG) / static_cast<double>(countG);
  const double mR = static_cast<double>(sumR) / static_cast<double>(countR);
  const double mB = static_cast<double>(sumB) / static_cast<double>(countB);
  const double o = mG + mR + mB;
  // A colour that is black everywhere gets the largest gain; a black frame changes nothing.
  if (o == 0.0) return false;
  auto gain = [&](double m) {
    if (m == 0.0) return 400;
    if (mG == 0.0) return 0;
    const double g = o / (3 * m) * 100 / (o / (3 * mG));
    return g >= 400.0 ? 400 : static_cast<int>(g);
  };
  *red = gain(mR);
  *blue = gain(mB);
  return true;
}

int EffectivePhase(int phase, bool mirrorV, bool mirrorH) {
  if (mirrorV) phase ^= 1;  // 0 <-> 1, 2 <-> 3
  if (mirrorH) phase ^= 2;  // 0 <-> 2, 1 <-> 3
  return phase;
}

FilterTables::FilterTables() = default;

const uint8_t* FilterTables::Gamma8(int gamma) {
  if (gamma8_.key != gamma) BuildGammaTable(gamma, gamma8_.table.data()), gamma8_.key = gamma;
  return gamma8_.table.data();
}
const uint16_t* FilterTables::Gamma16(int gamma) {
  if (gamma16_.key != gamma) BuildGammaTable(gamma, gamma16_.table.data()), gamma16_.key = gamma;
  return gamma16_.table.data();
}
const uint8_t* FilterTables::Contrast8(int contrast) {
  if (contrast8_.key != contrast) BuildContrastTable(contrast, contrast8_.table.data()), contrast8_.key = contrast;
  return contrast8_.table.data();
}
const uint16_t* FilterTables::Contrast16(int contrast) {
  if (contrast16_.key != contrast) BuildContrastTable(contrast, contrast16_.table.data()), contrast16_.key = contrast;
  return contrast16_.table.data();
}
const uint8_t* FilterTables::Brightness8(int brightness) {
  if (brightness8_.key != brightness) {
    BuildBrightnessTable(brightness, brightness8_.table.data());
    brightness8_.key = brightness;
  }
  return brightness8_.table.data();
}
const uint16_t* FilterTables::Brightness16(int brightness) {
  if (brightness16_.key != brightness) {
    BuildBrightnessTable(brightness, brightness16_.table.data());
    brightness16_.key = brightness;
  }
  return brightness16_.table.data();
}
const int* FilterTables::Saturation(int saturation) {
  if (saturationKey_ != saturation) BuildSaturationTable(saturation, saturation_), saturationKey_ = saturation;
  return saturation_;
}

const uint8_t* FilterTables::Compose8(int gamma, int contrast, int brightness) {
  const int key[3] = {gamma, contrast, brightness};
  if (!std::equal(key, key + 3, composed8Key_)) {
    const uint8_t* g = gamma != 100 ? Gamma8(gamma) : nullptr;
    const uint8_t* c = contrast != 0 ? Contrast8(contrast) : nullptr;
    const uint8_t* b = brightness != 0 ? Brightness8(brightness) : nullptr;
    for (int i = 0; i < 256; ++i) {
      int v = i;
      if (g) v = g[v];
      if (c) v = c[v];
      if (b) v = b[v];
      composed8_[i] = static_cast<uint8_t>(v);
    }
    std::copy(key, key + 3, composed8Key_);
  }
  return composed8_;
}

const uint16_t* FilterTables::Compose16(int gamma, int contrast, int brightness) {
  const int key[3] = {gamma, contrast, brightness};
  if (!std::equal(key, key + 3, composed16Key_)) {
    const uint16_t* g = gamma != 100 ? Gamma16(gamma) : nullptr;
    const uint16_t* c = contrast != 0 ? Contrast16(contrast) : nullptr;
    const uint16_t* b = brightness != 0 ? Brightness16(brightness) : nullptr;
    for (int i = 0; i < 65536; ++i) {
      int v = i;
      if (g) v = g[v];
      if (c) v = c[v];
      if (b) v = b[v];
      composed16_[static_cast<size_t>(i)] = static_cast<uint16_t>(v);
    }
    std::copy(key, key + 3, composed16Key_);
  }
  return composed16_.data();
}

}  // namespace orvane::image
