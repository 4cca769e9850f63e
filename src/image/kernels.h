// The per-pixel passes of the image pipeline, as plain kernels over a block of pixels.
//
// Every pass exists twice: a scalar reference written straight from the arithmetic (integer maths,
// rounding and saturation spelled out; see reference_kernels.cpp) and a fast path (vector code chosen
// at start-up from the CPU's features, rows split over a worker pool; fast_kernels.cpp) that must give
// the same bytes. Tests compare the two with memcmp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane::image {

class RowPool;

// A block of pixels. bytesPerPixel 1 = one 8-bit sample, 2 = one 16-bit sample, 3/4 = blue, green,
// red 8-bit (+ an untouched fourth byte), 6/8 = the same in 16-bit words.
struct Plane {
  uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  int bytesPerPixel = 0;
  uint8_t* Row(int y) const { return bits + static_cast<ptrdiff_t>(y) * stride; }
  bool Deep() const { return bytesPerPixel == 2 || bytesPerPixel >= 6; }
  int Channels() const { return bytesPerPixel <= 2 ? 1 : 3; }
};

// Bayer phase p (0..3): row flag for p = 1, 3; column flag for p = 2, 3. With both flags clear the cell at
// the origin reads green, blue / red, green (the demosaic's naming).
inline int PhaseRowFlag(int phase) { return (phase == 1 || phase == 3) ? 1 : 0; }
inline int PhaseColFlag(int phase) { return (phase == 2 || phase == 3) ? 1 : 0; }

// Fixed-point factor of a colour gain in percent: (int)(gain × 1.28), so 100 % gives 128 and the
// weighted sum (weights total 16) times 128 is 2^11. Gains are held to 0..400 %.
int GainFactor(int gainPercent);

// Index of a neighbour that lies outside 0 .. n - 1: the sample four rows (columns) further in, which has
// the same colour. Images narrower than four samples fall back to the nearest index of the same parity
// (or the nearest index when the image has one sample).
inline int MapBorderIndex(int i, int n) {
  if (i >= 0 && i < n) return i;
  const int j = i < 0 ? i + 4 : i - 4;
  if (j >= 0 && j < n) return j;
  int k;
  if (i < 0) {
    k = i & 1;
  } else {
    k = (((n - 1) ^ i) & 1) == 0 ? n - 1 : n - 2;
  }
  if (k < 0) k = 0;
  if (k > n - 1) k = n - 1;
  return k;
}

struct DemosaicParams {
  int phase = 0;  // effective phase (after the mirrors)
  int kRed = 128;  // GainFactor of the red gain
  int kBlue = 128;
};

// Gray gains and offsets by memory position in the 2 × 2 cell: [row parity][column parity].
struct GrayGainParams {
  int gain[2][2] = {{128, 128}, {128, 128}};
  int offset[2][2] = {{0, 0}, {0, 0}};
  int maxValue = 255;
  // Optional per-value table applied to each result (the per-value passes that follow, composed): 256
  // entries for 8-bit samples, 65536 for 16-bit; null for none.
  const uint8_t* post8 = nullptr;
  const uint16_t* post16 = nullptr;
};

struct HueSatParams {
  int shift = 0;                  // hue shift on the 1530-step circle
  const int* satTable = nullptr;  // 256 entries: S[i] = (saturationFactor × i + 0x8000) >> 16
  int saturationFactor = 65536;   // (saturation + 256) << 8
  // Optional per-value table applied to the three channels of the result (the per-value passes that
  // follow, composed): 256 entries for 8-bit channels, 65536 for 16-bit; null for none.
  const uint8_t* post8 = nullptr;
  const uint16_t* post16 = nullptr;
};

// Per-value table for gamma, contrast and brightness: 256 entries for 8-bit channels, 65536 for 16-bit.
struct LutParams {
  const uint8_t* lut8 = nullptr;
  const uint16_t* lut16 = nullptr;
};

// Unsharp mask: v = o + (sharpness × (o - blur)) / 10, the division truncating toward zero, limited to
// 0 .. M. Optionally followed by the brightness factor: v' = (int)(v × gain) in single precision, limited.
struct SharpenParams {
  int sharpness = 0;  // 0..30
  bool applyGain = false;
  float gain = 1.0f;
};

struct KernelTable {
  const char* name;
  // src: 8- or 16-bit mosaic; dst: 3/4 (from 8-bit) or 6/8 (from 16-bit) bytes per pixel, same size.
  void (*demosaic)(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool);
  // In place on a 1- or 2-byte mosaic.
  void (*grayGain)(const Plane& img, const GrayGainParams& p, RowPool* pool);
  // Colour pixels (3/4/6/8 bytes) from src into dst, which may be the same block. The fourth byte of a
  // 32-bit pixel is copied, the fourth word of a 64-bit pixel cleared.
  void (*hueSat)(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool* pool);
  // Any depth, src into dst (may be the same); the fourth channel is copied.
  void (*lut)(const Plane& dst, const Plane& src, const LutParams& p, RowPool* pool);
  // src into a different dst of the same format: the interior (two pixels in from every edge) sharpened,
  // the border copied, the fourth channel copied; then the optional gain on the three channels.
  void (*sharpen)(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool);
  // dst: 8-bit gray; src: 24-bit colour of the same size. Y = (30 R + 59 G + 11 B) / 100.
  void (*luminance)(const Plane& dst, const Plane& src, RowPool* pool);
  // Rows r0 .. r1 - 1 of demosaic and sharpen over the whole planes (reading the rows around them as the
  // whole-image pass does), on the calling thread: the pipeline runs a frame in bands of rows with them,
  // so that each band goes through every pass while it is in the cache. Null where a set has none.
  void (*demosaicRows)(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1);
  void (*sharpenRows)(const Plane& dst, const Plane& src, const SharpenParams& p, int r0, int r1);
};

const KernelTable& ReferenceKernels();
// Fast paths for the baseline (SSE2), AVX2 and AVX-512 (with VBMI); AVX2 and AVX-512 answer null on a
// CPU without them.
const KernelTable& BaselineKernels();
const KernelTable* Avx2Kernels();
const KernelTable* Avx512Kernels();
// Chosen once: AVX-512 where present, else AVX2, else the baseline; the reference when
// ORVANE_FORCE_SCALAR=1.
const KernelTable& ActiveKernels();
// The choice ActiveKernels makes, given the value of ORVANE_FORCE_SCALAR (null when unset).
const KernelTable& ChooseKernels(const char* forceScalar);

// The generic demosaic of one output pixel (r, c) with border mapping; shared by both paths' borders.
template <typename T>
inline void DemosaicPixel(const Plane& dst, const Plane& src, const DemosaicParams& p, int r, int c) {
  const int rowFlag = PhaseRowFlag(p.phase);
  const int colFlag = PhaseColFlag(p.phase);
  const int maxValue = sizeof(T) == 1 ? 255 : 65535;
  auto sample = [&](int y, int x) -> int {
    return reinterpret_cast<const T*>(src.Row(MapBorderIndex(y, src.height)))[MapBorderIndex(x, src.width)];
  };
  // Red sits at row parity 1, column parity 0 of the flag-adjusted pattern; blue on the cell's diagonal.
  const int ry = (((r - 1 + rowFlag) & 1) == 1) ? r - 1 : r;
  const int rx = (((c - 1 + colFlag) & 1) == 0) ? c - 1 : c;
  const int by = 2 * r - 1 - ry;
  const int bx = 2 * c - 1 - rx;
  auto weighted = [&](int y, int x) {
    const int y2 = (y == r - 1) ? r + 1 : r - 2;
    const int x2 = (x == c - 1) ? c + 1 : c - 2;
    return 9 * sample(y, x) + 3 * sample(y, x2) + 3 * sample(y2, x) + sample(y2, x2);
  };
  auto scaled = [&](int sum, int k) {
    const int v = sum * k;
    return v >= ((maxValue + 1) << 11) ? maxValue : (v >> 11);
  };
  const int red = scaled(weighted(ry, rx), p.kRed);
  const int blue = scaled(weighted(by, bx), p.kBlue);
  int green = (sample(ry, bx) + sample(by, rx)) >> 1;
  if (green > maxValue) green = maxValue;
  T* out = reinterpret_cast<T*>(dst.Row(r) + static_cast<ptrdiff_t>(c) * dst.bytesPerPixel);
  out[0] = static_cast<T>(blue);
  out[1] = static_cast<T>(green);
  out[2] = static_cast<T>(red);
}

}  // namespace orvane::image
