// AVX-512 gray gains and offsets on 8-bit samples, 64 per step in 16-bit lanes, with the optional
// per-value table looked up by byte permutes (VBMI). 16-bit samples keep the generic loop.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/fast_kernels_avx512.h"
#include "image/row_pool.h"

#if defined(__x86_64__)
#include <immintrin.h>

#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")

namespace orvane::image {

namespace {

#include "image/fast_kernels_impl.h"

#include "image/fast_kernels_avx512_table.h"

// v = clamp(offset + (gain × s) >> 7, 0, 255) for 32 samples: the product of two bytes fits 16 unsigned
// bits, the shifted one is at most 508, the offset (-255..255) keeps the sum within signed 16 bits.
ORVANE_ALWAYS_INLINE __m512i GainLanes(__m256i samples, __m512i gains, __m512i offsets) {
  const __m512i s = _mm512_cvtepu8_epi16(samples);
  const __m512i v = _mm512_add_epi16(_mm512_srli_epi16(_mm512_mullo_epi16(s, gains), 7), offsets);
  return _mm512_min_epi16(_mm512_max_epi16(v, _mm512_setzero_si512()), _mm512_set1_epi16(255));
}

template <bool kPost>
int GraySpan8(uint8_t* row, int width, const int* gain, const int* offset, const ByteTable512* post) {
  // Lanes alternate even and odd columns: the row's first column is even.
  const __m512i gains = _mm512_set1_epi32(static_cast<int>((static_cast<uint32_t>(gain[1]) << 16) | gain[0]));
  const __m512i offsets =
      _mm512_set1_epi32(static_cast<int>((static_cast<uint32_t>(offset[1] & 0xFFFF) << 16) | (offset[0] & 0xFFFF)));
  int x = 0;
  for (; x + 64 <= width; x += 64) {
    const __m512i low = GainLanes(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x)), gains, offsets);
    const __m512i high = GainLanes(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x + 32)), gains, offsets);
    // Both halves packed to bytes in column order: the even bytes of the two vectors' words.
    const __m512i evenBytes = _mm512_set_epi64(0x7E7C7A7876747270, 0x6E6C6A6866646260, 0x5E5C5A5856545250,
                                               0x4E4C4A4846444240, 0x3E3C3A3836343230, 0x2E2C2A2826242220,
                                               0x1E1C1A1816141210, 0x0E0C0A0806040200);
    __m512i out = _mm512_permutex2var_epi8(low, evenBytes, high);
    if constexpr (kPost) out = post->Lookup(out);
    _mm512_storeu_si512(row + x, out);
  }
  return x;
}

bool InLaneRange(const GrayGainParams& p) {
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      if (p.gain[r][c] < 0 || p.gain[r][c] > 255 || p.offset[r][c] < -255 || p.offset[r][c] > 255) return false;
    }
  }
  return p.maxValue == 255;
}

}  // namespace

namespace avx512 {

void GrayGain(const Plane& img, const GrayGainParams& p, RowPool* pool) {
  if (img.bytesPerPixel != 1 || !InLaneRange(p)) {
    GrayGainGeneric(img, p, pool);
    return;
  }
  if (p.post8 == nullptr) {
    GrayGainRows(img, p, pool, [](uint8_t* row, int width, const int* gain, const int* offset, const uint8_t*) {
      return GraySpan8<false>(row, width, gain, offset, nullptr);
    });
    return;
  }
  const ByteTable512 table(p.post8);
  GrayGainRows(img, p, pool, [&table](uint8_t* row, int width, const int* gain, const int* offset, const uint8_t*) {
    return GraySpan8<true>(row, width, gain, offset, &table);
  });
}

}  // namespace avx512

}  // namespace orvane::image

#endif
