// AVX2 fast paths: the demosaic's interior by hand (16 pixels of 8-bit or 8 pixels of 16-bit data per
// step), everything else from fast_kernels_impl.h vectorised by the compiler for AVX2. Only called
// after __builtin_cpu_supports("avx2") said yes.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/kernels.h"
#include "image/row_pool.h"

#if defined(__x86_64__)
#include <immintrin.h>

// Every function defined below may use AVX2; the headers above keep their baseline code.
#pragma GCC target("avx2")

namespace orvane::image {

namespace {

#include "image/fast_kernels_impl.h"

// pshufb masks that interleave three planes of 16 bytes (elementBytes 1) or 8 words (2) into 48 bytes of
// blue, green, red triples: mask[part][plane] selects the bytes of output part 0..2 taken from plane.
struct InterleaveMasks {
  alignas(16) uint8_t mask[3][3][16];
  constexpr explicit InterleaveMasks(int elementBytes) : mask() {
    for (int part = 0; part < 3; ++part) {
      for (int plane = 0; plane < 3; ++plane) {
        for (int t = 0; t < 16; ++t) {
          const int byte = 16 * part + t;
          const int element = byte / elementBytes;
          const int pixel = element / 3;
          const int channel = element % 3;
          mask[part][plane][t] =
              channel == plane ? static_cast<uint8_t>(pixel * elementBytes + byte % elementBytes) : 0x80;
        }
      }
    }
  }
};
constexpr InterleaveMasks kInterleave8(1);
constexpr InterleaveMasks kInterleave16(2);

inline void StoreInterleaved(uint8_t* out, __m128i b, __m128i g, __m128i r, const InterleaveMasks& m) {
  for (int part = 0; part < 3; ++part) {
    const __m128i vb = _mm_shuffle_epi8(b, _mm_load_si128(reinterpret_cast<const __m128i*>(m.mask[part][0])));
    const __m128i vg = _mm_shuffle_epi8(g, _mm_load_si128(reinterpret_cast<const __m128i*>(m.mask[part][1])));
    const __m128i vr = _mm_shuffle_epi8(r, _mm_load_si128(reinterpret_cast<const __m128i*>(m.mask[part][2])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part), _mm_or_si128(_mm_or_si128(vb, vg), vr));
  }
}

inline __m256i Load8As16(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
inline __m256i Load16As32(const uint16_t* p) {
  return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// 8-bit mosaic to 24-bit: 16 columns per step in 16-bit lanes. The weighted sums stay below 4096 and
// (sum × k) >> 11 equals mulhi(sum × 4, k × 8); packus saturates at 255 exactly where the sum × k reaches
// 0x80000.
int DemosaicSpan8(const DemosaicRowArgs& args) {
  if (args.step != 3) return 2;
  const auto* a = static_cast<const uint8_t*>(args.a);
  const auto* a2 = static_cast<const uint8_t*>(args.a2);
  const auto* b = static_cast<const uint8_t*>(args.b);
  const auto* b2 = static_cast<const uint8_t*>(args.b2);
  auto* out = static_cast<uint8_t*>(args.out);
  // Lane i is column c + i; red is in the cell's left column for lanes of the same parity as column 2
  // when redLeftAt2 is set.
  int16_t lanes[16];
  for (int i = 0; i < 16; ++i) lanes[i] = static_cast<int16_t>(((i & 1) == 0) == (args.redLeftAt2 != 0) ? -1 : 0);
  const __m256i redLeft = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
  const __m256i kRed = _mm256_set1_epi16(static_cast<int16_t>(args.kRed * 8));
  const __m256i kBlue = _mm256_set1_epi16(static_cast<int16_t>(args.kBlue * 8));
  int c = 2;
  for (; c + 16 <= args.width - 2; c += 16) {
    const __m256i am2 = Load8As16(a + c - 2), am1 = Load8As16(a + c - 1), a0 = Load8As16(a + c),
                  ap1 = Load8As16(a + c + 1);
    const __m256i cm2 = Load8As16(a2 + c - 2), cm1 = Load8As16(a2 + c - 1), c0 = Load8As16(a2 + c),
                  cp1 = Load8As16(a2 + c + 1);
    const __m256i bm2 = Load8As16(b + c - 2), bm1 = Load8As16(b + c - 1), b0 = Load8As16(b + c),
                  bp1 = Load8As16(b + c + 1);
    const __m256i dm2 = Load8As16(b2 + c - 2), dm1 = Load8As16(b2 + c - 1), d0 = Load8As16(b2 + c),
                  dp1 = Load8As16(b2 + c + 1);
    auto x3 = [](__m256i v) { return _mm256_add_epi16(_mm256_add_epi16(v, v), v); };
    // Vertical 3:1 sums of the red rows and of the blue rows.
    const __m256i vam2 = _mm256_add_epi16(x3(am2), cm2), vam1 = _mm256_add_epi16(x3(am1), cm1),
                  va0 = _mm256_add_epi16(x3(a0), c0), vap1 = _mm256_add_epi16(x3(ap1), cp1);
    const __m256i vbm2 = _mm256_add_epi16(x3(bm2), dm2), vbm1 = _mm256_add_epi16(x3(bm1), dm1),
                  vb0 = _mm256_add_epi16(x3(b0), d0), vbp1 = _mm256_add_epi16(x3(bp1), dp1);
    const __m256i redL = _mm256_add_epi16(x3(vam1), vap1);
    const __m256i redR = _mm256_add_epi16(x3(va0), vam2);
    const __m256i blueL = _mm256_add_epi16(x3(vb0), vbm2);
    const __m256i blueR = _mm256_add_epi16(x3(vbm1), vbp1);
    const __m256i greenL = _mm256_srli_epi16(_mm256_add_epi16(a0, bm1), 1);
    const __m256i greenR = _mm256_srli_epi16(_mm256_add_epi16(am1, b0), 1);
    const __m256i red = _mm256_blendv_epi8(redR, redL, redLeft);
    const __m256i blue = _mm256_blendv_epi8(blueR, blueL, redLeft);
    const __m256i green = _mm256_blendv_epi8(greenR, greenL, redLeft);
    const __m256i r16 = _mm256_mulhi_epu16(_mm256_slli_epi16(red, 2), kRed);
    const __m256i b16 = _mm256_mulhi_epu16(_mm256_slli_epi16(blue, 2), kBlue);
    const __m256i bg = _mm256_permute4x64_epi64(_mm256_packus_epi16(b16, green), 0xD8);
    const __m256i rr = _mm256_permute4x64_epi64(_mm256_packus_epi16(r16, r16), 0xD8);
    StoreInterleaved(out + 3 * c, _mm256_castsi256_si128(bg), _mm256_extracti128_si256(bg, 1),
                     _mm256_castsi256_si128(rr), kInterleave8);
  }
  return c;
}

// Two interior rows r and r + 1 of 8-bit data at once: they read the five rows r - 2 .. r + 2, and the
// rows of one colour type (r - 1, r + 1 and r - 2, r, r + 2) serve both output rows, so each source row is
// widened once per step instead of up to four times. `redUpper`: the red sample of row r's cells lies in
// row r - 1. Returns the first column not done.
int DemosaicPairSpan8(uint8_t* out0, uint8_t* out1, const uint8_t* ym2, const uint8_t* xm1, const uint8_t* y0,
                      const uint8_t* xp1, const uint8_t* yp2, int width, bool redUpper, int redLeftAt2, int kRedIn,
                      int kBlueIn) {
  int16_t lanes[16];
  for (int i = 0; i < 16; ++i) lanes[i] = static_cast<int16_t>(((i & 1) == 0) == (redLeftAt2 != 0) ? -1 : 0);
  const __m256i redLeft = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
  const __m256i kRed = _mm256_set1_epi16(static_cast<int16_t>(kRedIn * 8));
  const __m256i kBlue = _mm256_set1_epi16(static_cast<int16_t>(kBlueIn * 8));
  auto x3 = [](__m256i v) { return _mm256_add_epi16(_mm256_add_epi16(v, v), v); };
  // One output row from the vertical sums of its red rows (va) and blue rows (vb) at column offsets
  // -2, -1, 0, +1, and its cell rows a (red) and b (blue) at offsets -1 and 0.
  auto finish = [&](uint8_t* out, const __m256i* va, const __m256i* vb, __m256i am1, __m256i a0, __m256i bm1,
                    __m256i b0) {
    const __m256i red = _mm256_blendv_epi8(_mm256_add_epi16(x3(va[2]), va[0]), _mm256_add_epi16(x3(va[1]), va[3]),
                                           redLeft);
    const __m256i blue = _mm256_blendv_epi8(_mm256_add_epi16(x3(vb[1]), vb[3]), _mm256_add_epi16(x3(vb[2]), vb[0]),
                                            redLeft);
    const __m256i green = _mm256_blendv_epi8(_mm256_srli_epi16(_mm256_add_epi16(am1, b0), 1),
                                             _mm256_srli_epi16(_mm256_add_epi16(a0, bm1), 1), redLeft);
    const __m256i r16 = _mm256_mulhi_epu16(_mm256_slli_epi16(red, 2), kRed);
    const __m256i b16 = _mm256_mulhi_epu16(_mm256_slli_epi16(blue, 2), kBlue);
    const __m256i bg = _mm256_permute4x64_epi64(_mm256_packus_epi16(b16, green), 0xD8);
    const __m256i rr = _mm256_permute4x64_epi64(_mm256_packus_epi16(r16, r16), 0xD8);
    StoreInterleaved(out, _mm256_castsi256_si128(bg), _mm256_extracti128_si256(bg, 1), _mm256_castsi256_si128(rr),
                     kInterleave8);
  };
  int c = 2;
  for (; c + 16 <= width - 2; c += 16) {
    __m256i p[4], q[4], s[4], t[4], xm[2], xp[2], yc[2];
    for (int o = 0; o < 4; ++o) {
      const int col = c - 2 + o;
      const __m256i m = Load8As16(xm1 + col);
      const __m256i pl = Load8As16(xp1 + col);
      const __m256i mid = x3(Load8As16(y0 + col));
      p[o] = _mm256_add_epi16(x3(m), pl);
      q[o] = _mm256_add_epi16(x3(pl), m);
      s[o] = _mm256_add_epi16(mid, Load8As16(ym2 + col));
      t[o] = _mm256_add_epi16(mid, Load8As16(yp2 + col));
      if (o == 1 || o == 2) {
        xm[o - 1] = m;
        xp[o - 1] = pl;
        yc[o - 1] = Load8As16(y0 + col);
      }
    }
    if (redUpper) {
      finish(out0 + 3 * c, p, s, xm[0], xm[1], yc[0], yc[1]);
      finish(out1 + 3 * c, q, t, xp[0], xp[1], yc[0], yc[1]);
    } else {
      finish(out0 + 3 * c, s, p, yc[0], yc[1], xm[0], xm[1]);
      finish(out1 + 3 * c, t, q, yc[0], yc[1], xp[0], xp[1]);
    }
  }
  return c;
}

int DemosaicPairSpan16(uint8_t* out0, uint8_t* out1, const uint16_t* ym2, const uint16_t* xm1, const uint16_t* y0,
                       const uint16_t* xp1, const uint16_t* yp2, int width, bool redUpper, int redLeftAt2, int kRedIn,
                      int kBlueIn) {
  int32_t lanes[8];
  for (int i = 0; i < 8; ++i) lanes[i] = ((i & 1) == 0) == (redLeftAt2 != 0) ? -1 : 0;
  const __m256i redLeft = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
  const __m256i kRed = _mm256_set1_epi32(kRedIn);
  const __m256i kBlue = _mm256_set1_epi32(kBlueIn);
  const __m256i maxValue = _mm256_set1_epi32(65535);
  auto x3 = [](__m256i v) { return _mm256_add_epi32(_mm256_add_epi32(v, v), v); };
  // One output row from the vertical sums of its red rows (va) and blue rows (vb) at column offsets
  // -2, -1, 0, +1, and its cell rows a (red) and b (blue) at offsets -1 and 0.
  auto finish = [&](uint8_t* out, const __m256i* va, const __m256i* vb, __m256i am1, __m256i a0, __m256i bm1,
                    __m256i b0) {
    const __m256i red = _mm256_blendv_epi8(_mm256_add_epi32(x3(va[2]), va[0]), _mm256_add_epi32(x3(va[1]), va[3]),
                                           redLeft);
    const __m256i blue = _mm256_blendv_epi8(_mm256_add_epi32(x3(vb[1]), vb[3]), _mm256_add_epi32(x3(vb[2]), vb[0]),
                                            redLeft);
    const __m256i green = _mm256_blendv_epi8(_mm256_srli_epi32(_mm256_add_epi32(am1, b0), 1),
                                             _mm256_srli_epi32(_mm256_add_epi32(a0, bm1), 1), redLeft);
    const __m256i r32 = _mm256_min_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(red, kRed), 11), maxValue);
    const __m256i b32 = _mm256_min_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(blue, kBlue), 11), maxValue);
    const __m256i bg = _mm256_permute4x64_epi64(_mm256_packus_epi32(b32, green), 0xD8);
    const __m256i rr = _mm256_permute4x64_epi64(_mm256_packus_epi32(r32, r32), 0xD8);
    StoreInterleaved(out, _mm256_castsi256_si128(bg), _mm256_extracti128_si256(bg, 1), _mm256_castsi256_si128(rr),
                     kInterleave16);
  };
  int c = 2;
  for (; c + 8 <= width - 2; c += 8) {
    __m256i p[4], q[4], s[4], t[4], xm[2], xp[2], yc[2];
    for (int o = 0; o < 4; ++o) {
      const int col = c - 2 + o;
      const __m256i m = Load16As32(xm1 + col);
      const __m256i pl = Load16As32(xp1 + col);
      const __m256i mid = x3(Load16As32(y0 + col));
      p[o] = _mm256_add_epi32(x3(m), pl);
      q[o] = _mm256_add_epi32(x3(pl), m);
      s[o] = _mm256_add_epi32(mid, Load16As32(ym2 + col));
      t[o] = _mm256_add_epi32(mid, Load16As32(yp2 + col));
      if (o == 1 || o == 2) {
        xm[o - 1] = m;
        xp[o - 1] = pl;
        yc[o - 1] = Load16As32(y0 + col);
      }
    }
    if (redUpper) {
      finish(out0 + 6 * c, p, s, xm[0], xm[1], yc[0], yc[1]);
      finish(out1 + 6 * c, q, t, xp[0], xp[1], yc[0], yc[1]);
    } else {
      finish(out0 + 6 * c, s, p, yc[0], yc[1], xm[0], xm[1]);
      finish(out1 + 6 * c, t, q, yc[0], yc[1], xp[0], xp[1]);
    }
  }
  return c;
}

// 16-bit mosaic to 48-bit: 8 columns per step in 32-bit lanes (sum × k < 2^30).
int DemosaicSpan16(const DemosaicRowArgs& args) {
  if (args.step != 3) return 2;
  const auto* a = static_cast<const uint16_t*>(args.a);
  const auto* a2 = static_cast<const uint16_t*>(args.a2);
  const auto* b = static_cast<const uint16_t*>(args.b);
  const auto* b2 = static_cast<const uint16_t*>(args.b2);
  auto* out = static_cast<uint8_t*>(args.out);
  int32_t lanes[8];
  for (int i = 0; i < 8; ++i) lanes[i] = ((i & 1) == 0) == (args.redLeftAt2 != 0) ? -1 : 0;
  const __m256i redLeft = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
  const __m256i kRed = _mm256_set1_epi32(args.kRed);
  const __m256i kBlue = _mm256_set1_epi32(args.kBlue);
  const __m256i maxValue = _mm256_set1_epi32(65535);
  int c = 2;
  for (; c + 8 <= args.width - 2; c += 8) {
    const __m256i am2 = Load16As32(a + c - 2), am1 = Load16As32(a + c - 1), a0 = Load16As32(a + c),
                  ap1 = Load16As32(a + c + 1);
    const __m256i cm2 = Load16As32(a2 + c - 2), cm1 = Load16As32(a2 + c - 1), c0 = Load16As32(a2 + c),
                  cp1 = Load16As32(a2 + c + 1);
    const __m256i bm2 = Load16As32(b + c - 2), bm1 = Load16As32(b + c - 1), b0 = Load16As32(b + c),
                  bp1 = Load16As32(b + c + 1);
    const __m256i dm2 = Load16As32(b2 + c - 2), dm1 = Load16As32(b2 + c - 1), d0 = Load16As32(b2 + c),
                  dp1 = Load16As32(b2 + c + 1);
    auto x3 = [](__m256i v) { return _mm256_add_epi32(_mm256_add_epi32(v, v), v); };
    const __m256i vam2 = _mm256_add_epi32(x3(am2), cm2), vam1 = _mm256_add_epi32(x3(am1), cm1),
                  va0 = _mm256_add_epi32(x3(a0), c0), vap1 = _mm256_add_epi32(x3(ap1), cp1);
    const __m256i vbm2 = _mm256_add_epi32(x3(bm2), dm2), vbm1 = _mm256_add_epi32(x3(bm1), dm1),
                  vb0 = _mm256_add_epi32(x3(b0), d0), vbp1 = _mm256_add_epi32(x3(bp1), dp1);
    const __m256i red = _mm256_blendv_epi8(_mm256_add_epi32(x3(va0), vam2), _mm256_add_epi32(x3(vam1), vap1), redLeft);
    const __m256i blue =
        _mm256_blendv_epi8(_mm256_add_epi32(x3(vbm1), vbp1), _mm256_add_epi32(x3(vb0), vbm2), redLeft);
    const __m256i green = _mm256_blendv_epi8(_mm256_srli_epi32(_mm256_add_epi32(am1, b0), 1),
                                             _mm256_srli_epi32(_mm256_add_epi32(a0, bm1), 1), redLeft);
    const __m256i r32 = _mm256_min_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(red, kRed), 11), maxValue);
    const __m256i b32 = _mm256_min_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(blue, kBlue), 11), maxValue);
    const __m256i bg = _mm256_permute4x64_epi64(_mm256_packus_epi32(b32, green), 0xD8);
    const __m256i rr = _mm256_permute4x64_epi64(_mm256_packus_epi32(r32, r32), 0xD8);
    StoreInterleaved(out + 6 * c, _mm256_castsi256_si128(bg), _mm256_extracti128_si256(bg, 1),
                     _mm256_castsi256_si128(rr), kInterleave16);
  }
  return c;
}

// A 256-entry byte table applied to n bytes, 32 per step: sixteen 16-entry pshufb look-ups, each hitting
// only the bytes whose high nibble selects its part of the table (x ^ 16j is below 16 exactly for those;
// adding 0x70 with saturation sets bit 7, which makes pshufb answer 0, for all others). With `keepFourth`
// every fourth byte (the fourth channel of 32-bit pixels) keeps its input value.
void LutBytes(uint8_t* out, const uint8_t* in, int n, const uint8_t* lut, bool keepFourth) {
  __m256i tables[16];
  for (int j = 0; j < 16; ++j) {
    tables[j] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lut + 16 * j)));
  }
  const __m256i bias = _mm256_set1_epi8(0x70);
  const __m256i fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    __m256i r = _mm256_setzero_si256();
    for (int j = 0; j < 16; ++j) {
      const __m256i index = _mm256_adds_epu8(_mm256_xor_si256(x, _mm256_set1_epi8(static_cast<char>(16 * j))), bias);
      r = _mm256_or_si256(r, _mm256_shuffle_epi8(tables[j], index));
    }
    if (keepFourth) r = _mm256_blendv_epi8(r, x, fourth);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), r);
  }
  for (; i < n; ++i) out[i] = (keepFourth && (i & 3) == 3) ? in[i] : lut[in[i]];
}

void Lut(const Plane& dst, const Plane& src, const LutParams& p, RowPool* pool) {
  if (src.Deep()) {
    LutGeneric(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      LutBytes(dst.Row(y), src.Row(y), src.width * src.bytesPerPixel, p.lut8, src.bytesPerPixel == 4);
    }
  });
}

// Hue and saturation of 8 pixels per step, in 32-bit lanes (the arithmetic is at 8 bits per channel at
// every depth). Returns the pixels done; the
// caller finishes the row with the scalar code. The saturation table is computed, not looked up.
int HueSatSpan8(uint8_t* dst, const uint8_t* px, int count, int bytesPerPixel, const HueSatParams& p) {
  const int shiftRem = p.shift % 255;
  const int shiftSectors = p.shift / 255;
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  // Sector masks and ramp steps (index mod 6), for a permute instead of a look-up.
  const __m256i masks = _mm256_setr_epi32(0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF, 0, 0);
  // Ramp step of each sector as a shift (blue 0, green 8, red 16) and a sign.
  const __m256i stepShift = _mm256_setr_epi32(0, 8, 16, 0, 8, 16, 0, 0);
  const __m256i stepSign = _mm256_setr_epi32(-1, 1, -1, 1, -1, 1, 1, 1);
  const __m256i satFactor = _mm256_set1_epi32(p.saturationFactor);
  auto grayOf = [](__m256i v) {
    return _mm256_or_si256(v, _mm256_or_si256(_mm256_slli_epi32(v, 8), _mm256_slli_epi32(v, 16)));
  };
  // 24-bit pixels: dwords 0..3 and 3..6 into the two halves, then one pixel per lane.
  const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
  const __m256i unpack = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4,
                                          5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i v511 = _mm256_set1_epi32(511);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i v254 = _mm256_set1_epi32(254);
  const __m256i v255 = _mm256_set1_epi32(255);
  const __m256i six = _mm256_set1_epi32(6);
  const __m256i five = _mm256_set1_epi32(5);
  const __m256i rem = _mm256_set1_epi32(shiftRem);
  const __m256i sectors = _mm256_set1_epi32(shiftSectors);
  const __m256i round16 = _mm256_set1_epi32(0x8000);
  const __m256i round8 = _mm256_set1_epi32(128);
  const __m256 dividend = _mm256_set1_ps(16711680.0f);
  const __m256i dividendInt = _mm256_set1_epi32(0xFF0000);
  // A 24-bit step reads 32 bytes for 24: keep three pixels of the row for the scalar code. 48- and 64-bit
  // pixels are packed into the lanes by their high bytes and unpacked (shifted back, low byte 0) by hand.
  const bool deep = bytesPerPixel >= 6;
  const int words = bytesPerPixel / 2;
  const int limit = bytesPerPixel == 3 ? count - 3 : count;
  int x = 0;
  for (; x + 8 <= limit; x += 8) {
    const uint8_t* base = px + x * bytesPerPixel;
    uint8_t* target = dst + x * bytesPerPixel;
    __m256i raw;
    if (deep) {
      int32_t lanes[8];
      const auto* w = reinterpret_cast<const uint16_t*>(base);
      for (int i = 0; i < 8; ++i, w += words) lanes[i] = (w[0] >> 8) | (w[1] >> 8) << 8 | (w[2] >> 8) << 16;
      raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    } else {
      const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base));
      raw = bytesPerPixel == 4 ? loaded : _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(loaded, spread), unpack);
    }
    const __m256i b = _mm256_and_si256(raw, byteMask);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(raw, 8), byteMask);
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(raw, 16), byteMask);
    const __m256i mx = _mm256_max_epi32(_mm256_max_epi32(r, g), b);
    const __m256i mn = _mm256_min_epi32(_mm256_min_epi32(r, g), b);
    const __m256i l = _mm256_add_epi32(mx, mn);
    const __m256i k = _mm256_sub_epi32(mx, mn);
    const __m256i lmax = _mm256_min_epi32(l, _mm256_sub_epi32(v511, l));
    const __m256i sat = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(satFactor, k), round16), 16);
    const __m256i k2 = _mm256_min_epi32(sat, lmax);
    const __m256i n = _mm256_srai_epi32(_mm256_sub_epi32(l, k2), 1);
    const __m256i a = _mm256_sub_epi32(_mm256_srai_epi32(_mm256_add_epi32(l, k2), 1), n);
    // Sector: red largest (r >= g, r >= b) 1; else green (g > r, g >= b) 3; else blue 5.
    const __m256i isRed = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_max_epi32(r, g), r),
                                           _mm256_cmpeq_epi32(_mm256_max_epi32(r, b), r));
    const __m256i isGreen = _mm256_andnot_si256(
        isRed, _mm256_and_si256(_mm256_cmpgt_epi32(g, r), _mm256_cmpeq_epi32(_mm256_max_epi32(g, b), g)));
    __m256i numerator = _mm256_sub_epi32(r, g);
    numerator = _mm256_blendv_epi8(numerator, _mm256_sub_epi32(b, r), isGreen);
    numerator = _mm256_blendv_epi8(numerator, _mm256_sub_epi32(g, b), isRed);
    __m256i sector = five;
    sector = _mm256_blendv_epi8(sector, _mm256_set1_epi32(3), isGreen);
    sector = _mm256_blendv_epi8(sector, one, isRed);
    const __m256i negative = _mm256_cmpgt_epi32(_mm256_setzero_si256(), numerator);
    numerator = _mm256_add_epi32(numerator, _mm256_and_si256(negative, k));
    sector = _mm256_add_epi32(sector, negative);  // -1 where negative
    // 0xFF0000 / K: single-precision quotient, then corrected by one where the rounding crossed an integer.
    const __m256i safeK = _mm256_max_epi32(k, one);
    __m256i reciprocal = _mm256_cvttps_epi32(_mm256_div_ps(dividend, _mm256_cvtepi32_ps(safeK)));
    const __m256i product = _mm256_mullo_epi32(reciprocal, safeK);
    reciprocal = _mm256_add_epi32(reciprocal, _mm256_cmpgt_epi32(product, dividendInt));  // too big: -1
    reciprocal = _mm256_sub_epi32(reciprocal,
                                  _mm256_cmpgt_epi32(_mm256_sub_epi32(dividendInt, _mm256_mullo_epi32(reciprocal, safeK)),
                                                     _mm256_sub_epi32(safeK, one)));  // remainder >= K: +1
    const __m256i position =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(numerator, reciprocal), round16), 16);
    __m256i shifted = _mm256_add_epi32(position, rem);
    __m256i index = _mm256_add_epi32(sector, sectors);
    const __m256i over = _mm256_cmpgt_epi32(shifted, v254);
    index = _mm256_sub_epi32(index, over);
    shifted = _mm256_sub_epi32(shifted, _mm256_and_si256(over, v255));
    index = _mm256_sub_epi32(index, _mm256_and_si256(_mm256_cmpgt_epi32(index, five), six));
    const __m256i ramp = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(a, shifted), round8), 8);
    const __m256i step = _mm256_sign_epi32(_mm256_sllv_epi32(ramp, _mm256_permutevar8x32_epi32(stepShift, index)),
                                           _mm256_permutevar8x32_epi32(stepSign, index));
    const __m256i level = grayOf(n);
    __m256i packed = _mm256_add_epi32(
        level, _mm256_add_epi32(_mm256_and_si256(grayOf(a), _mm256_permutevar8x32_epi32(masks, index)), step));
    const __m256i achromatic = _mm256_cmpeq_epi32(k, _mm256_setzero_si256());
    packed = _mm256_blendv_epi8(packed, level, achromatic);
    if (deep) {
      int32_t lanes[8];
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), packed);
      auto* w = reinterpret_cast<uint16_t*>(target);
      for (int i = 0; i < 8; ++i, w += words) {
        int b = (lanes[i] & 0xFF) << 8, g = (lanes[i] >> 8 & 0xFF) << 8, r = (lanes[i] >> 16 & 0xFF) << 8;
        if (p.post16 != nullptr) b = p.post16[b], g = p.post16[g], r = p.post16[r];
        w[0] = static_cast<uint16_t>(b);
        w[1] = static_cast<uint16_t>(g);
        w[2] = static_cast<uint16_t>(r);
        if (words == 4) w[3] = 0;
      }
    } else if (bytesPerPixel == 4) {
      const __m256i keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(target),
                          _mm256_or_si256(_mm256_and_si256(raw, keep), _mm256_andnot_si256(keep, packed)));
    } else {
      // Drop the fourth byte of every lane: 12 bytes per 128-bit half.
      const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5,
                                               6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
      const __m256i tight = _mm256_shuffle_epi8(packed, squeeze);
      const __m128i lo = _mm256_castsi256_si128(tight);
      const __m128i hi = _mm256_extracti128_si256(tight, 1);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(target), lo);
      const int loTail = _mm_extract_epi32(lo, 2);
      std::memcpy(target + 8, &loTail, 4);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(target + 12), hi);
      const int hiTail = _mm_extract_epi32(hi, 2);
      std::memcpy(target + 20, &hiTail, 4);
    }
  }
  return x;
}

void HueSat(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool* pool) {
  const int shiftRem = p.shift % 255;
  const int shiftSectors = p.shift / 255;
  ForRows(pool, src.height, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int done = HueSatSpan8(dst.Row(y), src.Row(y), src.width, src.bytesPerPixel, p);
      // The per-value table on the vector part, while the row is still in the cache.
      if (p.post8 != nullptr && !src.Deep()) {
        LutBytes(dst.Row(y), dst.Row(y), done * dst.bytesPerPixel, p.post8, dst.bytesPerPixel == 4);
      }
      HueSatRowScalar(dst.Row(y), src.Row(y), done, src.width, dst.bytesPerPixel, src.bytesPerPixel, src.Deep(),
                      p, shiftRem, shiftSectors);
    }
  });
}

// Rows r0 .. r1 - 1: interior rows two at a time, everything else as in the generic driver.
template <typename T>
void DemosaicRowsPaired(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  const int w = src.width;
  const int h = src.height;
  const int rowFlag = PhaseRowFlag(p.phase);
  const int colFlag = PhaseColFlag(p.phase);
  const int redLeftAt2 = ((1 + colFlag) & 1) == 0 ? 1 : 0;
  int r = r0;
  while (r < r1) {
    if (dst.bytesPerPixel != 3 * static_cast<int>(sizeof(T)) || w < 5 || r < 2 || r + 1 >= h - 2 || r + 1 >= r1) {
      if constexpr (sizeof(T) == 1) {
        DemosaicRowsGeneric<T>(dst, src, p, r, r + 1, DemosaicSpan8);
      } else {
        DemosaicRowsGeneric<T>(dst, src, p, r, r + 1, DemosaicSpan16);
      }
      ++r;
      continue;
    }
    for (int y = r; y <= r + 1; ++y) {
      for (int c : {0, 1, w - 2, w - 1}) DemosaicPixel<T>(dst, src, p, y, c);
    }
    const bool redUpper = ((r - 1 + rowFlag) & 1) == 1;
    auto row = [&](int y) { return reinterpret_cast<const T*>(src.Row(y)); };
    int done;
    if constexpr (sizeof(T) == 1) {
      done = DemosaicPairSpan8(dst.Row(r), dst.Row(r + 1), row(r - 2), row(r - 1), row(r), row(r + 1), row(r + 2), w,
                               redUpper, redLeftAt2, p.kRed, p.kBlue);
    } else {
      done = DemosaicPairSpan16(dst.Row(r), dst.Row(r + 1), row(r - 2), row(r - 1), row(r), row(r + 1), row(r + 2),
                                w, redUpper, redLeftAt2, p.kRed, p.kBlue);
    }
    for (int y = r; y <= r + 1; ++y) {
      const bool upper = ((y - 1 + rowFlag) & 1) == 1;
      DemosaicSpan<T>(reinterpret_cast<T*>(dst.Row(y)), 3, row(upper ? y - 1 : y), row(upper ? y + 1 : y - 2),
                      row(upper ? y : y - 1), row(upper ? y - 2 : y + 1), done, w - 2, redLeftAt2 ^ ((done - 2) & 1),
                      p.kRed, p.kBlue);
    }
    r += 2;
  }
}

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool) {
  ForRows(pool, src.height, [&](int r0, int r1) {
    if (src.bytesPerPixel == 1) {
      DemosaicRowsPaired<uint8_t>(dst, src, p, r0, r1);
    } else {
      DemosaicRowsPaired<uint16_t>(dst, src, p, r0, r1);
    }
  });
}

}  // namespace

const KernelTable* Avx2Kernels() {
  static const KernelTable table{"avx2", Demosaic, GrayGainGeneric, HueSat, Lut, SharpenGeneric, LuminanceGeneric};
  // cpu_init first: the answer may be asked for before libgcc's own constructor has run.
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return supported ? &table : nullptr;
}

}  // namespace orvane::image

#else

namespace orvane::image {
const KernelTable* Avx2Kernels() { return nullptr; }
}  // namespace orvane::image

#endif
