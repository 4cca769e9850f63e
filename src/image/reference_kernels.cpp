// Scalar references of the pipeline's passes, written straight from the arithmetic they implement.
// They are the definition the fast paths are tested against, and the path ORVANE_FORCE_SCALAR=1 selects.
#include <algorithm>
#include <cstdlib>

#include "image/kernels.h"

namespace orvane::image {

int GainFactor(int gainPercent) {
  const int gain = std::clamp(gainPercent, 0, 400);
  return static_cast<int>(gain * 1.28);
}

namespace {

template <typename T>
const T* RowOf(const Plane& p, int y) {
  return reinterpret_cast<const T*>(p.Row(y));
}

// Interior pass (rows and columns 2 .. n - 3) with the parities kept as toggling flags, then the four
// border strips with the border rule.
template <typename T>
void DemosaicRef(const Plane& dst, const Plane& src, const DemosaicParams& p) {
  const int w = src.width;
  const int h = src.height;
  const int maxValue = sizeof(T) == 1 ? 255 : 65535;
  const int limit = (maxValue + 1) << 11;
  auto scaled = [&](int sum, int k) { return sum * k >= limit ? maxValue : (sum * k) >> 11; };
  const int dstStep = dst.bytesPerPixel / static_cast<int>(sizeof(T));
  // rowOdd/colOdd: whether the cell's upper row / left column holds the red sample's row / column.
  int redRowUpper = ((1 + PhaseRowFlag(p.phase)) & 1);  // for r = 2: upper row r - 1 = 1
  for (int r = 2; r < h - 2; ++r, redRowUpper ^= 1) {
    const T* m2 = RowOf<T>(src, r - 2);
    const T* m1 = RowOf<T>(src, r - 1);
    const T* z0 = RowOf<T>(src, r);
    const T* p1 = RowOf<T>(src, r + 1);
    const T* redRow = redRowUpper ? m1 : z0;
    const T* redFar = redRowUpper ? p1 : m2;
    const T* blueRow = redRowUpper ? z0 : m1;
    const T* blueFar = redRowUpper ? m2 : p1;
    T* out = reinterpret_cast<T*>(dst.Row(r)) + 2 * dstStep;
    int redColLeft = ((1 + PhaseColFlag(p.phase)) & 1) == 0 ? 1 : 0;  // for c = 2: left column 1
    for (int c = 2; c < w - 2; ++c, redColLeft ^= 1, out += dstStep) {
      const int rc = redColLeft ? c - 1 : c;
      const int rc2 = redColLeft ? c + 1 : c - 2;
      const int bc = redColLeft ? c : c - 1;
      const int bc2 = redColLeft ? c - 2 : c + 1;
      const int redSum = 9 * redRow[rc] + 3 * redRow[rc2] + 3 * redFar[rc] + redFar[rc2];
      const int blueSum = 9 * blueRow[bc] + 3 * blueRow[bc2] + 3 * blueFar[bc] + blueFar[bc2];
      const int green = std::min((redRow[bc] + blueRow[rc]) >> 1, maxValue);
      out[0] = static_cast<T>(scaled(blueSum, p.kBlue));
      out[1] = static_cast<T>(green);
      out[2] = static_cast<T>(scaled(redSum, p.kRed));
    }
  }
  // Border strips: top two rows, bottom two rows, left two and right two columns.
  for (int r = 0; r < h; ++r) {
    const bool borderRow = r < 2 || r >= h - 2;
    for (int c = 0; c < w; ++c) {
      if (borderRow || c < 2 || c >= w - 2) DemosaicPixel<T>(dst, src, p, r, c);
    }
  }
}

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool*) {
  if (src.bytesPerPixel == 1) {
    DemosaicRef<uint8_t>(dst, src, p);
  } else {
    DemosaicRef<uint16_t>(dst, src, p);
  }
}

template <typename T>
void GrayGainRef(const Plane& img, const GrayGainParams& p, const T* post) {
  for (int y = 0; y < img.height; ++y) {
    T* row = reinterpret_cast<T*>(img.Row(y));
    for (int x = 0; x < img.width; ++x) {
      const int g = p.gain[y & 1][x & 1];
      const int o = p.offset[y & 1][x & 1];
      const int v = std::clamp(o + (g * static_cast<int>(row[x])) / 128, 0, p.maxValue);
      row[x] = post != nullptr ? post[v] : static_cast<T>(v);
    }
  }
}

void GrayGain(const Plane& img, const GrayGainParams& p, RowPool*) {
  if (img.bytesPerPixel == 1) {
    GrayGainRef<uint8_t>(img, p, p.post8);
  } else {
    GrayGainRef<uint16_t>(img, p, p.post16);
  }
}

// Masks and ramp steps of the six hue sectors, packed as blue + 256 green + 65536 red.
constexpr int kSectorMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr int kSectorStep[6] = {-1, 0x100, -0x10000, 1, -0x100, 0x10000};

// One pixel through hue and saturation at 8 bits per channel.
void HueSatPixel(int& b, int& g, int& r, const HueSatParams& p) {
  const int mx = std::max({r, g, b});
  const int mn = std::min({r, g, b});
  const int l = mx + mn;
  const int k = mx - mn;
  const int lmax = std::min(l, 511 - l);
  const int k2 = std::min(p.satTable[k], lmax);
  const int n = (l - k2) >> 1;
  const int a = ((l + k2) >> 1) - n;
  if (k == 0) {
    b = g = r = n;
    return;
  }
  int sector;
  int numerator;
  if (r >= g && r >= b) {
    sector = 1;
    numerator = g - b;
  } else if (g > r && g >= b) {
    sector = 3;
    numerator = b - r;
  } else {
    sector = 5;
    numerator = r - g;
  }
  if (numerator < 0) {
    numerator += k;
    sector -= 1;
  }
  const int position = (numerator * (0xFF0000 / k) + 0x8000) >> 16;
  int shifted = position + p.shift % 255;
  int index = sector + p.shift / 255;
  if (shifted > 254) {
    index += 1;
    shifted -= 255;
  }
  index %= 6;
  const int packed = n * 0x010101 + ((a * 0x010101) & kSectorMask[index]) +
                     kSectorStep[index] * ((a * shifted + 128) >> 8);
  b = packed & 0xFF;
  g = (packed >> 8) & 0xFF;
  r = (packed >> 16) & 0xFF;
}

void HueSat(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool*) {
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* in = src.Row(y);
    uint8_t* out = dst.Row(y);
    for (int x = 0; x < src.width; ++x, in += src.bytesPerPixel, out += dst.bytesPerPixel) {
      if (!src.Deep()) {
        int b = in[0], g = in[1], r = in[2];
        HueSatPixel(b, g, r, p);
        if (p.post8 != nullptr) b = p.post8[b], g = p.post8[g], r = p.post8[r];
        if (src.bytesPerPixel == 4) out[3] = in[3];
        out[0] = static_cast<uint8_t>(b);
        out[1] = static_cast<uint8_t>(g);
        out[2] = static_cast<uint8_t>(r);
      } else {
        const uint16_t* w = reinterpret_cast<const uint16_t*>(in);
        uint16_t* o = reinterpret_cast<uint16_t*>(out);
        int b = w[0] >> 8, g = w[1] >> 8, r = w[2] >> 8;
        HueSatPixel(b, g, r, p);
        b <<= 8, g <<= 8, r <<= 8;
        if (p.post16 != nullptr) b = p.post16[b], g = p.post16[g], r = p.post16[r];
        o[0] = static_cast<uint16_t>(b);
        o[1] = static_cast<uint16_t>(g);
        o[2] = static_cast<uint16_t>(r);
        if (src.bytesPerPixel == 8) o[3] = 0;
      }
    }
  }
}

void Lut(const Plane& dst, const Plane& src, const LutParams& p, RowPool*) {
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* in = src.Row(y);
    uint8_t* out = dst.Row(y);
    for (int x = 0; x < src.width; ++x, in += src.bytesPerPixel, out += dst.bytesPerPixel) {
      for (int ch = 0; ch < src.bytesPerPixel / (src.Deep() ? 2 : 1); ++ch) {
        const bool colourChannel = ch < src.Channels();
        if (src.Deep()) {
          const uint16_t v = reinterpret_cast<const uint16_t*>(in)[ch];
          reinterpret_cast<uint16_t*>(out)[ch] = colourChannel ? p.lut16[v] : v;
        } else {
          out[ch] = colourChannel ? p.lut8[in[ch]] : in[ch];
        }
      }
    }
  }
}

template <typename T>
void SharpenRef(const Plane& dst, const Plane& src, const SharpenParams& p) {
  const int maxValue = sizeof(T) == 1 ? 255 : 65535;
  const int step = src.bytesPerPixel / static_cast<int>(sizeof(T));
  for (int y = 0; y < src.height; ++y) {
    for (int x = 0; x < src.width; ++x) {
      for (int ch = 0; ch < step; ++ch) {
        const int o = reinterpret_cast<const T*>(src.Row(y))[x * step + ch];
        int v = o;
        if (ch < 3 && y >= 2 && y < src.height - 2 && x >= 2 && x < src.width - 2) {
          int sum = 0;
          for (int yy = y - 2; yy <= y + 1; ++yy) {
            const T* row = reinterpret_cast<const T*>(src.Row(yy));
            for (int xx = x - 2; xx <= x + 1; ++xx) sum += row[xx * step + ch];
          }
          const int blur = sum >> 4;
          v = std::clamp(o + (p.sharpness * (o - blur)) / 10, 0, maxValue);
        }
        if (ch < 3 && p.applyGain) v = std::clamp(static_cast<int>(v * p.gain), 0, maxValue);
        reinterpret_cast<T*>(dst.Row(y))[x * step + ch] = static_cast<T>(v);
      }
    }
  }
}

void Sharpen(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool*) {
  if (src.Deep()) {
    SharpenRef<uint16_t>(dst, src, p);
  } else {
    SharpenRef<uint8_t>(dst, src, p);
  }
}

void Luminance(const Plane& dst, const Plane& src, RowPool*) {
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* s = src.Row(y);
    uint8_t* d = dst.Row(y);
    for (int x = 0; x < src.width; ++x, s += src.bytesPerPixel) {
      d[x] = static_cast<uint8_t>((30 * s[2] + 59 * s[1] + 11 * s[0]) / 100);
    }
  }
}

}  // namespace

const KernelTable& ReferenceKernels() {
  static const KernelTable table{"reference", Demosaic, GrayGain, HueSat, Lut, Sharpen, Luminance, nullptr,
                                 nullptr};
  return table;
}

}  // namespace orvane::image
