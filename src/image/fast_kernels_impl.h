// Bodies of the fast paths, compiled once per instruction set: fast_kernels.cpp includes this file for
// the x86-64 baseline (SSE2) and fast_kernels_avx2.cpp for AVX2, each inside an anonymous namespace so
// that the two instantiations never meet at link time. Loops are written so that the compiler can
// vectorise them (fixed strides, no table look-ups in the inner loops where arithmetic does the same).
// Everything here must give exactly the bytes of reference_kernels.cpp. No #include: the including
// file provides <algorithm>, <cstdint>, kernels.h and row_pool.h before it opens its namespace.

#define ORVANE_ALWAYS_INLINE inline __attribute__((always_inline))

// Columns c0 .. c1 - 1 of one interior demosaic row; `redLeft` tells whether the cell of column c0 has
// its red sample in the left column.
template <typename T>
ORVANE_ALWAYS_INLINE void DemosaicSpan(T* out, int step, const T* a, const T* a2, const T* b, const T* b2, int c0,
                                       int c1, int redLeft, int kRed, int kBlue) {
  constexpr int kMax = sizeof(T) == 1 ? 255 : 65535;
  constexpr int kLimit = (kMax + 1) << 11;
  out += static_cast<ptrdiff_t>(c0) * step;
  for (int c = c0; c < c1; ++c, redLeft ^= 1, out += step) {
    const int rc = redLeft ? c - 1 : c;
    const int rc2 = redLeft ? c + 1 : c - 2;
    const int bc = redLeft ? c : c - 1;
    const int bc2 = redLeft ? c - 2 : c + 1;
    const int redSum = 3 * (3 * a[rc] + a[rc2]) + (3 * a2[rc] + a2[rc2]);
    const int blueSum = 3 * (3 * b[bc] + b[bc2]) + (3 * b2[bc] + b2[bc2]);
    const int rs = redSum * kRed;
    const int bs = blueSum * kBlue;
    out[0] = static_cast<T>(bs >= kLimit ? kMax : bs >> 11);
    out[1] = static_cast<T>((a[bc] + b[rc]) >> 1);
    out[2] = static_cast<T>(rs >= kLimit ? kMax : rs >> 11);
  }
}

// Interior row kernel: fills columns 2 .. w - 3 of row r. `VectorSpan` handles a prefix of the columns
// with vector code and returns the first column it did not do.
struct DemosaicRowArgs {
  const void* a;   // row holding the cell's red sample
  const void* a2;  // the red row two rows further out
  const void* b;   // row holding the cell's blue sample
  const void* b2;
  void* out;
  int step;        // output samples per pixel
  int width;
  int redLeftAt2;  // parity of column 2
  int kRed;
  int kBlue;
};

template <typename T, typename VectorSpan>
void DemosaicRowsGeneric(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1,
                         VectorSpan vectorSpan) {
  const int w = src.width;
  const int h = src.height;
  const int step = dst.bytesPerPixel / static_cast<int>(sizeof(T));
  const int rowFlag = PhaseRowFlag(p.phase);
  const int colFlag = PhaseColFlag(p.phase);
  for (int r = r0; r < r1; ++r) {
    if (r < 2 || r >= h - 2 || w < 5) {
      for (int c = 0; c < w; ++c) DemosaicPixel<T>(dst, src, p, r, c);
      continue;
    }
    for (int c = 0; c < 2; ++c) DemosaicPixel<T>(dst, src, p, r, c);
    for (int c = w - 2; c < w; ++c) DemosaicPixel<T>(dst, src, p, r, c);
    const bool redUpper = ((r - 1 + rowFlag) & 1) == 1;
    const T* m2 = reinterpret_cast<const T*>(src.Row(r - 2));
    const T* m1 = reinterpret_cast<const T*>(src.Row(r - 1));
    const T* z0 = reinterpret_cast<const T*>(src.Row(r));
    const T* p1 = reinterpret_cast<const T*>(src.Row(r + 1));
    DemosaicRowArgs args{redUpper ? m1 : z0, redUpper ? p1 : m2, redUpper ? z0 : m1, redUpper ? m2 : p1,
                         dst.Row(r), step, w, ((1 + colFlag) & 1) == 0 ? 1 : 0, p.kRed, p.kBlue};
    const int done = vectorSpan(args);
    DemosaicSpan<T>(reinterpret_cast<T*>(args.out), step, static_cast<const T*>(args.a),
                    static_cast<const T*>(args.a2), static_cast<const T*>(args.b), static_cast<const T*>(args.b2),
                    done, w - 2, args.redLeftAt2 ^ ((done - 2) & 1), p.kRed, p.kBlue);
  }
}

template <typename T>
ORVANE_ALWAYS_INLINE void GrayGainRow(T* row, int width, const int* gain, const int* offset, int maxValue) {
  for (int x = 0; x < width; ++x) {
    const int v = offset[x & 1] + ((gain[x & 1] * static_cast<int>(row[x])) >> 7);
    row[x] = static_cast<T>(v < 0 ? 0 : (v > maxValue ? maxValue : v));
  }
}

inline void GrayGainGeneric(const Plane& img, const GrayGainParams& p, RowPool* pool) {
  ForRows(pool, img.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (img.bytesPerPixel == 1) {
        GrayGainRow(img.Row(y), img.width, p.gain[y & 1], p.offset[y & 1], p.maxValue);
      } else {
        GrayGainRow(reinterpret_cast<uint16_t*>(img.Row(y)), img.width, p.gain[y & 1], p.offset[y & 1], p.maxValue);
      }
    }
  });
}

// 0xFF0000 / K for K = 1..255 (entry 0 unused): the 16.16 reciprocals of the hue position.
struct HueReciprocals {
  int value[256];
  constexpr HueReciprocals() : value() {
    for (int k = 1; k < 256; ++k) value[k] = 0xFF0000 / k;
  }
};
inline constexpr HueReciprocals kHueReciprocals{};

ORVANE_ALWAYS_INLINE void HueSatPixelFast(int& b, int& g, int& r, const int* sat, int shiftRem, int shiftSectors) {
  constexpr int kMask[12] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF,
                             0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
  constexpr int kStep[12] = {-1, 0x100, -0x10000, 1, -0x100, 0x10000, -1, 0x100, -0x10000, 1, -0x100, 0x10000};
  const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int l = mx + mn;
  const int k = mx - mn;
  const int lmax = l < 511 - l ? l : 511 - l;
  const int k2 = sat[k] < lmax ? sat[k] : lmax;
  const int n = (l - k2) >> 1;
  if (k == 0) {
    b = g = r = n;
    return;
  }
  const int a = ((l + k2) >> 1) - n;
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
  const int position = (numerator * kHueReciprocals.value[k] + 0x8000) >> 16;
  int shifted = position + shiftRem;
  int index = sector + shiftSectors;
  if (shifted > 254) {
    index += 1;
    shifted -= 255;
  }
  if (index >= 12) index -= 6;
  const int packed = n * 0x010101 + ((a * 0x010101) & kMask[index]) + kStep[index] * ((a * shifted + 128) >> 8);
  b = packed & 0xFF;
  g = (packed >> 8) & 0xFF;
  r = (packed >> 16) & 0xFF;
}

inline void HueSatGeneric(const Plane& img, const HueSatParams& p, RowPool* pool) {
  const int shiftRem = p.shift % 255;
  const int shiftSectors = p.shift / 255;
  ForRows(pool, img.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint8_t* px = img.Row(y);
      if (!img.Deep()) {
        for (int x = 0; x < img.width; ++x, px += img.bytesPerPixel) {
          int b = px[0], g = px[1], r = px[2];
          HueSatPixelFast(b, g, r, p.satTable, shiftRem, shiftSectors);
          px[0] = static_cast<uint8_t>(b);
          px[1] = static_cast<uint8_t>(g);
          px[2] = static_cast<uint8_t>(r);
        }
      } else {
        for (int x = 0; x < img.width; ++x, px += img.bytesPerPixel) {
          uint16_t* w = reinterpret_cast<uint16_t*>(px);
          int b = w[0] >> 8, g = w[1] >> 8, r = w[2] >> 8;
          HueSatPixelFast(b, g, r, p.satTable, shiftRem, shiftSectors);
          w[0] = static_cast<uint16_t>(b << 8);
          w[1] = static_cast<uint16_t>(g << 8);
          w[2] = static_cast<uint16_t>(r << 8);
          if (img.bytesPerPixel == 8) w[3] = 0;
        }
      }
    }
  });
}

template <typename T, typename L>
ORVANE_ALWAYS_INLINE void LutRow(T* row, int width, int bytesPerPixel, const L* lut) {
  const int step = bytesPerPixel / static_cast<int>(sizeof(T));
  if (step == 4) {
    for (int x = 0; x < width; ++x, row += 4) {
      row[0] = lut[row[0]];
      row[1] = lut[row[1]];
      row[2] = lut[row[2]];
    }
  } else {
    const int n = width * step;
    for (int i = 0; i < n; ++i) row[i] = lut[row[i]];
  }
}

inline void LutGeneric(const Plane& img, const LutParams& p, RowPool* pool) {
  ForRows(pool, img.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (img.Deep()) {
        LutRow(reinterpret_cast<uint16_t*>(img.Row(y)), img.width, img.bytesPerPixel, p.lut16);
      } else {
        LutRow(img.Row(y), img.width, img.bytesPerPixel, p.lut8);
      }
    }
  });
}

// One row of the unsharp mask over samples i = 2 step .. (w - 2) step - 1 (the fourth channel of
// 32/64-bit pixels keeps the output's value). `Wide` holds a 4 × 4 sum (int16 suffices for 8-bit data).
template <typename T, typename Wide>
ORVANE_ALWAYS_INLINE void SharpenRow(T* out, const T* r0, const T* r1, const T* r2, const T* r3, int width,
                                     int step, int sharpness) {
  constexpr int kMax = sizeof(T) == 1 ? 255 : 65535;
  const int begin = 2 * step;
  const int end = (width - 2) * step;
  for (int i = begin; i < end; ++i) {
    const Wide v0 = static_cast<Wide>(r0[i - 2 * step] + r1[i - 2 * step] + r2[i - 2 * step] + r3[i - 2 * step]);
    const Wide v1 = static_cast<Wide>(r0[i - step] + r1[i - step] + r2[i - step] + r3[i - step]);
    const Wide v2 = static_cast<Wide>(r0[i] + r1[i] + r2[i] + r3[i]);
    const Wide v3 = static_cast<Wide>(r0[i + step] + r1[i + step] + r2[i + step] + r3[i + step]);
    const Wide blur = static_cast<Wide>((v0 + v1 + v2 + v3) >> 4);
    const Wide o = static_cast<Wide>(r2[i]);
    const Wide d = static_cast<Wide>(sharpness * (o - blur));
    const int v = o + d / 10;
    const T result = static_cast<T>(v < 0 ? 0 : (v > kMax ? kMax : v));
    out[i] = (step == 4 && (i & 3) == 3) ? out[i] : result;
  }
}

inline void SharpenGeneric(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool) {
  if (src.width < 5 || src.height < 5) return;
  ForRows(pool, src.height - 4, [&](int b0, int b1) {
    for (int y = b0 + 2; y < b1 + 2; ++y) {
      if (src.Deep()) {
        auto row = [&](int yy) { return reinterpret_cast<const uint16_t*>(src.Row(yy)); };
        SharpenRow<uint16_t, int>(reinterpret_cast<uint16_t*>(dst.Row(y)), row(y - 2), row(y - 1), row(y), row(y + 1),
                                  src.width, src.bytesPerPixel / 2, p.sharpness);
      } else {
        auto row = [&](int yy) { return static_cast<const uint8_t*>(src.Row(yy)); };
        SharpenRow<uint8_t, int16_t>(dst.Row(y), row(y - 2), row(y - 1), row(y), row(y + 1), src.width,
                                     src.bytesPerPixel, p.sharpness);
      }
    }
  });
}

inline void LuminanceGeneric(const Plane& dst, const Plane& src, RowPool* pool) {
  ForRows(pool, src.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint8_t* s = src.Row(y);
      uint8_t* d = dst.Row(y);
      for (int x = 0; x < src.width; ++x) {
        d[x] = static_cast<uint8_t>((30 * s[3 * x + 2] + 59 * s[3 * x + 1] + 11 * s[3 * x]) / 100);
      }
    }
  });
}
