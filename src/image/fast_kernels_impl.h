// Bodies of the fast paths, compiled once per instruction set: fast_kernels.cpp includes this file for
// the x86-64 baseline (SSE2) and fast_kernels_avx2.cpp for AVX2, each inside an anonymous namespace so
// that the two instantiations never meet at link time. Loops are written so that the compiler can
// vectorise them (fixed strides, no table look-ups in the inner loops where arithmetic does the same).
// Everything here must give exactly the bytes of reference_kernels.cpp. No #include: the including
// file provides <algorithm>, <cstdint>, kernels.h and row_pool.h before it opens its namespace.

#define ORVANE_ALWAYS_INLINE inline __attribute__((always_inline))
#define ORVANE_ALWAYS_INLINE_LAMBDA __attribute__((always_inline))

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

// Gains and offsets alternate with the column parity: the loop takes a column pair per step, so the
// vectoriser sees one fixed pattern of two lanes.
// Columns x0 .. width - 1 of a row (x0 even); `post` (may be null) is the per-value table after.
template <typename T>
ORVANE_ALWAYS_INLINE void GrayGainRow(T* row, int x0, int width, const int* gain, const int* offset, int maxValue,
                                      const T* post) {
  const int g0 = gain[0], g1 = gain[1], o0 = offset[0], o1 = offset[1];
  auto apply = [maxValue](int g, int o, T s) {
    const int v = o + ((g * static_cast<int>(s)) >> 7);
    return static_cast<T>(v < 0 ? 0 : (v > maxValue ? maxValue : v));
  };
  int x = x0;
  for (; x + 1 < width; x += 2) {
    row[x] = apply(g0, o0, row[x]);
    row[x + 1] = apply(g1, o1, row[x + 1]);
  }
  if (x < width) row[x] = apply(g0, o0, row[x]);
  // The table over the row while it is in the cache (a loop of its own: look-ups do not vectorise).
  if (post != nullptr) {
    for (x = x0; x < width; ++x) row[x] = post[row[x]];
  }
}

// `span8` does a prefix of each 8-bit row by vector code and returns the first (even) column not done.
template <typename Span8>
void GrayGainRows(const Plane& img, const GrayGainParams& p, RowPool* pool, Span8 span8) {
  ForRows(pool, img.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (img.bytesPerPixel == 1) {
        const int x0 = span8(img.Row(y), img.width, p.gain[y & 1], p.offset[y & 1], p.post8);
        GrayGainRow(img.Row(y), x0, img.width, p.gain[y & 1], p.offset[y & 1], p.maxValue, p.post8);
      } else {
        GrayGainRow(reinterpret_cast<uint16_t*>(img.Row(y)), 0, img.width, p.gain[y & 1], p.offset[y & 1],
                    p.maxValue, p.post16);
      }
    }
  });
}

inline void GrayGainGeneric(const Plane& img, const GrayGainParams& p, RowPool* pool) {
  GrayGainRows(img, p, pool, [](uint8_t*, int, const int*, const int*, const uint8_t*) { return 0; });
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

// One row of hue and saturation, pixels x0 .. x1 - 1, scalar.
inline void HueSatRowScalar(uint8_t* out, const uint8_t* in, int x0, int x1, int dstBpp, int srcBpp, bool deep,
                            const HueSatParams& p, int shiftRem, int shiftSectors) {
  in += static_cast<ptrdiff_t>(x0) * srcBpp;
  out += static_cast<ptrdiff_t>(x0) * dstBpp;
  for (int x = x0; x < x1; ++x, in += srcBpp, out += dstBpp) {
    if (!deep) {
      int b = in[0], g = in[1], r = in[2];
      HueSatPixelFast(b, g, r, p.satTable, shiftRem, shiftSectors);
      if (p.post8 != nullptr) b = p.post8[b], g = p.post8[g], r = p.post8[r];
      if (srcBpp == 4) out[3] = in[3];
      out[0] = static_cast<uint8_t>(b);
      out[1] = static_cast<uint8_t>(g);
      out[2] = static_cast<uint8_t>(r);
    } else {
      const uint16_t* w = reinterpret_cast<const uint16_t*>(in);
      uint16_t* o = reinterpret_cast<uint16_t*>(out);
      int b = w[0] >> 8, g = w[1] >> 8, r = w[2] >> 8;
      HueSatPixelFast(b, g, r, p.satTable, shiftRem, shiftSectors);
      b <<= 8, g <<= 8, r <<= 8;
      if (p.post16 != nullptr) b = p.post16[b], g = p.post16[g], r = p.post16[r];
      o[0] = static_cast<uint16_t>(b);
      o[1] = static_cast<uint16_t>(g);
      o[2] = static_cast<uint16_t>(r);
      if (srcBpp == 8) o[3] = 0;
    }
  }
}

inline void HueSatGeneric(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool* pool) {
  const int shiftRem = p.shift % 255;
  const int shiftSectors = p.shift / 255;
  ForRows(pool, src.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      HueSatRowScalar(dst.Row(y), src.Row(y), 0, src.width, dst.bytesPerPixel, src.bytesPerPixel, src.Deep(), p,
                      shiftRem, shiftSectors);
    }
  });
}

template <typename T, typename L>
ORVANE_ALWAYS_INLINE void LutRow(T* out, const T* in, int width, int step, const L* lut) {
  if (step == 4) {
    for (int x = 0; x < width; ++x, in += 4, out += 4) {
      out[0] = lut[in[0]];
      out[1] = lut[in[1]];
      out[2] = lut[in[2]];
      out[3] = in[3];
    }
  } else {
    const int n = width * step;
    for (int i = 0; i < n; ++i) out[i] = lut[in[i]];
  }
}

inline void LutGeneric(const Plane& dst, const Plane& src, const LutParams& p, RowPool* pool) {
  ForRows(pool, src.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (src.Deep()) {
        LutRow(reinterpret_cast<uint16_t*>(dst.Row(y)), reinterpret_cast<const uint16_t*>(src.Row(y)), src.width,
               src.bytesPerPixel / 2, p.lut16);
      } else {
        LutRow(dst.Row(y), src.Row(y), src.width, src.bytesPerPixel, p.lut8);
      }
    }
  });
}

// One row of the unsharp mask over samples i = 2 step .. (w - 2) step - 1, separably: vertical sums of the
// four rows into a chunk buffer, then the horizontal sum of four of them. `Wide` holds a 4 × 4 sum (int16
// suffices for 8-bit data, which lets the division by 10 vectorise as a 16-bit multiply-high). The fourth
// channel of 32/64-bit pixels (step 4) keeps the output's value.
template <typename T, typename Wide, int kStep>
ORVANE_ALWAYS_INLINE void SharpenRow(T* out, const T* r0, const T* r1, const T* r2, const T* r3, int width,
                                     int sharpness) {
  constexpr int kMax = sizeof(T) == 1 ? 255 : 65535;
  constexpr int kChunk = 1024;
  Wide vertical[kChunk + 3 * kStep];
  const int begin = 2 * kStep;
  const int end = (width - 2) * kStep;
  const Wide sharp = static_cast<Wide>(sharpness);
  for (int c0 = begin; c0 < end; c0 += kChunk) {
    const int c1 = c0 + kChunk < end ? c0 + kChunk : end;
    const int lo = c0 - 2 * kStep;
    const int count = c1 - c0;
    for (int j = 0; j < count + 3 * kStep; ++j) {
      vertical[j] = static_cast<Wide>(r0[lo + j] + r1[lo + j] + r2[lo + j] + r3[lo + j]);
    }
    T* o = out + c0;
    const T* centre = r2 + c0;
    for (int j = 0; j < count; ++j) {
      const Wide sum = static_cast<Wide>(vertical[j] + vertical[j + kStep] + vertical[j + 2 * kStep] +
                                         vertical[j + 3 * kStep]);
      const Wide value = static_cast<Wide>(centre[j]);
      const Wide d = static_cast<Wide>(sharp * static_cast<Wide>(value - (sum >> 4)));
      Wide v = static_cast<Wide>(value + static_cast<Wide>(d / 10));
      v = v < 0 ? 0 : v;
      v = v > kMax ? static_cast<Wide>(kMax) : v;
      if constexpr (kStep == 4) {
        o[j] = ((c0 + j) & 3) == 3 ? o[j] : static_cast<T>(v);
      } else {
        o[j] = static_cast<T>(v);
      }
    }
  }
}

template <typename T, typename Wide>
void SharpenRowAnyStep(T* out, const T* r0, const T* r1, const T* r2, const T* r3, int width, int step,
                       int sharpness) {
  switch (step) {
    case 1: SharpenRow<T, Wide, 1>(out, r0, r1, r2, r3, width, sharpness); break;
    case 3: SharpenRow<T, Wide, 3>(out, r0, r1, r2, r3, width, sharpness); break;
    default: SharpenRow<T, Wide, 4>(out, r0, r1, r2, r3, width, sharpness); break;
  }
}

// The brightness factor over one finished output row: (int)(v × gain) limited to 0 .. M, fourth
// channel untouched.
template <typename T, int kStep>
ORVANE_ALWAYS_INLINE void GainRow(T* row, int width, float gain) {
  constexpr int kMax = sizeof(T) == 1 ? 255 : 65535;
  const int n = width * kStep;
  for (int i = 0; i < n; ++i) {
    int v = static_cast<int>(static_cast<float>(row[i]) * gain);
    v = v < 0 ? 0 : (v > kMax ? kMax : v);
    if constexpr (kStep == 4) {
      row[i] = (i & 3) == 3 ? row[i] : static_cast<T>(v);
    } else {
      row[i] = static_cast<T>(v);
    }
  }
}

template <typename T, typename Wide>
void SharpenRows(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  const int step = src.bytesPerPixel / static_cast<int>(sizeof(T));
  const size_t rowBytes = static_cast<size_t>(src.width) * src.bytesPerPixel;
  const bool interiorExists = src.width >= 5 && src.height >= 5;
  for (int y = y0; y < y1; ++y) {
    T* out = reinterpret_cast<T*>(dst.Row(y));
    if (interiorExists && y >= 2 && y < src.height - 2) {
      // Interior row: the two border pixels on each side are copied, the rest sharpened. The fourth
      // channel of the sharpened part is read from the output, so it is copied first.
      const size_t edge = 2 * static_cast<size_t>(src.bytesPerPixel);
      if (step == 4) {
        std::memcpy(out, src.Row(y), rowBytes);
      } else {
        std::memcpy(out, src.Row(y), edge);
        std::memcpy(reinterpret_cast<uint8_t*>(out) + rowBytes - edge, src.Row(y) + rowBytes - edge, edge);
      }
      auto row = [&](int yy) { return reinterpret_cast<const T*>(src.Row(yy)); };
      SharpenRowAnyStep<T, Wide>(out, row(y - 2), row(y - 1), row(y), row(y + 1), src.width, step, p.sharpness);
    } else {
      std::memcpy(out, src.Row(y), rowBytes);
    }
    if (p.applyGain) {
      switch (step) {
        case 1: GainRow<T, 1>(out, src.width, p.gain); break;
        case 3: GainRow<T, 3>(out, src.width, p.gain); break;
        default: GainRow<T, 4>(out, src.width, p.gain); break;
      }
    }
  }
}

inline void SharpenRowsAny(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  if (src.Deep()) {
    SharpenRows<uint16_t, int32_t>(dst, src, p, y0, y1);
  } else {
    SharpenRows<uint8_t, int16_t>(dst, src, p, y0, y1);
  }
}

inline void SharpenGeneric(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool) {
  ForRows(pool, src.height, [&](int y0, int y1) { SharpenRowsAny(dst, src, p, y0, y1); });
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
