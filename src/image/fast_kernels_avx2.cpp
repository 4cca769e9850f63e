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
  alignas(32) int16_t lanes[16];
  for (int i = 0; i < 16; ++i) lanes[i] = static_cast<int16_t>(((i & 1) == 0) == (args.redLeftAt2 != 0) ? -1 : 0);
  const __m256i redLeft = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
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

// 16-bit mosaic to 48-bit: 8 columns per step in 32-bit lanes (sum × k < 2^30).
int DemosaicSpan16(const DemosaicRowArgs& args) {
  if (args.step != 3) return 2;
  const auto* a = static_cast<const uint16_t*>(args.a);
  const auto* a2 = static_cast<const uint16_t*>(args.a2);
  const auto* b = static_cast<const uint16_t*>(args.b);
  const auto* b2 = static_cast<const uint16_t*>(args.b2);
  auto* out = static_cast<uint8_t*>(args.out);
  alignas(32) int32_t lanes[8];
  for (int i = 0; i < 8; ++i) lanes[i] = ((i & 1) == 0) == (args.redLeftAt2 != 0) ? -1 : 0;
  const __m256i redLeft = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
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

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool) {
  ForRows(pool, src.height, [&](int r0, int r1) {
    if (src.bytesPerPixel == 1) {
      DemosaicRowsGeneric<uint8_t>(dst, src, p, r0, r1, DemosaicSpan8);
    } else {
      DemosaicRowsGeneric<uint16_t>(dst, src, p, r0, r1, DemosaicSpan16);
    }
  });
}

}  // namespace

const KernelTable* Avx2Kernels() {
  static const KernelTable table{"avx2",     Demosaic,       GrayGainGeneric, HueSatGeneric,
                                 LutGeneric, SharpenGeneric, LuminanceGeneric};
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported ? &table : nullptr;
}

}  // namespace orvane::image

#else

namespace orvane::image {
const KernelTable* Avx2Kernels() { return nullptr; }
}  // namespace orvane::image

#endif
