// AVX-512 hue/saturation and per-value tables at 8 bits per channel. Byte permutes (VBMI) do the pixel
// shuffles and the 256-entry table look-ups; the tail of a row goes through the same code with masked
// loads and stores, so no pixel takes a scalar path and nothing outside the row is read or written.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "image/fast_kernels_avx512.h"
#include "image/row_pool.h"

#if defined(__x86_64__)
// GCC 12 takes the self-initialised "undefined" registers inside the AVX-512 intrinsics for uninitialised
// variables once they are inlined (its bug 105593); the warning is silenced for that header only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

// Every function defined below may use AVX-512; the headers above keep their baseline code.
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")

#define ORVANE_AVX512_INLINE inline __attribute__((always_inline))
#define ORVANE_AVX512_LAMBDA __attribute__((always_inline))

namespace orvane::image::avx512 {

namespace {

#include "image/fast_kernels_avx512_table.h"

// Byte permutes between 64 pixels of 3 or 4 bytes (3 or 4 registers) and 16-bit channel lanes (two
// registers of 32 pixels per channel), and from bytes to 16-bit words.
struct Permutes {
  alignas(64) uint8_t gather3[2][3][64];       // [half][channel]: pixel 32 half + i to byte 2i
  alignas(64) uint8_t gather4[3][64];          // [channel], from either pair of registers
  alignas(64) uint8_t lowBytes[64];            // the low bytes of the 64 words of two registers
  alignas(64) uint8_t highBytes[64];           // their high bytes
  alignas(64) uint8_t interleave3[3][2][64];   // [output register][blue-green / red]
  alignas(64) uint8_t interleave4[4][2][64];
  alignas(64) uint8_t widen[2][64];            // [output half]: word j = low byte j + 256 × high byte j
  alignas(64) uint8_t lanePairs[64];           // byte 2 (j mod 32) of the pair registers in byte j
  uint64_t red3[3] = {};                       // bytes of output register o that hold red
  constexpr Permutes()
      : gather3(), gather4(), lowBytes(), highBytes(), interleave3(), interleave4(), widen(), lanePairs() {
    for (int t = 0; t < 64; ++t) lanePairs[t] = static_cast<uint8_t>(2 * (t & 31));
    for (int i = 0; i < 32; ++i) {
      for (int ch = 0; ch < 3; ++ch) {
        gather3[0][ch][2 * i] = static_cast<uint8_t>(3 * i + ch);       // registers 0, 1
        gather3[1][ch][2 * i] = static_cast<uint8_t>(32 + 3 * i + ch);  // registers 1, 2
        gather4[ch][2 * i] = static_cast<uint8_t>(4 * i + ch);
      }
    }
    for (int j = 0; j < 64; ++j) {
      lowBytes[j] = static_cast<uint8_t>(2 * j);
      highBytes[j] = static_cast<uint8_t>(2 * j + 1);
      for (int half = 0; half < 2; ++half) {
        const int word = 32 * half + j / 2;
        widen[half][j] = static_cast<uint8_t>((j & 1) != 0 ? 64 + word : word);
      }
    }
    // Channel registers: blue (0..63) and green (64..127) as one pair, red alone.
    for (int o = 0; o < 4; ++o) {
      for (int t = 0; t < 64; ++t) {
        for (int bpp = 3; bpp <= 4; ++bpp) {
          if (bpp == 3 && o == 3) continue;
          const int byte = 64 * o + t;
          const int pixel = byte / bpp;
          const int ch = byte % bpp;
          uint8_t(&il)[2][64] = bpp == 3 ? interleave3[o] : interleave4[o];
          il[0][t] = static_cast<uint8_t>(ch == 1 ? 64 + pixel : pixel);
          il[1][t] = static_cast<uint8_t>(pixel);
          if (bpp == 3 && ch == 2) red3[o] |= uint64_t{1} << t;
        }
      }
    }
  }
};
constexpr Permutes kPermutes;

// The byte of the pair registers (n | (n + A) << 8, up | down << 8) that each channel takes, by the
// sector index:
//   index:  0     1   2     3   4     5
//   blue:   down  n   n     up  hi    hi
//   green:  n     up  hi    hi  down  n
//   red:    hi    hi  down  n   n     up
constexpr uint8_t kChoice[3][6] = {{65, 0, 0, 64, 1, 1}, {0, 64, 1, 1, 65, 0}, {1, 1, 65, 0, 0, 64}};

// floor(0xFF0000 / K) for K = 1..255 as its bits 16..23, 8..15 and 0..7 (entry 0 unused, 0).
struct Reciprocals {
  alignas(64) uint8_t byte[3][256];
  constexpr Reciprocals() : byte() {
    for (int k = 1; k < 256; ++k) {
      for (int b = 0; b < 3; ++b) byte[b][k] = static_cast<uint8_t>((0xFF0000 / k) >> (16 - 8 * b));
    }
  }
};
constexpr Reciprocals kReciprocals;

constexpr uint64_t kEvenBytes = 0x5555555555555555ull;
constexpr uint64_t kUpperHalf = 0xFFFFFFFF00000000ull;
constexpr uint64_t kRedOf4 = 0x4444444444444444ull;
constexpr uint64_t kFourthOf4 = 0x8888888888888888ull;
constexpr uint64_t kFourthWordOf8 = 0xC0C0C0C0C0C0C0C0ull;  // bytes 6, 7 of every 8

ORVANE_AVX512_INLINE __m512i Load(const uint8_t* m) { return _mm512_load_si512(m); }

// Bytes of register j of a block whose valid part is `bytes` long.
ORVANE_AVX512_INLINE __mmask64 BlockMask(int bytes, int j) {
  const int left = bytes - 64 * j;
  if (left >= 64) return ~__mmask64{0};
  return left <= 0 ? 0 : (__mmask64{1} << left) - 1;
}

// 32 pixels in 16-bit lanes between the two halves of the arithmetic: low, high are n and n + A, then the
// candidate pairs of result bytes; index is the sector, then the index of the choice.
struct Lanes {
  __m512i low, high, k, numerator, index;
};

// Hue and saturation in 16-bit lanes, the arithmetic of the AVX2 code (HueSatSpan24 in
// fast_kernels_avx2.cpp explains how it regroups the reference) with mask registers for its choices: the
// saturation table computed from the factor, each channel of the result one of n, n + A, n + ramp,
// n + A - ramp by the sector index. The reciprocal 0xFF0000 / K comes from byte tables of its integer
// quotients, looked up for 64 pixels at once, so the position needs neither a division nor 32-bit lanes.
struct HueCore {
  __m512i satMul, rem;
  __m512i choice[3];  // [channel]: by the index of the sector before the shift, in each 16-byte part
  __mmask32 satAddK;
  ByteTable512 reciprocal[3];
  explicit HueCore(const HueSatParams& p)
      : reciprocal{ByteTable512(kReciprocals.byte[0]), ByteTable512(kReciprocals.byte[1]),
                   ByteTable512(kReciprocals.byte[2])} {
    // S = (K m + 128) >> 8 as mulhrs(K, 128 f) = (128 K f + 2^14) >> 15 (+ K where m >= 256), f < 256.
    const int m = p.saturationFactor >> 8;
    satMul = _mm512_set1_epi16(static_cast<int16_t>(128 * (m >= 256 ? m - 256 : m)));
    satAddK = m >= 256 ? ~__mmask32{0} : 0;
    rem = _mm512_set1_epi16(static_cast<int16_t>(p.shift % 255));
    // The shift's whole sectors and the wrap at six are folded into the choice of each channel: the
    // index before them is 0..6 (the sector, plus one where the shifted position passes 254).
    const int sectors = p.shift / 255;
    alignas(64) uint8_t bytes[3][64];
    for (int ch = 0; ch < 3; ++ch) {
      for (int t = 0; t < 64; ++t) {
        const int i = t & 15;
        bytes[ch][t] = i <= 6 ? kChoice[ch][(i + sectors) % 6] : 0;
      }
      choice[ch] = _mm512_load_si512(bytes[ch]);
    }
  }
  // The operands of this core: a factor of a whole number of 256ths in 0..511, a shift in 0..1529.
  static bool Fits(const HueSatParams& p) {
    const int m = p.saturationFactor >> 8;
    return (p.saturationFactor & 0xFF) == 0 && m >= 0 && m <= 511 && p.shift >= 0 && p.shift <= 1529;
  }

  // The first half of the arithmetic: everything but the position in the sector.
  ORVANE_AVX512_INLINE Lanes Levels(__m512i b, __m512i g, __m512i r) const {
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i mx = _mm512_max_epu16(_mm512_max_epu16(r, g), b);
    const __m512i mn = _mm512_min_epu16(_mm512_min_epu16(r, g), b);
    const __m512i l = _mm512_add_epi16(mx, mn);
    const __m512i k = _mm512_sub_epi16(mx, mn);
    const __m512i lmax = _mm512_min_epu16(l, _mm512_sub_epi16(_mm512_set1_epi16(511), l));
    const __m512i scaled = _mm512_mulhrs_epi16(k, satMul);
    const __m512i k2 = _mm512_min_epu16(_mm512_mask_add_epi16(scaled, satAddK, scaled, k), lmax);
    const __m512i n = _mm512_srli_epi16(_mm512_sub_epi16(l, k2), 1);
    const __m512i hi = _mm512_srli_epi16(_mm512_add_epi16(l, k2), 1);  // n + A
    // Sector: red largest (r >= g, r >= b) 1; else green largest 3; else blue 5; one less where the
    // numerator is negative (which then gains K).
    const __mmask32 isRed = _mm512_cmpeq_epi16_mask(r, mx);
    const __mmask32 isGreen = _mm512_mask_cmpeq_epi16_mask(static_cast<__mmask32>(~isRed), g, mx);
    __m512i numerator = _mm512_sub_epi16(r, g);
    numerator = _mm512_mask_sub_epi16(numerator, isGreen, b, r);
    numerator = _mm512_mask_sub_epi16(numerator, isRed, g, b);
    __m512i sector = _mm512_mask_mov_epi16(_mm512_set1_epi16(5), isGreen, _mm512_set1_epi16(3));
    sector = _mm512_mask_mov_epi16(sector, isRed, one);
    const __mmask32 negative = _mm512_movepi16_mask(numerator);
    numerator = _mm512_mask_add_epi16(numerator, negative, numerator, k);
    sector = _mm512_mask_sub_epi16(sector, negative, sector, one);
    return Lanes{n, hi, k, numerator, sector};
  }

  // The second half: position = (numerator × R + 0x8000) >> 16 with the reciprocal R = floor(0xFF0000 / K)
  // = 65536 high + low (high < 256) as numerator × high + ((numerator × low + 0x8000) >> 16), the last
  // term the high word of numerator × low plus bit 15 of its low word; then the shift, the ramp and the
  // candidate pairs.
  ORVANE_AVX512_INLINE void Pairs(Lanes& v, __m512i high, __m512i low) const {
    const __m512i num = v.numerator;
    const __m512i position = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(num, high), _mm512_mulhi_epu16(num, low)),
        _mm512_srli_epi16(_mm512_mullo_epi16(num, low), 15));
    // shifted = position + shift % 255, less 255 (and the index one more) where it passes 254.
    const __m512i shifted = _mm512_add_epi16(position, rem);
    const __mmask32 over = _mm512_cmpgt_epu16_mask(shifted, _mm512_set1_epi16(254));
    v.index = _mm512_mask_add_epi16(v.index, over, v.index, _mm512_set1_epi16(1));
    // ramp = (A × shifted + 128) >> 8 as mulhrs(A, 128 shifted); shifted <= 254.
    const __m512i wrapped = _mm512_mask_sub_epi16(shifted, over, shifted, _mm512_set1_epi16(255));
    const __m512i ramp = _mm512_mulhrs_epi16(_mm512_sub_epi16(v.high, v.low), _mm512_slli_epi16(wrapped, 7));
    // Each channel of the result is one byte of the pairs n | hi << 8 and up | down << 8 (up = n + ramp,
    // down = hi - ramp: the second pair is the first less 255 ramp, without borrows).
    v.low = _mm512_or_si512(v.low, _mm512_slli_epi16(v.high, 8));
    v.high = _mm512_sub_epi16(v.low, _mm512_mullo_epi16(ramp, _mm512_set1_epi16(255)));
  }

  // 64 pixels of kBpp bytes (3: blue, green, red; 4: the same and a fourth byte, which comes back
  // undefined) in kBpp registers to their results in the same layout.
  template <int kBpp>
  ORVANE_AVX512_INLINE void Block(const __m512i* in, __m512i* out) const {
    Lanes half[2];
    for (int h = 0; h < 2; ++h) {
      const __m512i x = in[kBpp == 3 ? h : 2 * h];
      const __m512i y = in[kBpp == 3 ? h + 1 : 2 * h + 1];
      __m512i ch[3];
      for (int c = 0; c < 3; ++c) {
        const uint8_t* index = kBpp == 3 ? kPermutes.gather3[h][c] : kPermutes.gather4[c];
        ch[c] = _mm512_maskz_permutex2var_epi8(kEvenBytes, x, Load(index), y);
      }
      half[h] = Levels(ch[0], ch[1], ch[2]);
    }
    // The reciprocals of the 64 chroma values, looked up as bytes and widened to each half's lanes.
    const __m512i k = _mm512_permutex2var_epi8(half[0].k, Load(kPermutes.lowBytes), half[1].k);
    const __m512i high = reciprocal[0].Lookup(k), mid = reciprocal[1].Lookup(k), low = reciprocal[2].Lookup(k);
    for (int h = 0; h < 2; ++h) {
      Pairs(half[h], _mm512_maskz_permutexvar_epi8(kEvenBytes, Load(kPermutes.widen[h]), high),
            _mm512_permutex2var_epi8(low, Load(kPermutes.widen[h]), mid));
    }
    // Each channel of pixel j of the 64 in byte j: byte 2 (j mod 32) of the pair registers of its half
    // plus the choice of its index, the two halves' permutes merged by a blend.
    const __m512i index = _mm512_permutex2var_epi8(half[0].index, Load(kPermutes.lowBytes), half[1].index);
    auto channel = [&](int ch) {
      const __m512i pick = _mm512_or_si512(Load(kPermutes.lanePairs), _mm512_shuffle_epi8(choice[ch], index));
      return _mm512_mask_blend_epi8(kUpperHalf, _mm512_permutex2var_epi8(half[0].low, pick, half[0].high),
                                    _mm512_permutex2var_epi8(half[1].low, pick, half[1].high));
    };
    const __m512i blue = channel(0);
    const __m512i green = channel(1);
    const __m512i red = channel(2);
    for (int o = 0; o < kBpp; ++o) {
      const uint8_t(&il)[2][64] = kBpp == 3 ? kPermutes.interleave3[o] : kPermutes.interleave4[o];
      const __mmask64 redBytes = kBpp == 3 ? kPermutes.red3[o] : kRedOf4;
      out[o] = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(blue, Load(il[0]), green), redBytes,
                                            Load(il[1]), red);
    }
  }
};

// The result byte b of a deep pixel's channel becomes the word b << 8, or the per-value table's entry
// for it: as two byte tables (the words' low and high bytes).
struct DeepWiden512 {
  bool table = false;
  alignas(64) uint8_t lowBytes[256];
  alignas(64) uint8_t highBytes[256];
  explicit DeepWiden512(const uint16_t* post16) : table(post16 != nullptr), lowBytes(), highBytes() {
    for (int b = 0; table && b < 256; ++b) {
      lowBytes[b] = static_cast<uint8_t>(post16[b << 8]);
      highBytes[b] = static_cast<uint8_t>(post16[b << 8] >> 8);
    }
  }
};

// One row of kBpp-byte pixels (kDeep: of kBpp 16-bit words, through their high bytes), 64 per step, the
// last step masked. kTable: with the per-value table (`post`; for deep pixels the tables of the result
// words' low and high bytes, `post` and `high`).
template <int kBpp, bool kDeep, bool kTable>
void HueSatRow(uint8_t* dst, const uint8_t* src, int count, const HueCore& core, const ByteTable512* post,
               const ByteTable512* high) {
  constexpr int kSize = kDeep ? 2 : 1;  // bytes per channel
  constexpr int kRegisters = kBpp * kSize;
  auto step = [&](const uint8_t* in, uint8_t* out, int bytes, auto full) ORVANE_AVX512_LAMBDA {
    auto load = [&](int j) {
      return full ? _mm512_loadu_si512(in + 64 * j) : _mm512_maskz_loadu_epi8(BlockMask(bytes, j), in + 64 * j);
    };
    auto store = [&](int j, __m512i v) {
      if (full) {
        _mm512_storeu_si512(out + 64 * j, v);
      } else {
        _mm512_mask_storeu_epi8(out + 64 * j, BlockMask(bytes, j), v);
      }
    };
    __m512i pixels[kBpp];
    for (int j = 0; j < kBpp; ++j) {
      pixels[j] = kDeep ? _mm512_permutex2var_epi8(load(2 * j), Load(kPermutes.highBytes), load(2 * j + 1)) : load(j);
    }
    __m512i result[kBpp];
    core.Block<kBpp>(pixels, result);
    for (int j = 0; j < kBpp; ++j) {
      if constexpr (!kDeep) {
        __m512i v = kTable ? post->Lookup(result[j]) : result[j];
        if (kBpp == 4) v = _mm512_mask_blend_epi8(kFourthOf4, v, pixels[j]);
        store(j, v);
      } else {
        const __m512i lowPart = kTable ? post->Lookup(result[j]) : _mm512_setzero_si512();
        const __m512i highPart = kTable ? high->Lookup(result[j]) : result[j];
        for (int h = 0; h < 2; ++h) {
          __m512i words = _mm512_permutex2var_epi8(lowPart, Load(kPermutes.widen[h]), highPart);
          if (kBpp == 4) words = _mm512_maskz_mov_epi8(~kFourthWordOf8, words);
          store(2 * j + h, words);
        }
      }
    }
  };
  int x = 0;
  for (; x + 64 <= count; x += 64, src += 64 * kRegisters, dst += 64 * kRegisters) {
    step(src, dst, 64 * kRegisters, std::true_type{});
  }
  if (x < count) step(src, dst, (count - x) * kRegisters, std::false_type{});
}

template <int kBpp, bool kDeep>
void HueSatRows(const Plane& dst, const Plane& src, int y0, int y1, const HueCore& core, const ByteTable512* post,
                const ByteTable512* high) {
  for (int y = y0; y < y1; ++y) {
    if (post != nullptr) {
      HueSatRow<kBpp, kDeep, true>(dst.Row(y), src.Row(y), src.width, core, post, high);
    } else {
      HueSatRow<kBpp, kDeep, false>(dst.Row(y), src.Row(y), src.width, core, nullptr, nullptr);
    }
  }
}

// A 256-entry table over n bytes, 64 per step; with keepFourth every fourth byte keeps its value.
void LutBytes(uint8_t* out, const uint8_t* in, int n, const ByteTable512& table, bool keepFourth) {
  const __mmask64 changed = keepFourth ? ~kFourthOf4 : ~__mmask64{0};
  int i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m512i x = _mm512_loadu_si512(in + i);
    _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(changed, x, table.Lookup(x)));
  }
  if (i < n) {
    const __mmask64 tail = BlockMask(n - i, 0);
    const __m512i x = _mm512_maskz_loadu_epi8(tail, in + i);
    _mm512_mask_storeu_epi8(out + i, tail, _mm512_mask_blend_epi8(changed, x, table.Lookup(x)));
  }
}

}  // namespace

void HueSat(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool* pool) {
  const int bpp = src.bytesPerPixel;
  if (!HueCore::Fits(p) || dst.bytesPerPixel != bpp || bpp < 3) {
    Avx2Kernels()->hueSat(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int y0, int y1) {
    const HueCore core(p);
    if (!src.Deep()) {
      std::optional<ByteTable512> post;
      if (p.post8 != nullptr) post.emplace(p.post8);
      const ByteTable512* table = post ? &*post : nullptr;
      if (bpp == 3) {
        HueSatRows<3, false>(dst, src, y0, y1, core, table, nullptr);
      } else {
        HueSatRows<4, false>(dst, src, y0, y1, core, table, nullptr);
      }
      return;
    }
    const DeepWiden512 widen(p.post16);
    std::optional<ByteTable512> low, high;
    if (widen.table) low.emplace(widen.lowBytes), high.emplace(widen.highBytes);
    const ByteTable512* lowTable = low ? &*low : nullptr;
    const ByteTable512* highTable = high ? &*high : nullptr;
    if (bpp == 6) {
      HueSatRows<3, true>(dst, src, y0, y1, core, lowTable, highTable);
    } else {
      HueSatRows<4, true>(dst, src, y0, y1, core, lowTable, highTable);
    }
  });
}

void Lut(const Plane& dst, const Plane& src, const LutParams& p, RowPool* pool) {
  if (src.Deep() || dst.bytesPerPixel != src.bytesPerPixel) {
    Avx2Kernels()->lut(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int y0, int y1) {
    const ByteTable512 table(p.lut8);
    for (int y = y0; y < y1; ++y) {
      LutBytes(dst.Row(y), src.Row(y), src.width * src.bytesPerPixel, table, src.bytesPerPixel == 4);
    }
  });
}

}  // namespace orvane::image::avx512

#endif
