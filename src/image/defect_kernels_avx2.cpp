// The row kernels of the mask corrections for AVX2: the left and right fills by hand (a fill is a chain
// from pixel to pixel, which the compiler leaves scalar), everything else vectorised by the compiler
// (32 marks or samples per step, eight quotients per division). Only used after
// the pipeline kernels' CPU check said yes.
#include <cstdint>
#include <cstring>

#include "image/defect_kernels.h"
#include "image/kernels.h"

#if defined(__x86_64__)

// Every function defined below may use AVX2; the header above keeps its baseline code.
#pragma GCC target("avx2")

#include <immintrin.h>

namespace orvane::image {

namespace {
#include "image/defect_kernels_impl.h"

// Bytes moved n places towards the higher (ShiftUp) or lower (ShiftDown) end of the whole register,
// zeros shifted in, for 0 < n <= 16.
template <int n>
inline __m256i ShiftUp(__m256i a) {
  const __m256i lowIntoHigh = _mm256_permute2x128_si256(a, a, 0x08);
  if constexpr (n == 16) {
    return lowIntoHigh;
  } else {
    return _mm256_alignr_epi8(a, lowIntoHigh, 16 - n);
  }
}
template <int n>
inline __m256i ShiftDown(__m256i a) {
  const __m256i highIntoLow = _mm256_permute2x128_si256(a, a, 0x81);
  if constexpr (n == 16) {
    return highIntoLow;
  } else {
    return _mm256_alignr_epi8(highIntoLow, a, n);
  }
}

// One doubling step of an inclusive fill over samples of E bytes: where a lane has no unmarked value yet
// (`ok` clear), it takes the one `n` bytes before it (up: lower lanes; down: higher lanes).
template <bool up, int n>
inline void FillStep(__m256i& v, __m256i& ok) {
  const __m256i sv = up ? ShiftUp<n>(v) : ShiftDown<n>(v);
  const __m256i sok = up ? ShiftUp<n>(ok) : ShiftDown<n>(ok);
  v = _mm256_blendv_epi8(sv, v, ok);
  ok = _mm256_or_si256(ok, sok);
}

// The fill of one register of samples of E bytes within the register; `ok` is left set in the lanes that
// found an unmarked value there (the others take the carry from beyond the register).
template <bool up, int E>
inline __m256i FillRegister(__m256i v, __m256i& ok) {
  if constexpr (E == 1) FillStep<up, 1>(v, ok);
  FillStep<up, 2>(v, ok);
  FillStep<up, 4>(v, ok);
  FillStep<up, 8>(v, ok);
  FillStep<up, 16>(v, ok);
  return v;
}

// All-ones lanes where the 32 / E marks at `marks` are clear.
template <int E>
inline __m256i Unmarked(const uint8_t* marks) {
  if constexpr (E == 1) {
    return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(marks)), _mm256_setzero_si256());
  } else {
    const __m256i m = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(marks)));
    return _mm256_cmpeq_epi16(m, _mm256_setzero_si256());
  }
}

// The last (first) sample of a register in every lane.
template <int E>
inline __m256i BroadcastLast(__m256i v) {
  const __m256i high = _mm256_permute2x128_si256(v, v, 0x11);
  return _mm256_shuffle_epi8(high, E == 1 ? _mm256_set1_epi8(15) : _mm256_set1_epi16(0x0F0E));
}
template <int E>
inline __m256i BroadcastFirst(__m256i v) {
  const __m128i low = _mm256_castsi256_si128(v);
  return E == 1 ? _mm256_broadcastb_epi8(low) : _mm256_broadcastw_epi16(low);
}

// FillRow a register at a time: each direction over whole registers from its own end, the columns left
// over near the far end by the scalar chain, continued from the registers' last value. Only one blend
// per register depends on the register before (the carry), so the fills of registers overlap.
template <typename T>
void FillRowAvx2(const T* __restrict row, const uint8_t* __restrict marks, T* __restrict left, T* __restrict right,
                 int width) {
  constexpr int E = sizeof(T);
  constexpr int N = 32 / E;
  auto load = [](const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
  auto store = [](T* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); };
  int x = 1;
  __m256i carry = E == 1 ? _mm256_set1_epi8(static_cast<char>(row[0])) : _mm256_set1_epi16(static_cast<short>(row[0]));
  for (; x + N <= width - 1; x += N) {
    __m256i ok = Unmarked<E>(marks + x);
    const __m256i f = FillRegister<true, E>(load(row + x), ok);
    store(left + x, _mm256_blendv_epi8(carry, f, ok));
    carry = _mm256_blendv_epi8(carry, BroadcastLast<E>(f), BroadcastLast<E>(ok));
  }
  for (T fromLeft = x > 1 ? left[x - 1] : row[0]; x < width - 1; ++x) {
    fromLeft = Select<T>(marks[x], fromLeft, row[x]);
    left[x] = fromLeft;
  }
  int end = width - 1;  // columns [end, width - 1) are done
  carry = E == 1 ? _mm256_set1_epi8(static_cast<char>(row[width - 1]))
                 : _mm256_set1_epi16(static_cast<short>(row[width - 1]));
  for (; end - N >= 1; end -= N) {
    __m256i ok = Unmarked<E>(marks + end - N);
    const __m256i f = FillRegister<false, E>(load(row + end - N), ok);
    store(right + end - N, _mm256_blendv_epi8(carry, f, ok));
    carry = _mm256_blendv_epi8(carry, BroadcastFirst<E>(f), BroadcastFirst<E>(ok));
  }
  for (T fromRight = end < width - 1 ? right[end] : row[width - 1]; end > 1; --end) {
    fromRight = Select<T>(marks[end - 1], fromRight, row[end - 1]);
    right[end - 1] = fromRight;
  }
}

template <typename T>
void ReplaceRowAvx2(T* row, const uint8_t* marks, T* above, const T* down, T* left, T* right, int width) {
  FillRowAvx2<T>(row, marks, left, right, width);
  CombineRow<T>(row, marks, above, down, left, right, width);
}

// 32 marks a step: each mark's bit 0 moved to bit 7 and gathered by movemask; the tail as the baseline.
void PackMarksAvx2(const uint8_t* __restrict marks, int width, uint8_t* __restrict bits) {
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(marks + x));
    const uint32_t word = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(m, 7)));
    std::memcpy(bits + x / 8, &word, sizeof(word));
  }
  PackMarks(marks + x, width - x, bits + x / 8);
}
// 32 marks a step: byte j of the register takes byte j / 8 of the 32 bits and tests its bit j % 8.
void UnpackMarksAvx2(const uint8_t* __restrict bits, int width, uint8_t* __restrict marks) {
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 3,
                                          3, 3, 3, 3, 3, 3, 3);
  const __m256i bit = _mm256_set1_epi64x(static_cast<int64_t>(0x8040201008040201ull));
  const __m256i one = _mm256_set1_epi8(1);
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    uint32_t word;
    std::memcpy(&word, bits + x / 8, sizeof(word));
    const __m256i v = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(word)), spread);
    const __m256i set = _mm256_cmpeq_epi8(_mm256_and_si256(v, bit), bit);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(marks + x), _mm256_and_si256(set, one));
  }
  UnpackMarks(bits + x / 8, width - x, marks + x);
}

template <typename T>
constexpr MaskRowKernels<T> Avx2MaskRowKernels() {
  MaskRowKernels<T> k = GenericMaskRowKernels<T>();
  k.replace = ReplaceRowAvx2<T>;
  return k;
}

}  // namespace

const MaskKernels* Avx2MaskKernels() {
  static const MaskKernels set{"avx2", PackMarksAvx2, UnpackMarksAvx2, Avx2MaskRowKernels<uint8_t>(),
                               Avx2MaskRowKernels<uint16_t>()};
  // The CPU check is the pipeline kernels' own.
  return Avx2Kernels() != nullptr ? &set : nullptr;
}

}  // namespace orvane::image

#else

namespace orvane::image {
const MaskKernels* Avx2MaskKernels() { return nullptr; }
}  // namespace orvane::image

#endif
