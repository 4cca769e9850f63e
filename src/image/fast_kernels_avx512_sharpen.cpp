// The unsharp mask in AVX-512 for 8-bit samples (gray, 24- and 32-bit colour) and 16-bit samples (gray,
// 48- and 64-bit colour), with and without the brightness gain that follows it.
//
// Each interior row is swept once, 2 × L samples per step (L = 32 for 8-bit data in 16-bit lanes, 16 for
// 16-bit data in 32-bit lanes): the vertical sums V of the four source rows stay in registers, the pair
// sums P(i) = V(i) + V(i + step) are formed once, and the sum of the 4 × 4 block at output i is
// P(i - 2 step) + P(i) (i counted in samples, `step` samples per pixel). The last steps of a row load and
// store under masks, so nothing outside a row's own samples is read or written.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/fast_kernels_avx512.h"
#include "image/row_pool.h"

#if defined(__x86_64__)
#include <immintrin.h>

// Every function defined below may use AVX-512; the headers above keep their baseline code.
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")
// GCC 12's AVX-512 intrinsics start their results from _mm512_undefined_*(), which its flow analysis
// reports as possibly uninitialised once they are inlined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace orvane::image::avx512 {

namespace {

#include "image/fast_kernels_avx512_table.h"

// What the byte table holds without the gain (never looked up then).
alignas(64) constexpr uint8_t kNoTable[256] = {};

#define ORVANE_SHARPEN_INLINE inline __attribute__((always_inline))
#define ORVANE_SHARPEN_INLINE_LAMBDA __attribute__((always_inline))

// The low `count` bits of a mask of `Mask`'s width (none for count <= 0, all from the width up).
template <typename Mask>
ORVANE_SHARPEN_INLINE Mask Valid(int count) {
  constexpr int kBits = static_cast<int>(sizeof(Mask)) * 8;
  if (count <= 0) return 0;
  if (count >= kBits) return static_cast<Mask>(~Mask(0));
  return static_cast<Mask>((uint64_t{1} << count) - 1);
}

// packus works within 128-bit lanes: its qwords come out as a0 b0 a1 b1 a2 b2 a3 b3.
ORVANE_SHARPEN_INLINE __m512i PackOrder() { return _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7); }

// 8-bit samples in 16-bit lanes. (sharpness × d) / 10, truncated, is formed as mulhi(8 d, M) plus one for
// a negative d with M = floor(8192 × sharpness / 10) + 1: 8 M / 65536 exceeds sharpness / 10 by at most
// 1/8192, so for |d| <= 255 the product lies less than 0.032 above the exact quotient, whose fraction is
// a multiple of 0.1: the floor is the quotient rounded down, and for a negative d (where the product lies
// strictly below) one less than the quotient rounded up. The packing limits to 0 .. 255; the gain is the
// reference's own products, as a table of 256 bytes looked up with two-register byte permutes.
template <int kStep, bool kGain>
class Bytes {
 public:
  using Sample = uint8_t;
  static constexpr int kLanes = 32;
  static constexpr int kStepSamples = kStep;
  static constexpr bool kGained = kGain;

  // gainTable: the 256 gained values when kGain.
  Bytes(int sharpness, const uint8_t* gainTable)
      : gainTable_(gainTable),
        byStep_(ShiftIndex(kStep)),
        byTwoSteps_(ShiftIndex(2 * kStep)),
        byBlock_(ShiftIndex(kLanes - 2 * kStep)),
        factor_(_mm512_set1_epi16(static_cast<int16_t>(sharpness * 8192 / 10 + 1))),
        order_(PackOrder()),
        table_(kGain ? gainTable : kNoTable) {}

  uint8_t Gain(uint8_t v) const { return gainTable_[v]; }

  // The vertical sums at sample i of kRows output rows (rows[k .. k + 3] for row k) and the samples of
  // the output rows themselves (rows[k + 2]).
  template <bool kMasked, int kRows>
  ORVANE_SHARPEN_INLINE void Vertical(const uint8_t* const* rows, int i, int length, __m512i* sums,
                                      __m512i* centres) const {
    const __mmask32 m = kMasked ? Valid<__mmask32>(length - i) : ~__mmask32{0};
    auto load = [&](const uint8_t* row) {
      if constexpr (kMasked) return _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, row + i));
      return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i)));
    };
    centres[0] = load(rows[2]);
    if constexpr (kRows == 2) centres[1] = load(rows[3]);
    const __m512i inner =
        _mm512_add_epi16(_mm512_add_epi16(load(rows[1]), centres[0]), kRows == 2 ? centres[1] : load(rows[3]));
    sums[0] = _mm512_add_epi16(inner, load(rows[0]));
    if constexpr (kRows == 2) sums[1] = _mm512_add_epi16(inner, load(rows[4]));
  }
  ORVANE_SHARPEN_INLINE __m512i Pair(__m512i a, __m512i b) const {
    return _mm512_add_epi16(a, _mm512_permutex2var_epi16(a, byStep_, b));
  }
  // The block sums at the samples of `pairs` from the pair sums there and L samples before.
  ORVANE_SHARPEN_INLINE __m512i Block(__m512i before, __m512i pairs) const {
    return _mm512_add_epi16(pairs, _mm512_permutex2var_epi16(before, byBlock_, pairs));
  }
  // The pair sums at samples i .. i + 2 step - 1 moved to the top lanes, as `before` for sample i + 2 step.
  ORVANE_SHARPEN_INLINE __m512i Rotate(__m512i pairs) const {
    return _mm512_permutex2var_epi16(pairs, byTwoSteps_, pairs);
  }
  // The sharpened values of samples x .. x + 31 from their block sums, not yet limited.
  ORVANE_SHARPEN_INLINE __m512i Value(__m512i sum, __m512i o) const {
    const __m512i d = _mm512_sub_epi16(o, _mm512_srli_epi16(sum, 4));
    const __m512i q = _mm512_mulhi_epi16(_mm512_slli_epi16(d, 3), factor_);
    return _mm512_sub_epi16(_mm512_add_epi16(o, q), _mm512_srai_epi16(d, 15));
  }
  // Samples x .. x + 63 (the first `count` of them) from the values of both halves.
  template <bool kMasked>
  ORVANE_SHARPEN_INLINE void Store(uint8_t* out, __m512i a, __m512i b, const uint8_t* centre, int x, int count,
                                   int length) const {
    __m512i bytes = _mm512_permutexvar_epi64(order_, _mm512_packus_epi16(a, b));
    if constexpr (kGain) bytes = table_.Lookup(bytes);
    if constexpr (kStep == 4) {
      // The fourth byte of each pixel is the source's.
      const __m512i source = kMasked ? _mm512_maskz_loadu_epi8(Valid<__mmask64>(length - x), centre + x)
                                     : _mm512_loadu_si512(centre + x);
      bytes = _mm512_mask_blend_epi8(0x8888888888888888ull, bytes, source);
    }
    if constexpr (kMasked) {
      _mm512_mask_storeu_epi8(out + x, Valid<__mmask64>(count), bytes);
    } else {
      _mm512_storeu_si512(out + x, bytes);
    }
  }

 private:
  // Word indices j + n over two vectors: the 32 lanes that start n lanes into the first.
  static __m512i ShiftIndex(int n) {
    alignas(64) uint16_t index[32];
    for (int j = 0; j < 32; ++j) index[j] = static_cast<uint16_t>(j + n);
    return _mm512_load_si512(index);
  }
  const uint8_t* gainTable_;
  __m512i byStep_;
  __m512i byTwoSteps_;
  __m512i byBlock_;
  __m512i factor_;
  __m512i order_;
  ByteTable512 table_;
};

// 16-bit samples in 32-bit lanes. (sharpness × d) / 10, truncated, is trunc(d × c) in single precision
// with c = sharpness / 10 rounded up to a float: for |d| <= 65535, d × c lies at most 0.016 beyond the
// exact quotient and its rounding adds at most another 0.016, which never reaches the next integer
// (the quotient's fraction is a multiple of 0.1) and never falls below an integer quotient (integers of
// this size are floats). The packing limits to 0 .. 65535. The gain is the reference's single-precision
// product (below 2^31 for gains under 32768).
template <int kStep, bool kGain>
class Words {
 public:
  using Sample = uint16_t;
  static constexpr int kLanes = 16;
  static constexpr int kStepSamples = kStep;
  static constexpr bool kGained = kGain;

  Words(int sharpness, float gain)
      : gain_(gain), factor_(_mm512_set1_ps(TenthUp(sharpness))), gains_(_mm512_set1_ps(gain)), order_(PackOrder()) {}

  uint16_t Gain(uint16_t v) const {
    const int scaled = static_cast<int>(static_cast<float>(v) * gain_);
    return static_cast<uint16_t>(scaled > 65535 ? 65535 : scaled);
  }

  template <bool kMasked, int kRows>
  ORVANE_SHARPEN_INLINE void Vertical(const uint16_t* const* rows, int i, int length, __m512i* sums,
                                      __m512i* centres) const {
    const __mmask16 m = kMasked ? Valid<__mmask16>(length - i) : static_cast<__mmask16>(0xFFFF);
    auto load = [&](const uint16_t* row) {
      if constexpr (kMasked) return _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(m, row + i));
      return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i)));
    };
    centres[0] = load(rows[2]);
    if constexpr (kRows == 2) centres[1] = load(rows[3]);
    const __m512i inner =
        _mm512_add_epi32(_mm512_add_epi32(load(rows[1]), centres[0]), kRows == 2 ? centres[1] : load(rows[3]));
    sums[0] = _mm512_add_epi32(inner, load(rows[0]));
    if constexpr (kRows == 2) sums[1] = _mm512_add_epi32(inner, load(rows[4]));
  }
  ORVANE_SHARPEN_INLINE __m512i Pair(__m512i a, __m512i b) const {
    return _mm512_add_epi32(a, _mm512_alignr_epi32(b, a, kStep));
  }
  ORVANE_SHARPEN_INLINE __m512i Block(__m512i before, __m512i pairs) const {
    return _mm512_add_epi32(pairs, _mm512_alignr_epi32(pairs, before, kLanes - 2 * kStep));
  }
  ORVANE_SHARPEN_INLINE __m512i Rotate(__m512i pairs) const { return _mm512_alignr_epi32(pairs, pairs, 2 * kStep); }
  ORVANE_SHARPEN_INLINE __m512i Value(__m512i sum, __m512i o) const {
    const __m512i d = _mm512_sub_epi32(o, _mm512_srli_epi32(sum, 4));
    __m512i v = _mm512_add_epi32(o, _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(d), factor_)));
    if constexpr (kGain) {
      // A negative value stays negative (or zero) through the gain and packs to 0, as the limited one would.
      v = _mm512_min_epi32(v, _mm512_set1_epi32(65535));
      v = _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(v), gains_));
    }
    return v;
  }
  template <bool kMasked>
  ORVANE_SHARPEN_INLINE void Store(uint16_t* out, __m512i a, __m512i b, const uint16_t* centre, int x, int count,
                                   int length) const {
    __m512i words = _mm512_permutexvar_epi64(order_, _mm512_packus_epi32(a, b));
    if constexpr (kStep == 4) {
      const __m512i source = kMasked ? _mm512_maskz_loadu_epi16(Valid<__mmask32>(length - x), centre + x)
                                     : _mm512_loadu_si512(centre + x);
      words = _mm512_mask_blend_epi16(0x88888888u, words, source);
    }
    if constexpr (kMasked) {
      _mm512_mask_storeu_epi16(out + x, Valid<__mmask32>(count), words);
    } else {
      _mm512_storeu_si512(out + x, words);
    }
  }

 private:
  static float TenthUp(int sharpness) {
    float c = static_cast<float>(sharpness) / 10.0f;
    // c × 10 is exact in double precision.
    while (static_cast<double>(c) * 10.0 < sharpness) c = __builtin_nextafterf(c, 4.0f);
    return c;
  }
  float gain_;
  __m512 factor_;
  __m512 gains_;
  __m512i order_;
};

// Samples begin .. end - 1 of kRows (1 or 2) interior rows y .. y + kRows - 1: rows[0 .. kRows + 2] are the
// source rows y - 2 .. y + kRows, `length` samples each, which the output rows share the vertical sums of.
// A step at x starts with the vertical sums and the samples at x (v0, o0) and the pair sums at x - L
// (before); its loads reach x + 3 L - 1. `ahead` and `outAhead` are the rows the next sweep adds,
// prefetched a sweep ahead: the sweep would otherwise wait on memory.
template <int kRows, class Ops>
void SweepRows(const Ops& ops, typename Ops::Sample* const* out, const typename Ops::Sample* const* rows, int begin,
               int end, int length, const typename Ops::Sample* const* ahead,
               const typename Ops::Sample* const* outAhead) {
  constexpr int n = Ops::kLanes;
  constexpr int s = Ops::kStepSamples;
  int x = begin;
  __m512i v0[kRows], o0[kRows], before[kRows], unused[kRows];
  {
    // The pair sums from sample begin - 2 step = 0 on, rotated into the lanes that precede sample begin.
    __m512i va[kRows], vb[kRows];
    ops.template Vertical<true, kRows>(rows, x - 2 * s, length, va, unused);
    ops.template Vertical<true, kRows>(rows, x - 2 * s + n, length, vb, unused);
    for (int k = 0; k < kRows; ++k) before[k] = ops.Rotate(ops.Pair(va[k], vb[k]));
  }
  ops.template Vertical<true, kRows>(rows, x, length, v0, o0);
  auto step = [&]<bool kMasked>() ORVANE_SHARPEN_INLINE_LAMBDA {
    __m512i v1[kRows], o1[kRows], v2[kRows], o2[kRows];
    ops.template Vertical<kMasked, kRows>(rows, x + n, length, v1, o1);
    ops.template Vertical<kMasked, kRows>(rows, x + 2 * n, length, v2, o2);
    for (int k = 0; k < kRows; ++k) {
      const __m512i p0 = ops.Pair(v0[k], v1[k]);
      const __m512i p1 = ops.Pair(v1[k], v2[k]);
      const __m512i a = ops.Value(ops.Block(before[k], p0), o0[k]);
      const __m512i b = ops.Value(ops.Block(p0, p1), o1[k]);
      ops.template Store<kMasked>(out[k], a, b, rows[2 + k], x, end - x, length);
      if constexpr (!kMasked) {
        _mm_prefetch(reinterpret_cast<const char*>(ahead[k] + x), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(outAhead[k] + x), _MM_HINT_ET0);
      }
      before[k] = p1;
      v0[k] = v2[k];
      o0[k] = o2[k];
    }
    x += 2 * n;
  };
  while (x + 2 * n <= end && x + 3 * n <= length) step.template operator()<false>();
  while (x < end) step.template operator()<true>();
}

// Samples first .. first + count - 1 of a row copied, with the gain on the three colour channels.
template <class Ops, typename T>
void CopySamples(const Ops& ops, T* out, const T* in, int first, int count) {
  if constexpr (Ops::kGained) {
    for (int i = first; i < first + count; ++i) {
      out[i] = (Ops::kStepSamples == 4 && i % 4 == 3) ? in[i] : ops.Gain(in[i]);
    }
  } else {
    std::memcpy(out + first, in + first, static_cast<size_t>(count) * sizeof(T));
  }
}

template <class Ops>
void SharpenRowsWith(const Ops& ops, const Plane& dst, const Plane& src, int y0, int y1) {
  using T = typename Ops::Sample;
  constexpr int step = Ops::kStepSamples;
  const int h = src.height;
  const int length = src.width * step;
  const bool interiorExists = src.width >= 5 && h >= 5;
  auto row = [&](int y) { return reinterpret_cast<const T*>(src.Row(std::min(y, h - 1))); };
  auto outRow = [&](int y) { return reinterpret_cast<T*>(dst.Row(std::min(y, h - 1))); };
  int y = y0;
  while (y < y1) {
    if (!interiorExists || y < 2 || y >= h - 2) {
      CopySamples(ops, outRow(y), row(y), 0, length);
      ++y;
      continue;
    }
    const bool two = y + 1 < y1 && y + 1 < h - 2;
    const T* rows[5] = {row(y - 2), row(y - 1), row(y), row(y + 1), row(y + 2)};
    T* out[2] = {outRow(y), outRow(y + 1)};
    const int rowsDone = two ? 2 : 1;
    for (int k = 0; k < rowsDone; ++k) {
      CopySamples(ops, out[k], rows[2 + k], 0, 2 * step);
      CopySamples(ops, out[k], rows[2 + k], length - 2 * step, 2 * step);
    }
    const T* ahead[2] = {row(y + rowsDone + 1), row(y + rowsDone + 2)};
    // Output rows past y1 may be another thread's: they are not prefetched for writing.
    const T* outAhead[2] = {outRow(std::min(y + rowsDone, y1 - 1)), outRow(std::min(y + rowsDone + 1, y1 - 1))};
    if (two) {
      SweepRows<2>(ops, out, rows, 2 * step, length - 2 * step, length, ahead, outAhead);
    } else {
      SweepRows<1>(ops, out, rows, 2 * step, length - 2 * step, length, ahead, outAhead);
    }
    y += rowsDone;
  }
}

// The formats and parameters served here; the rest (sharpness outside 0..30, a negative, huge or
// undefined gain) keeps the AVX2 set's code.
bool ByHand(const Plane& src, const SharpenParams& p) {
  if (p.sharpness < 0 || p.sharpness > 30) return false;
  if (p.applyGain && !(p.gain >= 0.0f && p.gain < 32768.0f)) return false;
  const int b = src.bytesPerPixel;
  return b == 1 || b == 2 || b == 3 || b == 4 || b == 6 || b == 8;
}

template <int kStep>
void SharpenBytes(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  if (!p.applyGain) {
    SharpenRowsWith(Bytes<kStep, false>(p.sharpness, nullptr), dst, src, y0, y1);
    return;
  }
  alignas(64) uint8_t table[256];
  for (int v = 0; v < 256; ++v) {
    const int scaled = static_cast<int>(static_cast<float>(v) * p.gain);
    table[v] = static_cast<uint8_t>(scaled > 255 ? 255 : scaled);
  }
  SharpenRowsWith(Bytes<kStep, true>(p.sharpness, table), dst, src, y0, y1);
}

template <int kStep>
void SharpenWords(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  if (p.applyGain) {
    SharpenRowsWith(Words<kStep, true>(p.sharpness, p.gain), dst, src, y0, y1);
  } else {
    SharpenRowsWith(Words<kStep, false>(p.sharpness, 1.0f), dst, src, y0, y1);
  }
}

void SharpenRowsByHand(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  switch (src.bytesPerPixel) {
    case 1: SharpenBytes<1>(dst, src, p, y0, y1); break;
    case 3: SharpenBytes<3>(dst, src, p, y0, y1); break;
    case 4: SharpenBytes<4>(dst, src, p, y0, y1); break;
    case 2: SharpenWords<1>(dst, src, p, y0, y1); break;
    case 6: SharpenWords<3>(dst, src, p, y0, y1); break;
    default: SharpenWords<4>(dst, src, p, y0, y1); break;
  }
}

}  // namespace

void SharpenRows(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1) {
  if (!ByHand(src, p)) {
    Avx2Kernels()->sharpenRows(dst, src, p, y0, y1);
    return;
  }
  SharpenRowsByHand(dst, src, p, y0, y1);
}

void Sharpen(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool) {
  if (!ByHand(src, p)) {
    Avx2Kernels()->sharpen(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int y0, int y1) { SharpenRowsByHand(dst, src, p, y0, y1); });
}

}  // namespace orvane::image::avx512

#endif
