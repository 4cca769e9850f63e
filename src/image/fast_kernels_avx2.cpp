// AVX2 fast paths: the demosaic by hand (two rows of 32 pixels of 8-bit or 16 pixels of 16-bit data per
// step; single rows 16 or 8 pixels per step), everything else from fast_kernels_impl.h vectorised by the
// compiler for AVX2. Only called after __builtin_cpu_supports("avx2") said yes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

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

// Two interior rows r and r + 1 at once, on the column-parity planes of the mosaic. A vector load of a row
// at column c holds, in each lane (16-bit lanes for 8-bit samples, 32-bit lanes for 16-bit samples), the
// pair of samples at columns c + 2j (low half) and c + 2j + 1 (high half): a mask and a shift split it into
// the even and odd columns without any shuffle. The block start c is chosen so that the colour of rows
// r - 1 and r + 1 (called X; the colour of rows r - 2, r, r + 2 is Y) sits in the odd columns. Then, with
// V the vertical 3:1 sums of a colour, the even and odd output columns of a block share their inputs:
//   X even = 3 V(odd j - 1) + V(odd j),  X odd = 3 V(odd j) + V(odd j - 1),
//   Y even = 3 V(even j) + V(even j - 1), Y odd = 3 V(even j) + V(even j + 1),
//   green even = (x row even j + y row odd j - 1) >> 1, green odd = (x row even j + y row odd j) >> 1,
// where the x row (r - 1 for output row r, r + 1 for row r + 1) and the y row (r) are the cell's rows. The
// weighted sums are those of the scalar code regrouped (9 a + 3 b + 3 c + d = 3 (3 a + c) + (3 b + d)).
// The even and odd results are packed with saturation, put back into column order and interleaved into
// blue, green, red by one byte shuffle per channel and two blends per 16-byte part.

// Lane arithmetic for 8-bit samples: 32 columns per block in 16-bit lanes. Sums stay below 4096 and a gain
// factor k of at most 512 gives (sum × k) >> 11 as mulhi(sum, 32 k); packus saturates at 255 exactly where
// sum × k reaches 0x80000.
struct Lanes8 {
  using Sample = uint8_t;
  static constexpr int kBlock = 32;
  static constexpr int kElementBytes = 1;
  static __m256i Even(__m256i w) { return _mm256_and_si256(w, _mm256_set1_epi16(0xFF)); }
  static __m256i Odd(__m256i w) { return _mm256_srli_epi16(w, 8); }
  static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
  static __m256i Half(__m256i a) { return _mm256_srli_epi16(a, 1); }
  static __m256i Factor(int k) { return _mm256_set1_epi16(static_cast<int16_t>(k * 32)); }
  static __m256i Scale(__m256i sum, __m256i factor) { return _mm256_mulhi_epu16(sum, factor); }
  static __m256i Pack(__m256i even, __m256i odd) { return _mm256_packus_epi16(even, odd); }
};

// 16-bit samples: 16 columns per block in 32-bit lanes; sum × k < 2^30, and packus_epi32 saturates the
// shifted product at 65535 exactly where it reaches 0x8000000.
struct Lanes16 {
  using Sample = uint16_t;
  static constexpr int kBlock = 16;
  static constexpr int kElementBytes = 2;
  static __m256i Even(__m256i w) { return _mm256_and_si256(w, _mm256_set1_epi32(0xFFFF)); }
  static __m256i Odd(__m256i w) { return _mm256_srli_epi32(w, 16); }
  static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
  static __m256i Half(__m256i a) { return _mm256_srli_epi32(a, 1); }
  static __m256i Factor(int k) { return _mm256_set1_epi32(k); }
  static __m256i Scale(__m256i sum, __m256i factor) { return _mm256_srli_epi32(_mm256_mullo_epi32(sum, factor), 11); }
  static __m256i Pack(__m256i even, __m256i odd) { return _mm256_packus_epi32(even, odd); }
};

// Shuffle and blend masks that turn the packed even/odd halves of three channels into interleaved blue,
// green, red. Per 128-bit lane the packed vector holds the even columns' elements, then the odd columns'.
// Shuffle `ch` moves each element of channel ch to a position that it takes in one of the lane's three
// 16-byte output parts (each position of a part belongs to exactly one channel, and each element of a
// channel lands in exactly one part); blends then pick, for part P, the channel of every byte.
struct PlanarToPacked {
  alignas(32) uint8_t shuffle[3][32];
  alignas(32) uint8_t blend[3][2][32];  // [part][0: take channel 1, 1: take channel 2]
  constexpr explicit PlanarToPacked(int elementBytes) : shuffle(), blend() {
    const int perLane = 16 / elementBytes;  // elements in a 16-byte part
    for (int ch = 0; ch < 3; ++ch) {
      for (int t = 0; t < perLane; ++t) {
        int part = 0;
        while ((perLane * part + t) % 3 != ch) ++part;
        const int pixel = (perLane * part + t) / 3;
        const int packed = (pixel & 1) == 0 ? pixel / 2 : perLane / 2 + pixel / 2;
        for (int b = 0; b < elementBytes; ++b) {
          const uint8_t source = static_cast<uint8_t>(packed * elementBytes + b);
          shuffle[ch][t * elementBytes + b] = source;
          shuffle[ch][16 + t * elementBytes + b] = source;
        }
      }
    }
    for (int part = 0; part < 3; ++part) {
      for (int t = 0; t < perLane; ++t) {
        const int ch = (perLane * part + t) % 3;
        for (int b = 0; b < elementBytes; ++b) {
          for (int half = 0; half < 2; ++half) {
            blend[part][0][16 * half + t * elementBytes + b] = ch == 1 ? 0x80 : 0;
            blend[part][1][16 * half + t * elementBytes + b] = ch == 2 ? 0x80 : 0;
          }
        }
      }
    }
  }
};
constexpr PlanarToPacked kPlanar8(1);
constexpr PlanarToPacked kPlanar16(2);

inline __m256i LoadMask(const uint8_t* m) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(m)); }

// Stores 96 bytes: the three packed channels (even/odd halves) of one block as blue, green, red.
ORVANE_ALWAYS_INLINE void StorePacked(uint8_t* out, __m256i c0, __m256i c1, __m256i c2, const PlanarToPacked& m) {
  const __m256i s0 = _mm256_shuffle_epi8(c0, LoadMask(m.shuffle[0]));
  const __m256i s1 = _mm256_shuffle_epi8(c1, LoadMask(m.shuffle[1]));
  const __m256i s2 = _mm256_shuffle_epi8(c2, LoadMask(m.shuffle[2]));
  __m256i part[3];
  for (int p = 0; p < 3; ++p) {
    part[p] = _mm256_blendv_epi8(_mm256_blendv_epi8(s0, s1, LoadMask(m.blend[p][0])), s2, LoadMask(m.blend[p][1]));
  }
  // Lane 0 of the parts holds output bytes 0..47, lane 1 bytes 48..95.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(part[0], part[1], 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(part[2], part[0], 0x30));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_permute2x128_si256(part[1], part[2], 0x31));
}

// Columns c0, c0 + kBlock, ... of output rows r (out0) and r + 1 (out1) from source rows r - 2 .. r + 2
// (rows outside the image already replaced by the border rule); returns the first column not done. The
// colour of rows r ± 1 must sit in the odd columns counted from c0 (c0 >= 2); `kXIsRed`: that colour is
// red (else blue). Reads columns c0 - 2 .. c0 + kBlock + 1 of each block, all inside the row as long as
// the block's last output column is at most width - 3.
template <typename L, bool kXIsRed>
int DemosaicPairPlanes(uint8_t* out0, uint8_t* out1, const typename L::Sample* ym2, const typename L::Sample* xm1,
                       const typename L::Sample* y0, const typename L::Sample* xp1, const typename L::Sample* yp2,
                       int width, int c0, int kRed, int kBlue) {
  using S = typename L::Sample;
  const PlanarToPacked& masks = L::kElementBytes == 1 ? kPlanar8 : kPlanar16;
  const __m256i kX = L::Factor(kXIsRed ? kRed : kBlue);
  const __m256i kY = L::Factor(kXIsRed ? kBlue : kRed);
  auto load = [](const S* row, int c) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + c)); };
  auto triple = [](__m256i v) { return L::Add(L::Add(v, v), v); };
  constexpr int kOutBytes = 3 * L::kElementBytes;
  auto block = [&](int c) ORVANE_ALWAYS_INLINE_LAMBDA {
    // X rows: even j, odd j, odd j - 1.
    const __m256i xmW = load(xm1, c), xmWm = load(xm1, c - 2);
    const __m256i xpW = load(xp1, c), xpWm = load(xp1, c - 2);
    const __m256i xmE = L::Even(xmW), xmO = L::Odd(xmW), xmOm = L::Odd(xmWm);
    const __m256i xpE = L::Even(xpW), xpO = L::Odd(xpW), xpOm = L::Odd(xpWm);
    // Y rows: even j - 1, j, j + 1; the middle row also odd j - 1 and j (green).
    const __m256i yW = load(y0, c), yWm = load(y0, c - 2), yWp = load(y0, c + 2);
    const __m256i yE = L::Even(yW), yEm = L::Even(yWm), yEp = L::Even(yWp), yO = L::Odd(yW), yOm = L::Odd(yWm);
    const __m256i aE = L::Even(load(ym2, c)), aEm = L::Even(load(ym2, c - 2)), aEp = L::Even(load(ym2, c + 2));
    const __m256i bE = L::Even(load(yp2, c)), bEm = L::Even(load(yp2, c - 2)), bEp = L::Even(load(yp2, c + 2));
    // Vertical sums: X for output row r is 3 (r - 1) + (r + 1), for row r + 1 the reverse; Y for row r is
    // 3 r + (r - 2), for row r + 1 3 r + (r + 2).
    const __m256i sO = L::Add(xmO, xpO), sOm = L::Add(xmOm, xpOm);
    const __m256i vxO0 = L::Add(sO, L::Add(xmO, xmO)), vxO1 = L::Add(sO, L::Add(xpO, xpO));
    const __m256i vxOm0 = L::Add(sOm, L::Add(xmOm, xmOm)), vxOm1 = L::Add(sOm, L::Add(xpOm, xpOm));
    const __m256i tE = triple(yE), tEm = triple(yEm), tEp = triple(yEp);
    const __m256i vyE0 = L::Add(tE, aE), vyEm0 = L::Add(tEm, aEm), vyEp0 = L::Add(tEp, aEp);
    const __m256i vyE1 = L::Add(tE, bE), vyEm1 = L::Add(tEm, bEm), vyEp1 = L::Add(tEp, bEp);
    auto finish = [&](uint8_t* out, __m256i vxOm, __m256i vxO, __m256i vyEm, __m256i vyE, __m256i vyEp,
                      __m256i xE) ORVANE_ALWAYS_INLINE_LAMBDA {
      const __m256i sx = L::Add(vxOm, vxO);
      const __m256i xEven = L::Scale(L::Add(sx, L::Add(vxOm, vxOm)), kX);
      const __m256i xOdd = L::Scale(L::Add(sx, L::Add(vxO, vxO)), kX);
      const __m256i ty = triple(vyE);
      const __m256i yEven = L::Scale(L::Add(ty, vyEm), kY);
      const __m256i yOdd = L::Scale(L::Add(ty, vyEp), kY);
      const __m256i gEven = L::Half(L::Add(xE, yOm));
      const __m256i gOdd = L::Half(L::Add(xE, yO));
      const __m256i x = L::Pack(xEven, xOdd);
      const __m256i y = L::Pack(yEven, yOdd);
      const __m256i g = L::Pack(gEven, gOdd);
      if constexpr (kXIsRed) {
        StorePacked(out, y, g, x, masks);
      } else {
        StorePacked(out, x, g, y, masks);
      }
    };
    finish(out0 + static_cast<ptrdiff_t>(c) * kOutBytes, vxOm0, vxO0, vyEm0, vyE0, vyEp0, xmE);
    finish(out1 + static_cast<ptrdiff_t>(c) * kOutBytes, vxOm1, vxO1, vyEm1, vyE1, vyEp1, xpE);
  };
  int c = c0;
  for (; c + L::kBlock + 2 <= width; c += L::kBlock) block(c);
  // The columns left over: one more block ending at width - 3 (or width - 4, to keep the parity of c0),
  // overlapping the last one; it writes the same values again.
  int last = width - 2 - L::kBlock;
  last -= (last - c0) & 1;
  if (c < width - 2 && last >= c0) {
    block(last);
    c = last + L::kBlock;
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

// A 256-entry byte table as sixteen 16-entry pshufb tables (each broadcast to both lanes).
struct ByteTable {
  __m256i part[16];
  explicit ByteTable(const uint8_t* lut) {
    for (int j = 0; j < 16; ++j) {
      part[j] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lut + 16 * j)));
    }
  }
  // 32 look-ups: every part looked up by the low nibble, then a tree of blends picks the part by the bits
  // 4..7 of each byte (a 16-bit shift brings bit b of every byte to its bit 7, which blendv reads).
  ORVANE_ALWAYS_INLINE __m256i Lookup(__m256i x) const {
    const __m256i low = _mm256_and_si256(x, _mm256_set1_epi8(0x0F));
    __m256i level[8];
    const __m256i bit4 = _mm256_slli_epi16(x, 3);
    for (int j = 0; j < 8; ++j) {
      level[j] = _mm256_blendv_epi8(_mm256_shuffle_epi8(part[2 * j], low), _mm256_shuffle_epi8(part[2 * j + 1], low),
                                    bit4);
    }
    const __m256i bit5 = _mm256_slli_epi16(x, 2);
    for (int j = 0; j < 4; ++j) level[j] = _mm256_blendv_epi8(level[2 * j], level[2 * j + 1], bit5);
    const __m256i bit6 = _mm256_slli_epi16(x, 1);
    for (int j = 0; j < 2; ++j) level[j] = _mm256_blendv_epi8(level[2 * j], level[2 * j + 1], bit6);
    return _mm256_blendv_epi8(level[0], level[1], x);
  }
};

// A 256-entry byte table applied to n bytes, 32 per step. With `keepFourth` every fourth byte (the fourth
// channel of 32-bit pixels) keeps its input value.
void LutBytes(uint8_t* out, const uint8_t* in, int n, const uint8_t* lut, bool keepFourth) {
  const ByteTable table(lut);
  const __m256i fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    __m256i r = table.Lookup(x);
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

// Hue and saturation of 8 pixels per step, in 32-bit lanes, for 32-, 48- and 64-bit pixels (24-bit
// pixels take HueSatSpan24; the arithmetic is at 8 bits per channel at every depth). Returns the pixels
// done; the caller finishes the row with the scalar code. The saturation table is computed, not looked up.
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

// Byte shuffles between 24-bit pixels and 16-bit channel lanes. A block of 16 pixels (48 bytes) is read
// as two vectors: `first` holds bytes 0..15 and 24..39, `second` bytes 8..23 and 32..47, so each 128-bit
// lane sees the 24 bytes of its 8 pixels. Gather masks put channel ch of pixel i into 16-bit lane i;
// scatter masks build the lane's 24 output bytes (16 + 8) from the packed blue/green and red bytes.
struct Pixel24Masks {
  alignas(32) uint8_t gatherFirst[3][32];
  alignas(32) uint8_t gatherSecond[3][32];
  alignas(32) uint8_t scatter[2][2][32];  // [output bytes 0..15 / 16..23][from blue-green / from red]
  constexpr Pixel24Masks() : gatherFirst(), gatherSecond(), scatter() {
    for (int half = 0; half < 2; ++half) {
      for (int ch = 0; ch < 3; ++ch) {
        for (int i = 0; i < 8; ++i) {
          const int t = 3 * i + ch;
          gatherFirst[ch][16 * half + 2 * i] = static_cast<uint8_t>(t <= 15 ? t : 0x80);
          gatherSecond[ch][16 * half + 2 * i] = static_cast<uint8_t>(t > 15 ? t - 8 : 0x80);
          gatherFirst[ch][16 * half + 2 * i + 1] = 0x80;
          gatherSecond[ch][16 * half + 2 * i + 1] = 0x80;
        }
      }
      // Packed blue-green: bytes 0..7 blue of pixels 0..7, 8..15 green; packed red: bytes 0..7.
      for (int part = 0; part < 2; ++part) {
        for (int b = 0; b < 16; ++b) {
          const int t = 16 * part + b;
          const int i = t / 3;
          const int ch = t % 3;
          const bool valid = t < 24;
          scatter[part][0][16 * half + b] = static_cast<uint8_t>(valid && ch < 2 ? 8 * ch + i : 0x80);
          scatter[part][1][16 * half + b] = static_cast<uint8_t>(valid && ch == 2 ? i : 0x80);
        }
      }
    }
  }
};
constexpr Pixel24Masks kPixel24;

// Hue and saturation of 24-bit pixels, 16 per step in 16-bit lanes, with the optional per-value table on
// the result. The arithmetic of the reference regrouped for lanes:
//  - S[K] = (K m + 128) >> 8 with m = saturation + 256 (the table's (f K + 0x8000) >> 16, f = 256 m); for
//    m > 256 as K + ((K (m - 256) + 128) >> 8), so that every product fits 16 bits;
//  - the reciprocal 0xFF0000 / K is the truncated single-precision quotient, which is exact for K = 1..255
//    (the quotient is below 2^24 / K, so its distance 1 / K from the next integer exceeds half a unit in
//    the last place), and the position is taken in 32-bit lanes;
//  - each channel of the result is one of n, n + A, n + ramp, n + A - ramp, chosen by the sector index
//    (the packed sum of the reference has no carry between channels: ramp <= A and n + A <= 255).
//    For K = 0, A is 0 and all four are n, the gray of the reference.
// Returns the pixels done; `post` (with kPost) is the table.
template <bool kPost>
int HueSatSpan24(uint8_t* dst, const uint8_t* src, int count, const HueSatParams& p, const ByteTable* post) {
  const int m = p.saturationFactor >> 8;
  if ((p.saturationFactor & 0xFF) != 0 || m < 0 || m > 511 || p.shift < 0 || p.shift > 1529) return 0;
  const __m256i satMul = _mm256_set1_epi16(static_cast<int16_t>(m > 256 ? m - 256 : m));
  const __m256i satAddK = _mm256_set1_epi16(static_cast<int16_t>(m > 256 ? -1 : 0));
  const __m256i rem = _mm256_set1_epi16(static_cast<int16_t>(p.shift % 255));
  const __m256i sectors = _mm256_set1_epi16(static_cast<int16_t>(p.shift / 255));
  const __m256i c128 = _mm256_set1_epi16(128);
  const __m256i c254 = _mm256_set1_epi16(254);
  const __m256i c255 = _mm256_set1_epi16(255);
  const __m256i c511 = _mm256_set1_epi16(511);
  const __m256i five = _mm256_set1_epi16(5);
  const __m256i six = _mm256_set1_epi16(6);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i round16 = _mm256_set1_epi32(0x8000);
  const __m256i one = _mm256_set1_epi16(1);
  const __m256 dividend = _mm256_set1_ps(16711680.0f);
  auto mask = [](const uint8_t* m32) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(m32)); };
  struct Channels {
    __m256i b, g, r;
  };
  // Sixteen pixels at `in` to their blue, green, red results in 16-bit lanes (in pixel order per lane).
  auto core = [&](const uint8_t* in) ORVANE_ALWAYS_INLINE_LAMBDA {
    const __m256i first = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(in + 24),
                                              reinterpret_cast<const __m128i*>(in));
    const __m256i second = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(in + 32),
                                               reinterpret_cast<const __m128i*>(in + 8));
    auto channel = [&](int ch) {
      return _mm256_or_si256(_mm256_shuffle_epi8(first, mask(kPixel24.gatherFirst[ch])),
                             _mm256_shuffle_epi8(second, mask(kPixel24.gatherSecond[ch])));
    };
    const __m256i b = channel(0), g = channel(1), r = channel(2);
    const __m256i mx = _mm256_max_epi16(_mm256_max_epi16(r, g), b);
    const __m256i mn = _mm256_min_epi16(_mm256_min_epi16(r, g), b);
    const __m256i l = _mm256_add_epi16(mx, mn);
    const __m256i k = _mm256_sub_epi16(mx, mn);
    const __m256i lmax = _mm256_min_epi16(l, _mm256_sub_epi16(c511, l));
    const __m256i sat = _mm256_add_epi16(
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(k, satMul), c128), 8), _mm256_and_si256(k, satAddK));
    const __m256i k2 = _mm256_min_epi16(sat, lmax);
    const __m256i n = _mm256_srli_epi16(_mm256_sub_epi16(l, k2), 1);
    const __m256i a = _mm256_sub_epi16(_mm256_srli_epi16(_mm256_add_epi16(l, k2), 1), n);
    // Sector: red largest (r >= g, r >= b) 1; else green largest 3; else blue 5.
    const __m256i isRed = _mm256_cmpeq_epi16(r, mx);
    const __m256i isGreen = _mm256_andnot_si256(isRed, _mm256_cmpeq_epi16(g, mx));
    __m256i numerator = _mm256_blendv_epi8(
        _mm256_blendv_epi8(_mm256_sub_epi16(r, g), _mm256_sub_epi16(b, r), isGreen), _mm256_sub_epi16(g, b), isRed);
    __m256i sector = _mm256_blendv_epi8(_mm256_blendv_epi8(five, _mm256_set1_epi16(3), isGreen),
                                        _mm256_set1_epi16(1), isRed);
    const __m256i negative = _mm256_cmpgt_epi16(zero, numerator);
    numerator = _mm256_add_epi16(numerator, _mm256_and_si256(negative, k));
    sector = _mm256_add_epi16(sector, negative);
    // Position (numerator × (0xFF0000 / K) + 0x8000) >> 16 in 32-bit lanes; unpack and pack are both
    // per 128-bit lane, so the lanes come back in order.
    auto positionHalf = [&](__m256i k32, __m256i num32) {
      const __m256i reciprocal = _mm256_cvttps_epi32(_mm256_div_ps(dividend, _mm256_cvtepi32_ps(k32)));
      return _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(num32, reciprocal), round16), 16);
    };
    const __m256i safeK = _mm256_max_epi16(k, one);
    const __m256i position = _mm256_packus_epi32(
        positionHalf(_mm256_unpacklo_epi16(safeK, zero), _mm256_unpacklo_epi16(numerator, zero)),
        positionHalf(_mm256_unpackhi_epi16(safeK, zero), _mm256_unpackhi_epi16(numerator, zero)));
    __m256i shifted = _mm256_add_epi16(position, rem);
    __m256i index = _mm256_add_epi16(sector, sectors);
    const __m256i over = _mm256_cmpgt_epi16(shifted, c254);
    index = _mm256_sub_epi16(index, over);
    shifted = _mm256_sub_epi16(shifted, _mm256_and_si256(over, c255));
    index = _mm256_sub_epi16(index, _mm256_and_si256(_mm256_cmpgt_epi16(index, five), six));
    const __m256i ramp = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, shifted), c128), 8);
    const __m256i hi = _mm256_add_epi16(n, a);
    const __m256i up = _mm256_add_epi16(n, ramp);
    const __m256i down = _mm256_sub_epi16(hi, ramp);
    __m256i is[6];
    for (int i = 0; i < 6; ++i) is[i] = _mm256_cmpeq_epi16(index, _mm256_set1_epi16(static_cast<int16_t>(i)));
    // Index:  0     1   2     3   4     5
    // blue:   down  n   n     up  hi    hi
    // green:  n     up  hi    hi  down  n
    // red:    hi    hi  down  n   n     up
    __m256i ob = _mm256_blendv_epi8(hi, n, _mm256_or_si256(is[1], is[2]));
    ob = _mm256_blendv_epi8(_mm256_blendv_epi8(ob, down, is[0]), up, is[3]);
    __m256i og = _mm256_blendv_epi8(n, hi, _mm256_or_si256(is[2], is[3]));
    og = _mm256_blendv_epi8(_mm256_blendv_epi8(og, up, is[1]), down, is[4]);
    __m256i orr = _mm256_blendv_epi8(n, hi, _mm256_or_si256(is[0], is[1]));
    orr = _mm256_blendv_epi8(_mm256_blendv_epi8(orr, down, is[2]), up, is[5]);
    return Channels{ob, og, orr};
  };
  // Output bytes of sixteen pixels from their packed blue/green and red bytes (red in bytes 8 red .. 8 red
  // + 7 of each lane).
  auto store = [&](uint8_t* out, __m256i blueGreen, __m256i red, int redHalf) ORVANE_ALWAYS_INLINE_LAMBDA {
    if (redHalf == 1) red = _mm256_srli_si256(red, 8);
    auto part = [&](int which) {
      return _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, mask(kPixel24.scatter[which][0])),
                             _mm256_shuffle_epi8(red, mask(kPixel24.scatter[which][1])));
    };
    const __m256i low = part(0);
    const __m256i high = part(1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(low));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(low, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40), _mm256_extracti128_si256(high, 1));
  };
  // Two blocks per step share the look-up of their red bytes.
  int x = 0;
  for (; x + 32 <= count; x += 32) {
    const Channels c0 = core(src + 3 * x);
    const Channels c1 = core(src + 3 * x + 48);
    __m256i bg0 = _mm256_packus_epi16(c0.b, c0.g);
    __m256i bg1 = _mm256_packus_epi16(c1.b, c1.g);
    __m256i red = _mm256_packus_epi16(c0.r, c1.r);
    if constexpr (kPost) {
      bg0 = post->Lookup(bg0);
      bg1 = post->Lookup(bg1);
      red = post->Lookup(red);
    }
    store(dst + 3 * x, bg0, red, 0);
    store(dst + 3 * x + 48, bg1, red, 1);
  }
  for (; x + 16 <= count; x += 16) {
    const Channels c = core(src + 3 * x);
    __m256i bg = _mm256_packus_epi16(c.b, c.g);
    __m256i red = _mm256_packus_epi16(c.r, c.r);
    if constexpr (kPost) {
      bg = post->Lookup(bg);
      red = post->Lookup(red);
    }
    store(dst + 3 * x, bg, red, 0);
  }
  return x;
}

// Hue and saturation of 48- and 64-bit pixels through the 24-bit lanes: the arithmetic takes the high
// byte of each channel and gives the result's high byte (the low byte 0), so a chunk of a row is packed
// to 24-bit pixels of those bytes, converted in place, and widened: the result byte b becomes b << 8,
// or the per-value table's entry for b << 8 (`widen`; with 48-bit pixels looked up 32 at a time through
// the tables of its low and high bytes). Returns the pixels done.
struct DeepWiden {
  uint16_t word[256];
  bool table = false;
  std::optional<ByteTable> low, high;
  explicit DeepWiden(const uint16_t* post16) {
    uint8_t lowBytes[256], highBytes[256];
    for (int b = 0; b < 256; ++b) {
      word[b] = post16 != nullptr ? post16[b << 8] : static_cast<uint16_t>(b << 8);
      lowBytes[b] = static_cast<uint8_t>(word[b]);
      highBytes[b] = static_cast<uint8_t>(word[b] >> 8);
    }
    table = post16 != nullptr;
    if (table) low.emplace(lowBytes), high.emplace(highBytes);
  }
  // n contiguous channel values (48-bit pixels), n at most 3 × 256.
  void Contiguous(uint16_t* out, const uint8_t* in, int n) const {
    int j = 0;
    if (table) {
      // The low bytes first, then the high ones with the interleave: one table's parts in registers at a time.
      alignas(32) uint8_t lowOut[3 * 256];
      const int whole = std::min(n, 3 * 256) & ~31;
      for (int k = 0; k < whole; k += 32) {
        const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(in + k));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lowOut + k), low->Lookup(x));
      }
      for (; j < whole; j += 32) {
        const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(in + j));
        const __m256i lo = _mm256_load_si256(reinterpret_cast<const __m256i*>(lowOut + j));
        const __m256i hi = high->Lookup(x);
        const __m256i a = _mm256_unpacklo_epi8(lo, hi);  // values 0..7, 16..23
        const __m256i b = _mm256_unpackhi_epi8(lo, hi);  // values 8..15, 24..31
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_permute2x128_si256(a, b, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j + 16), _mm256_permute2x128_si256(a, b, 0x31));
      }
      for (; j < n; ++j) out[j] = word[in[j]];
    } else {
      for (; j < n; ++j) out[j] = static_cast<uint16_t>(in[j] << 8);
    }
  }
};

int HueSatSpanDeep(uint8_t* dst, const uint8_t* src, int count, int bytesPerPixel, const HueSatParams& p,
                   const DeepWiden& widen) {
  constexpr int kChunk = 256;
  alignas(32) uint8_t packed[3 * kChunk];
  const int words = bytesPerPixel / 2;
  int done = 0;
  while (done < count) {
    const int n = std::min(kChunk, count - done);
    const uint16_t* in = reinterpret_cast<const uint16_t*>(src) + static_cast<ptrdiff_t>(done) * words;
    if (words == 3) {
      for (int j = 0; j < 3 * n; ++j) packed[j] = static_cast<uint8_t>(in[j] >> 8);
    } else {
      for (int i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) packed[3 * i + c] = static_cast<uint8_t>(in[4 * i + c] >> 8);
      }
    }
    const int converted = HueSatSpan24<false>(packed, packed, n, p, nullptr);
    uint16_t* out = reinterpret_cast<uint16_t*>(dst) + static_cast<ptrdiff_t>(done) * words;
    if (words == 3) {
      widen.Contiguous(out, packed, 3 * converted);
    } else {
      for (int i = 0; i < converted; ++i) {
        for (int c = 0; c < 3; ++c) out[4 * i + c] = widen.word[packed[3 * i + c]];
        out[4 * i + 3] = 0;
      }
    }
    done += converted;
    if (converted < n) break;
  }
  return done;
}

void HueSat(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool* pool) {
  const int shiftRem = p.shift % 255;
  const int shiftSectors = p.shift / 255;
  if (src.Deep()) {
    ForRows(pool, src.height, [&](int y0, int y1) {
      const DeepWiden widen(p.post16);
      for (int y = y0; y < y1; ++y) {
        const int done = HueSatSpanDeep(dst.Row(y), src.Row(y), src.width, src.bytesPerPixel, p, widen);
        HueSatRowScalar(dst.Row(y), src.Row(y), done, src.width, dst.bytesPerPixel, src.bytesPerPixel, true, p,
                        shiftRem, shiftSectors);
      }
    });
    return;
  }
  ForRows(pool, src.height, [&](int y0, int y1) {
    if (src.bytesPerPixel == 3 && dst.bytesPerPixel == 3) {
      // The per-value table after the hue kernel, over the row while it is in the cache: inside the
      // kernel its sixteen parts would not stay in registers beside the kernel's own constants.
      for (int y = y0; y < y1; ++y) {
        const int done = HueSatSpan24<false>(dst.Row(y), src.Row(y), src.width, p, nullptr);
        if (p.post8 != nullptr) LutBytes(dst.Row(y), dst.Row(y), 3 * done, p.post8, false);
        HueSatRowScalar(dst.Row(y), src.Row(y), done, src.width, 3, 3, false, p, shiftRem, shiftSectors);
      }
      return;
    }
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

// The brightness factor for 8-bit values in fixed point: v × f as v × whole + mulhi(v, fraction), used
// only when that gives the reference's (int)(v × f) in single precision, limited to 255, for every v.
struct Gain8 {
  bool exact = false;
  int whole = 0;
  int fraction = 0;
};

Gain8 FixedGain8(float gain) {
  Gain8 g;
  if (!(gain >= 0.0f && gain < 255.0f)) return g;
  g.whole = static_cast<int>(gain);
  const int base = static_cast<int>((gain - static_cast<float>(g.whole)) * 65536.0f);
  for (int candidate = std::max(base - 2, 0); candidate <= std::min(base + 2, 65535); ++candidate) {
    bool same = true;
    for (int v = 0; v <= 255 && same; ++v) {
      const int want = std::clamp(static_cast<int>(static_cast<float>(v) * gain), 0, 255);
      same = want == std::min(v * g.whole + ((v * candidate) >> 16), 255);
    }
    if (same) {
      g.exact = true;
      g.fraction = candidate;
      return g;
    }
  }
  return g;
}

struct GainLanes {
  __m256i whole;
  __m256i fraction;
  explicit GainLanes(const Gain8& g)
      : whole(_mm256_set1_epi16(static_cast<int16_t>(g.whole))),
        fraction(_mm256_set1_epi16(static_cast<int16_t>(g.fraction))) {}
  // v: 16-bit lanes holding 0..255.
  ORVANE_ALWAYS_INLINE __m256i Apply(__m256i v) const {
    const __m256i scaled = _mm256_add_epi16(_mm256_mullo_epi16(v, whole), _mm256_mulhi_epu16(v, fraction));
    return _mm256_min_epu16(scaled, _mm256_set1_epi16(255));
  }
};

// Two vectors of 16-bit lanes (0..255, in order) to 32 bytes in order.
ORVANE_ALWAYS_INLINE __m256i PackInOrder(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}
ORVANE_ALWAYS_INLINE __m256i LoadWiden(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// n bytes through the fixed-point gain, src into dst (may be the same).
void GainBytes8(uint8_t* dst, const uint8_t* src, int n, const Gain8& g) {
  const GainLanes lanes(g);
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i r = PackInOrder(lanes.Apply(LoadWiden(src + i)), lanes.Apply(LoadWiden(src + i + 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r);
  }
  for (; i < n; ++i) dst[i] = static_cast<uint8_t>(std::min(src[i] * g.whole + ((src[i] * g.fraction) >> 16), 255));
}

// The unsharp mask of one interior row of 8-bit samples with `step` samples per pixel (1 or 3), sample
// indices begin .. end - 1 of the row, rows r0..r3 = y - 2 .. y + 1 (r2 the row itself), in chunks: the
// vertical sums of the four rows go into `vertical` (16-bit), then each output adds four of them, `step`
// apart. (sharpness × (o - blur)) / 10 truncates toward zero as mulhi(d, 26215) >> 2, plus one for a
// negative d (exact for |d| <= 7650). The optional gain is applied to the limited value.
template <bool kGain>
void SharpenSpan8(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3,
                  int begin, int end, int step, int sharpness, const Gain8& gain) {
  constexpr int kChunk = 2048;
  alignas(32) uint16_t vertical[kChunk + 16];
  const __m256i sharp = _mm256_set1_epi16(static_cast<int16_t>(sharpness));
  const __m256i magic = _mm256_set1_epi16(26215);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i max = _mm256_set1_epi16(255);
  const GainLanes lanes(gain);
  auto scalar = [&](int i, const uint16_t* v) {
    const int blur = (v[0] + v[step] + v[2 * step] + v[3 * step]) >> 4;
    const int o = r2[i];
    int value = std::clamp(o + (sharpness * (o - blur)) / 10, 0, 255);
    if constexpr (kGain) value = std::min(value * gain.whole + ((value * gain.fraction) >> 16), 255);
    out[i] = static_cast<uint8_t>(value);
  };
  auto sixteen = [&](int i, const uint16_t* v) ORVANE_ALWAYS_INLINE_LAMBDA {
    auto at = [&](int offset) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + offset)); };
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(at(0), at(step)), _mm256_add_epi16(at(2 * step), at(3 * step)));
    const __m256i o = LoadWiden(r2 + i);
    const __m256i d = _mm256_mullo_epi16(_mm256_sub_epi16(o, _mm256_srli_epi16(sum, 4)), sharp);
    const __m256i q = _mm256_sub_epi16(_mm256_srai_epi16(_mm256_mulhi_epi16(d, magic), 2), _mm256_srai_epi16(d, 15));
    __m256i value = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(o, q), zero), max);
    if constexpr (kGain) value = lanes.Apply(value);
    return value;
  };
  for (int c0 = begin; c0 < end; c0 += kChunk) {
    const int c1 = std::min(c0 + kChunk, end);
    // vertical[j] is the sum at sample c0 - 2 step + j, for j < c1 - c0 + 3 step.
    const int lo = c0 - 2 * step;
    const int count = c1 - c0 + 3 * step;
    int j = 0;
    for (; j + 16 <= count; j += 16) {
      const int i = lo + j;
      const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(LoadWiden(r0 + i), LoadWiden(r1 + i)),
                                           _mm256_add_epi16(LoadWiden(r2 + i), LoadWiden(r3 + i)));
      _mm256_store_si256(reinterpret_cast<__m256i*>(vertical + j), sum);
    }
    for (; j < count; ++j) {
      const int i = lo + j;
      vertical[j] = static_cast<uint16_t>(r0[i] + r1[i] + r2[i] + r3[i]);
    }
    int i = c0;
    for (; i + 32 <= c1; i += 32) {
      const __m256i a = sixteen(i, vertical + (i - c0));
      const __m256i b = sixteen(i + 16, vertical + (i + 16 - c0));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), PackInOrder(a, b));
    }
    for (; i < c1; ++i) scalar(i, vertical + (i - c0));
  }
}

// The unsharp mask of 16-bit samples as SharpenSpan8, in 32-bit lanes, 16 samples per step: the vertical
// sums (below 2^18) go into `vertical`; d = sharpness × (o - blur) stays below 2^21 in magnitude and is
// divided by 10 by the compilers' multiply-high sequence for 32-bit integers. The optional gain is the
// reference's single-precision product.
template <bool kGain>
void SharpenSpan16(uint16_t* out, const uint16_t* r0, const uint16_t* r1, const uint16_t* r2, const uint16_t* r3,
                   int begin, int end, int step, int sharpness, float gain) {
  constexpr int kChunk = 2048;
  alignas(32) int32_t vertical[kChunk + 16];
  const __m256i sharp = _mm256_set1_epi32(sharpness);
  const __m256i magic = _mm256_set1_epi32(0x66666667);
  const __m256 gains = _mm256_set1_ps(gain);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i max = _mm256_set1_epi32(65535);
  auto scalar = [&](int i, const int32_t* v) {
    const int blur = (v[0] + v[step] + v[2 * step] + v[3 * step]) >> 4;
    const int o = r2[i];
    int value = std::clamp(o + (sharpness * (o - blur)) / 10, 0, 65535);
    if constexpr (kGain) value = std::clamp(static_cast<int>(static_cast<float>(value) * gain), 0, 65535);
    out[i] = static_cast<uint16_t>(value);
  };
  auto eight = [&](int i, const int32_t* v) ORVANE_ALWAYS_INLINE_LAMBDA {
    auto at = [&](int offset) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + offset)); };
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(at(0), at(step)), _mm256_add_epi32(at(2 * step), at(3 * step)));
    const __m256i o = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r2 + i)));
    const __m256i d = _mm256_mullo_epi32(_mm256_sub_epi32(o, _mm256_srli_epi32(sum, 4)), sharp);
    // d / 10 truncated: the high half of d × 0x66666667 shifted by 2, plus one for a negative d.
    const __m256i even = _mm256_mul_epi32(d, magic);
    const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(d, 32), magic);
    const __m256i high = _mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0xAA);
    const __m256i q = _mm256_sub_epi32(_mm256_srai_epi32(high, 2), _mm256_srai_epi32(d, 31));
    __m256i value = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(o, q), zero), max);
    if constexpr (kGain) {
      value = _mm256_min_epi32(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(value), gains)), max);
    }
    return value;
  };
  for (int c0 = begin; c0 < end; c0 += kChunk) {
    const int c1 = std::min(c0 + kChunk, end);
    const int lo = c0 - 2 * step;
    const int count = c1 - c0 + 3 * step;
    int j = 0;
    auto widen = [](const uint16_t* p) {
      return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    };
    for (; j + 8 <= count; j += 8) {
      const int i = lo + j;
      const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(widen(r0 + i), widen(r1 + i)),
                                           _mm256_add_epi32(widen(r2 + i), widen(r3 + i)));
      _mm256_store_si256(reinterpret_cast<__m256i*>(vertical + j), sum);
    }
    for (; j < count; ++j) {
      const int i = lo + j;
      vertical[j] = r0[i] + r1[i] + r2[i] + r3[i];
    }
    int i = c0;
    for (; i + 16 <= c1; i += 16) {
      const __m256i a = eight(i, vertical + (i - c0));
      const __m256i b = eight(i + 8, vertical + (i + 8 - c0));
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
    }
    for (; i < c1; ++i) scalar(i, vertical + (i - c0));
  }
}

// The gain over n 16-bit samples, src into dst (may be the same), as the reference: (int)(v × gain).
void GainWords16(uint16_t* dst, const uint16_t* src, int n, float gain) {
  for (int i = 0; i < n; ++i) {
    dst[i] = static_cast<uint16_t>(std::clamp(static_cast<int>(static_cast<float>(src[i]) * gain), 0, 65535));
  }
}

void SharpenRows16(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  const int step = src.bytesPerPixel / 2;
  const int samples = src.width * step;
  const bool interiorExists = src.width >= 5 && src.height >= 5;
  auto row = [&](int y) { return reinterpret_cast<const uint16_t*>(src.Row(y)); };
  for (int y = y0; y < y1; ++y) {
    uint16_t* out = reinterpret_cast<uint16_t*>(dst.Row(y));
    const uint16_t* in = row(y);
    if (!interiorExists || y < 2 || y >= src.height - 2) {
      if (p.applyGain) {
        GainWords16(out, in, samples, p.gain);
      } else {
        std::memcpy(out, in, static_cast<size_t>(samples) * 2);
      }
      continue;
    }
    const int edge = 2 * step;
    if (p.applyGain) {
      GainWords16(out, in, edge, p.gain);
      GainWords16(out + samples - edge, in + samples - edge, edge, p.gain);
      SharpenSpan16<true>(out, row(y - 2), row(y - 1), in, row(y + 1), edge, samples - edge, step, p.sharpness,
                          p.gain);
    } else {
      std::memcpy(out, in, static_cast<size_t>(edge) * 2);
      std::memcpy(out + samples - edge, in + samples - edge, static_cast<size_t>(edge) * 2);
      SharpenSpan16<false>(out, row(y - 2), row(y - 1), in, row(y + 1), edge, samples - edge, step, p.sharpness,
                           p.gain);
    }
  }
}

// Which hand-written sharpness serves a format: 8-bit gray and 24-bit colour (with a gain that has an
// exact fixed-point form), 16-bit gray and 48-bit colour (with a gain of 0 .. 65535); the fourth channel
// of 32- and 64-bit pixels, sharpness outside 0..30 and other gains take the generic code.
enum class SharpenPath { kGeneric, kBytes, kWords };

SharpenPath SharpenByHand(const Plane& src, const SharpenParams& p, Gain8* gain) {
  if (p.sharpness < 0 || p.sharpness > 30) return SharpenPath::kGeneric;
  if (src.bytesPerPixel == 1 || src.bytesPerPixel == 3) {
    *gain = p.applyGain ? FixedGain8(p.gain) : Gain8{};
    return !p.applyGain || gain->exact ? SharpenPath::kBytes : SharpenPath::kGeneric;
  }
  if (src.bytesPerPixel == 2 || src.bytesPerPixel == 6) {
    return !p.applyGain || (p.gain >= 0.0f && p.gain < 65536.0f) ? SharpenPath::kWords : SharpenPath::kGeneric;
  }
  return SharpenPath::kGeneric;
}

void SharpenRows8(const Plane& dst, const Plane& src, const SharpenParams& p, const Gain8& gain, int y0, int y1) {
  const int step = src.bytesPerPixel;
  const int rowBytes = src.width * step;
  const bool interiorExists = src.width >= 5 && src.height >= 5;
  for (int y = y0; y < y1; ++y) {
    uint8_t* out = dst.Row(y);
    const uint8_t* in = src.Row(y);
    if (!interiorExists || y < 2 || y >= src.height - 2) {
      if (p.applyGain) {
        GainBytes8(out, in, rowBytes, gain);
      } else {
        std::memcpy(out, in, static_cast<size_t>(rowBytes));
      }
      continue;
    }
    const int edge = 2 * step;
    if (p.applyGain) {
      GainBytes8(out, in, edge, gain);
      GainBytes8(out + rowBytes - edge, in + rowBytes - edge, edge, gain);
      SharpenSpan8<true>(out, src.Row(y - 2), src.Row(y - 1), in, src.Row(y + 1), edge, rowBytes - edge, step,
                         p.sharpness, gain);
    } else {
      std::memcpy(out, in, static_cast<size_t>(edge));
      std::memcpy(out + rowBytes - edge, in + rowBytes - edge, static_cast<size_t>(edge));
      SharpenSpan8<false>(out, src.Row(y - 2), src.Row(y - 1), in, src.Row(y + 1), edge, rowBytes - edge, step,
                          p.sharpness, gain);
    }
  }
}

void SharpenRows(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  Gain8 gain;
  switch (SharpenByHand(src, p, &gain)) {
    case SharpenPath::kBytes: SharpenRows8(dst, src, p, gain, y0, y1); break;
    case SharpenPath::kWords: SharpenRows16(dst, src, p, y0, y1); break;
    default: SharpenRowsAny(dst, src, p, y0, y1); break;
  }
}

void Sharpen(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool) {
  Gain8 gain;
  const SharpenPath path = SharpenByHand(src, p, &gain);
  if (path == SharpenPath::kGeneric) {
    SharpenGeneric(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int y0, int y1) {
    if (path == SharpenPath::kBytes) {
      SharpenRows8(dst, src, p, gain, y0, y1);
    } else {
      SharpenRows16(dst, src, p, y0, y1);
    }
  });
}

// One output pixel at column c of a row whose four source rows are given (rows outside the image already
// replaced), with columns outside the image replaced by the border rule: the border columns of every row.
template <typename T>
void DemosaicEdgePixel(T* out, const T* a, const T* a2, const T* b, const T* b2, int width, int c, int colFlag,
                       int kRed, int kBlue) {
  constexpr int kMax = sizeof(T) == 1 ? 255 : 65535;
  constexpr int kLimit = (kMax + 1) << 11;
  const bool redLeft = ((c - 1 + colFlag) & 1) == 0;
  const int rc = MapBorderIndex(redLeft ? c - 1 : c, width);
  const int rc2 = MapBorderIndex(redLeft ? c + 1 : c - 2, width);
  const int bc = MapBorderIndex(redLeft ? c : c - 1, width);
  const int bc2 = MapBorderIndex(redLeft ? c - 2 : c + 1, width);
  const int rs = (9 * a[rc] + 3 * a[rc2] + 3 * a2[rc] + a2[rc2]) * kRed;
  const int bs = (9 * b[bc] + 3 * b[bc2] + 3 * b2[bc] + b2[bc2]) * kBlue;
  out += static_cast<ptrdiff_t>(c) * 3;
  out[0] = static_cast<T>(bs >= kLimit ? kMax : bs >> 11);
  out[1] = static_cast<T>((a[bc] + b[rc]) >> 1);
  out[2] = static_cast<T>(rs >= kLimit ? kMax : rs >> 11);
}

// Rows r0 .. r1 - 1, two at a time through the vector code (the top and bottom rows too, with the rows
// outside the image replaced by the border rule, which keeps the colour of a row for images of four rows
// or more); a band's odd last row and small images go through the generic driver.
template <typename T, typename L>
void DemosaicRowsPaired(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  const int w = src.width;
  const int h = src.height;
  const int rowFlag = PhaseRowFlag(p.phase);
  const int colFlag = PhaseColFlag(p.phase);
  const int redLeftAt2 = ((1 + colFlag) & 1) == 0 ? 1 : 0;
  // The vector code keeps sum × k inside its lanes for the factors of gains 0..400 %.
  const bool factorsFit = p.kRed >= 0 && p.kRed <= 512 && p.kBlue >= 0 && p.kBlue <= 512;
  const bool vector = dst.bytesPerPixel == 3 * static_cast<int>(sizeof(T)) && factorsFit && h >= 4 &&
                      w >= L::kBlock + 5;
  auto row = [&](int y) { return reinterpret_cast<const T*>(src.Row(MapBorderIndex(y, h))); };
  int r = r0;
  while (r < r1) {
    if (!vector || r + 1 >= r1) {
      if constexpr (sizeof(T) == 1) {
        DemosaicRowsGeneric<T>(dst, src, p, r, r + 1, DemosaicSpan8);
      } else {
        DemosaicRowsGeneric<T>(dst, src, p, r, r + 1, DemosaicSpan16);
      }
      ++r;
      continue;
    }
    // Rows r - 1 and r + 1 hold red when red lies in the upper row of row r's cells. A column x holds red
    // when x + colFlag is even; the vector blocks start where the colour of rows r ± 1 is in odd columns.
    const bool xIsRed = ((r - 1 + rowFlag) & 1) == 1;
    const int xParity = xIsRed ? (colFlag & 1) : ((colFlag + 1) & 1);  // columns x with x % 2 == xParity
    const int c0 = xParity == 1 ? 2 : 3;
    const T* rows[5] = {row(r - 2), row(r - 1), row(r), row(r + 1), row(r + 2)};
    const int done =
        xIsRed ? DemosaicPairPlanes<L, true>(dst.Row(r), dst.Row(r + 1), rows[0], rows[1], rows[2], rows[3], rows[4], w,
                                             c0, p.kRed, p.kBlue)
               : DemosaicPairPlanes<L, false>(dst.Row(r), dst.Row(r + 1), rows[0], rows[1], rows[2], rows[3], rows[4],
                                              w, c0, p.kRed, p.kBlue);
    for (int y = r; y <= r + 1; ++y) {
      // Source rows of output row y: its red row, the red row beyond, its blue row, the blue row beyond.
      const int i = y - r + 2;  // index of row y in rows[]
      const bool upper = ((y - 1 + rowFlag) & 1) == 1;
      const T* a = upper ? rows[i - 1] : rows[i];
      const T* a2 = upper ? rows[i + 1] : rows[i - 2];
      const T* b = upper ? rows[i] : rows[i - 1];
      const T* b2 = upper ? rows[i - 2] : rows[i + 1];
      T* out = reinterpret_cast<T*>(dst.Row(y));
      if (c0 == 3) DemosaicSpan<T>(out, 3, a, a2, b, b2, 2, 3, redLeftAt2, p.kRed, p.kBlue);
      DemosaicSpan<T>(out, 3, a, a2, b, b2, done, w - 2, redLeftAt2 ^ ((done - 2) & 1), p.kRed, p.kBlue);
      for (int c : {0, 1, w - 2, w - 1}) DemosaicEdgePixel<T>(out, a, a2, b, b2, w, c, colFlag, p.kRed, p.kBlue);
    }
    r += 2;
  }
}

void DemosaicRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  if (src.bytesPerPixel == 1) {
    DemosaicRowsPaired<uint8_t, Lanes8>(dst, src, p, r0, r1);
  } else {
    DemosaicRowsPaired<uint16_t, Lanes16>(dst, src, p, r0, r1);
  }
}

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool) {
  ForRows(pool, src.height, [&](int r0, int r1) { DemosaicRows(dst, src, p, r0, r1); });
}

}  // namespace

const KernelTable* Avx2Kernels() {
  static const KernelTable table{"avx2",  Demosaic,         GrayGainGeneric, HueSat,     Lut,
                                 Sharpen, LuminanceGeneric, DemosaicRows,    SharpenRows};
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
