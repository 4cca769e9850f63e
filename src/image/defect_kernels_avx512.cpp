// The row kernels of the mask corrections for AVX-512 (with the byte permutes of AVX512-VBMI): the left
// and right fills by hand, 64 marks or 32 samples of 16 bits a register, where a doubling step is one
// masked permute (lanes that found no unmarked value yet take the one s lanes before them) and one
// shift of the mask; everything else vectorised by the compiler. Only used after avx512::Supported().
#include <cstdint>
#include <type_traits>

#include "image/defect_kernels.h"
#include "image/fast_kernels_avx512.h"

#if defined(__x86_64__)

#include <immintrin.h>

// Every function defined below may use AVX-512; the headers above keep their baseline code.
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")

namespace orvane::image {

namespace {
#include "image/defect_kernels_impl.h"

template <typename T>
using LaneMask = std::conditional_t<sizeof(T) == 1, __mmask64, __mmask32>;
template <typename T>
constexpr int kLanes = 64 / static_cast<int>(sizeof(T));

// Lane i of step k reads lane i - 2^k (up) or i + 2^k (down), modulo the lane count: a lane whose source
// lies outside the register reads garbage, but its mask bit stays clear, so it takes the carry instead.
template <typename T, bool up>
struct StepIndices {
  alignas(64) T index[7][kLanes<T>];
  constexpr StepIndices() : index() {
    for (int k = 0; k < 7; ++k) {
      for (int i = 0; i < kLanes<T>; ++i) {
        index[k][i] = static_cast<T>((i + (up ? -1 : 1) * (1 << k)) & (kLanes<T> - 1));
      }
    }
  }
};
template <typename T, bool up>
constexpr StepIndices<T, up> kSteps{};

// `keep` with the lanes of `m` set to the lanes of `from` that `index` names.
template <typename T>
inline __m512i PermuteInto(__m512i keep, LaneMask<T> m, __m512i index, __m512i from) {
  if constexpr (sizeof(T) == 1) {
    return _mm512_mask_permutexvar_epi8(keep, m, index, from);
  } else {
    return _mm512_mask_permutexvar_epi16(keep, m, index, from);
  }
}

template <typename T>
inline LaneMask<T> UnmarkedLanes(const uint8_t* marks) {
  if constexpr (sizeof(T) == 1) {
    const __m512i m = _mm512_loadu_si512(marks);
    return _mm512_testn_epi8_mask(m, m);
  } else {
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(marks));
    return _mm256_testn_epi8_mask(m, m);
  }
}

template <typename T>
inline __m512i Broadcast(T v) {
  return sizeof(T) == 1 ? _mm512_set1_epi8(static_cast<char>(v)) : _mm512_set1_epi16(static_cast<short>(v));
}

// The inclusive fill of the register at `p` in one direction; lanes without an unmarked value in the
// register take `carry`, which then moves on to the register's last lane in that direction.
template <typename T, bool up>
inline __m512i FillRegister(const T* p, const uint8_t* marks, __m512i& carry) {
  constexpr int N = kLanes<T>;
  using Mask = LaneMask<T>;
  Mask ok = UnmarkedLanes<T>(marks);
  __m512i v = _mm512_loadu_si512(p);
  for (int k = 0; (1 << k) < N; ++k) {
    v = PermuteInto<T>(v, static_cast<Mask>(~ok), _mm512_loadu_si512(kSteps<T, up>.index[k]), v);
    ok = static_cast<Mask>(ok | (up ? ok << (1 << k) : ok >> (1 << k)));
  }
  const __m512i filled = sizeof(T) == 1 ? _mm512_mask_blend_epi8(static_cast<__mmask64>(ok), carry, v)
                                        : _mm512_mask_blend_epi16(static_cast<__mmask32>(ok), carry, v);
  const int last = up ? N - 1 : 0;
  carry = PermuteInto<T>(carry, static_cast<Mask>(~Mask{0}), Broadcast<T>(static_cast<T>(last)), filled);
  return filled;
}

template <typename T>
void FillRowAvx512(const T* __restrict row, const uint8_t* __restrict marks, T* __restrict left,
                   T* __restrict right, int width) {
  constexpr int N = kLanes<T>;
  int x = 1;
  __m512i carry = Broadcast<T>(row[0]);
  for (; x + N <= width - 1; x += N) _mm512_storeu_si512(left + x, FillRegister<T, true>(row + x, marks + x, carry));
  for (T fromLeft = x > 1 ? left[x - 1] : row[0]; x < width - 1; ++x) {
    fromLeft = Select<T>(marks[x], fromLeft, row[x]);
    left[x] = fromLeft;
  }
  int end = width - 1;  // columns [end, width - 1) are done
  carry = Broadcast<T>(row[width - 1]);
  for (; end - N >= 1; end -= N) {
    _mm512_storeu_si512(right + end - N, FillRegister<T, false>(row + end - N, marks + end - N, carry));
  }
  for (T fromRight = end < width - 1 ? right[end] : row[width - 1]; end > 1; --end) {
    fromRight = Select<T>(marks[end - 1], fromRight, row[end - 1]);
    right[end - 1] = fromRight;
  }
}

template <typename T>
void ReplaceRowAvx512(T* row, const uint8_t* marks, T* above, const T* down, T* left, T* right, int width) {
  FillRowAvx512<T>(row, marks, left, right, width);
  CombineRow<T>(row, marks, above, down, left, right, width);
}

template <typename T>
constexpr MaskRowKernels<T> Avx512MaskRowKernels() {
  MaskRowKernels<T> k = GenericMaskRowKernels<T>();
  k.replace = ReplaceRowAvx512<T>;
  return k;
}

}  // namespace

const MaskKernels* Avx512MaskKernels() {
  const MaskKernels* avx2 = Avx2MaskKernels();
  if (avx2 == nullptr || !avx512::Supported()) return nullptr;
  static const MaskKernels set{"avx512", avx2->pack, avx2->unpack, Avx512MaskRowKernels<uint8_t>(),
                               Avx512MaskRowKernels<uint16_t>()};
  return &set;
}

}  // namespace orvane::image

#else

namespace orvane::image {
const MaskKernels* Avx512MaskKernels() { return nullptr; }
}  // namespace orvane::image

#endif
