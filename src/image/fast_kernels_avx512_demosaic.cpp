// AVX-512 demosaic of 8- and 16-bit mosaics into three- and four-channel pixels: the two-row step of the
// AVX2 kernel (DemosaicPairPlanes in fast_kernels_avx2.cpp, whose comment derives the arithmetic on the
// column-parity planes) on 64 columns of 8-bit or 32 of 16-bit samples per block in 512-bit registers,
// with the blue, green and red elements put into pixel order by two permutes (VBMI for bytes) per 64
// output bytes.
// The whole-frame pass writes the vector part of its 24- and 48-bit rows as whole cache lines with
// non-temporal stores: a frame's output (36 or 72 MB at 4000 x 3000) is larger than the caches, and a
// streamed line is not read from memory before it is written. The band path keeps plain stores, since the
// passes that follow it read its rows from the cache. Images too small for one block, gains outside
// 0..400 % and the odd last row of a range keep the AVX2 code.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/fast_kernels_avx512.h"
#include "image/kernels.h"
#include "image/row_pool.h"

#if defined(__x86_64__)
#include <immintrin.h>

// Every function defined below may use AVX-512; the headers above keep their baseline code.
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")

namespace orvane::image::avx512 {

namespace {

#include "image/fast_kernels_impl.h"

using V = __m512i;

// Lane arithmetic. 8-bit samples: 64 columns per block in 16-bit lanes; sums stay below 4096 and a gain
// factor k of at most 512 gives (sum × k) >> 11 as the high half of sum × 32 k, which packus saturates at
// 255 exactly where sum × k reaches 0x80000. Output elements are bytes.
struct Lanes8 {
  using Sample = uint8_t;
  static constexpr int kBlock = 64;
  static constexpr int kElementBytes = 1;
  static constexpr int kMax = 255;
  static V Even(V w) { return _mm512_and_si512(w, _mm512_set1_epi16(0xFF)); }
  static V Odd(V w) { return _mm512_srli_epi16(w, 8); }
  static V Add(V a, V b) { return _mm512_add_epi16(a, b); }
  static V Half(V a) { return _mm512_srli_epi16(a, 1); }
  static V Factor(int k) { return _mm512_set1_epi16(static_cast<int16_t>(32 * k)); }
  static V Scale(V sum, V factor) { return _mm512_mulhi_epu16(sum, factor); }
  static V Pack(V even, V odd) { return _mm512_packus_epi16(even, odd); }
  static V Permute2(V a, V index, V b) { return _mm512_permutex2var_epi8(a, index, b); }
  static V PermuteInto(V into, uint64_t mask, V index, V a) {
    return _mm512_mask_permutexvar_epi8(into, mask, index, a);
  }
};

// 16-bit samples: 32 columns per block in 32-bit lanes; sum × k < 2^30, and packus_epi32 saturates the
// shifted product at 65535 exactly where it reaches 0x8000000. Output elements are 16-bit words. Shifts
// use the zero-masking form with every lane on: GCC 12 warns of an uninitialised value inside its own
// header for the plain _mm512_srli_epi32.
struct Lanes16 {
  using Sample = uint16_t;
  static constexpr int kBlock = 32;
  static constexpr int kElementBytes = 2;
  static constexpr int kMax = 65535;
  static V Even(V w) { return _mm512_and_si512(w, _mm512_set1_epi32(0xFFFF)); }
  static V Odd(V w) { return _mm512_maskz_srli_epi32(0xFFFF, w, 16); }
  static V Add(V a, V b) { return _mm512_add_epi32(a, b); }
  static V Half(V a) { return _mm512_maskz_srli_epi32(0xFFFF, a, 1); }
  static V Factor(int k) { return _mm512_set1_epi32(k); }
  static V Scale(V sum, V factor) { return _mm512_maskz_srli_epi32(0xFFFF, _mm512_mullo_epi32(sum, factor), 11); }
  static V Pack(V even, V odd) { return _mm512_packus_epi32(even, odd); }
  static V Permute2(V a, V index, V b) { return _mm512_permutex2var_epi16(a, index, b); }
  static V PermuteInto(V into, uint64_t mask, V index, V a) {
    return _mm512_mask_permutexvar_epi16(into, static_cast<__mmask32>(mask), index, a);
  }
};

// Position of column q (0 .. kBlock - 1 from the block start) in L::Pack(even, odd), where lane j of the
// inputs holds columns 2j and 2j + 1: each 128-bit lane gets its lanes' even columns, then the odd ones.
template <typename L>
constexpr int PackedPosition(int q) {
  constexpr int kPerLane = 16 / L::kElementBytes;
  return kPerLane * (q / kPerLane) + kPerLane / 2 * (q & 1) + (q % kPerLane) / 2;
}

// Permute indices (one per output element) that turn the packed blue, green and red elements of a block
// into pixels of kChannels elements. Output vector k: blueGreen picks blue (index < n) or green (index
// >= n, n elements per vector) with one two-source permute, then red is permuted in where redMask is set.
// The fourth element of 32- and 64-bit pixels is left to the store mask.
template <typename L, int kChannels>
struct InterleaveTable {
  alignas(64) uint8_t blueGreen[kChannels][64];
  alignas(64) uint8_t red[kChannels][64];
  uint64_t redMask[kChannels];
  constexpr InterleaveTable() : blueGreen(), red(), redMask() {
    constexpr int n = 64 / L::kElementBytes;
    for (int k = 0; k < kChannels; ++k) {
      for (int i = 0; i < n; ++i) {
        const int element = n * k + i;
        const int channel = element % kChannels;
        const int at = PackedPosition<L>(element / kChannels);
        // Indices are stored as little-endian elements of the permute's width.
        blueGreen[k][i * L::kElementBytes] = static_cast<uint8_t>(channel == 1 ? n + at : at);
        red[k][i * L::kElementBytes] = static_cast<uint8_t>(at);
        if (channel == 2) redMask[k] |= uint64_t{1} << i;
      }
    }
  }
};
template <typename L, int kChannels>
constexpr InterleaveTable<L, kChannels> kInterleave{};

ORVANE_ALWAYS_INLINE V LoadTable(const uint8_t* t) { return _mm512_load_si512(t); }

// Source rows r - 2 .. r + 2 of the output pair r, r + 1 (rows outside the image already replaced by the
// border rule). X is the colour of rows r ± 1, in the odd columns counted from the block start; Y the
// colour of rows r - 2, r, r + 2, in the even ones.
template <typename S>
struct PairRows {
  const S* ym2;
  const S* xm1;
  const S* y0;
  const S* xp1;
  const S* yp2;
  // Rows r + 3 and r + 4, the two rows the next pair adds: fetched into the cache line by line while this
  // pair is computed.
  const S* next[2];
};

// The packed X, green and Y elements of one block for output rows r ([0]) and r + 1 ([1]).
struct BlockColours {
  V x[2], g[2], y[2];
};

// One output row of the block from its vertical 3:1 sums (X: odd columns j - 1 and j; Y: even columns
// j - 1, j, j + 1) and its green inputs (the X row's even column j, the middle row's odd j - 1 and j).
template <typename L>
ORVANE_ALWAYS_INLINE void FinishRow(BlockColours& out, int i, V vxOm, V vxO, V vyEm, V vyE, V vyEp, V xE, V yOm,
                                    V yO, V kX, V kY) {
  const V sx = L::Add(vxOm, vxO);
  const V xEven = L::Scale(L::Add(sx, L::Add(vxOm, vxOm)), kX);
  const V xOdd = L::Scale(L::Add(sx, L::Add(vxO, vxO)), kX);
  const V ty = L::Add(L::Add(vyE, vyE), vyE);
  const V yEven = L::Scale(L::Add(ty, vyEm), kY);
  const V yOdd = L::Scale(L::Add(ty, vyEp), kY);
  out.x[i] = L::Pack(xEven, xOdd);
  out.y[i] = L::Pack(yEven, yOdd);
  out.g[i] = L::Pack(L::Half(L::Add(xE, yOm)), L::Half(L::Add(xE, yO)));
}

// Columns c .. c + kBlock - 1 of both output rows; reads columns c - 2 .. c + kBlock + 1 of the source
// rows.
template <typename L>
ORVANE_ALWAYS_INLINE BlockColours ComputeBlock(const PairRows<typename L::Sample>& s, int c, V kX, V kY) {
  auto load = [c](const typename L::Sample* row, int dc) { return _mm512_loadu_si512(row + c + dc); };
  auto triple = [](V v) { return L::Add(L::Add(v, v), v); };
  const V xmW = load(s.xm1, 0), xpW = load(s.xp1, 0);
  const V xmE = L::Even(xmW), xmO = L::Odd(xmW), xmOm = L::Odd(load(s.xm1, -2));
  const V xpE = L::Even(xpW), xpO = L::Odd(xpW), xpOm = L::Odd(load(s.xp1, -2));
  const V yW = load(s.y0, 0), yWm = load(s.y0, -2);
  const V yO = L::Odd(yW), yOm = L::Odd(yWm);
  const V tE = triple(L::Even(yW)), tEm = triple(L::Even(yWm)), tEp = triple(L::Even(load(s.y0, 2)));
  const V aE = L::Even(load(s.ym2, 0)), aEm = L::Even(load(s.ym2, -2)), aEp = L::Even(load(s.ym2, 2));
  const V bE = L::Even(load(s.yp2, 0)), bEm = L::Even(load(s.yp2, -2)), bEp = L::Even(load(s.yp2, 2));
  // X for row r is 3 (r - 1) + (r + 1), for row r + 1 the reverse; Y for row r is 3 r + (r - 2), for
  // row r + 1 3 r + (r + 2).
  const V sO = L::Add(xmO, xpO), sOm = L::Add(xmOm, xpOm);
  BlockColours out;
  FinishRow<L>(out, 0, L::Add(sOm, L::Add(xmOm, xmOm)), L::Add(sO, L::Add(xmO, xmO)), L::Add(tEm, aEm),
               L::Add(tE, aE), L::Add(tEp, aEp), xmE, yOm, yO, kX, kY);
  FinishRow<L>(out, 1, L::Add(sOm, L::Add(xpOm, xpOm)), L::Add(sO, L::Add(xpO, xpO)), L::Add(tEm, bEm),
               L::Add(tE, bE), L::Add(tEp, bEp), xpE, yOm, yO, kX, kY);
  return out;
}

// The pixels of one block row in output order: kChannels vectors of 64 bytes.
template <typename L, int kChannels>
ORVANE_ALWAYS_INLINE void Interleave(V (&v)[kChannels], V blue, V green, V red) {
  const InterleaveTable<L, kChannels>& t = kInterleave<L, kChannels>;
  for (int k = 0; k < kChannels; ++k) {
    const V bg = L::Permute2(blue, LoadTable(t.blueGreen[k]), green);
    v[k] = L::PermuteInto(bg, t.redMask[k], LoadTable(t.red[k]), red);
  }
}

// One output row of the pair; a block's output is 192 (three channels) or 256 bytes. Plain: each block's
// vectors stored where they belong (four-channel pixels under a mask that spares the fourth element).
// Streamed (three channels only): the blocks follow each other every three cache lines, so every line
// from the second block on is the end of the previous block's last vector joined to the start of the
// next one at a fixed byte offset; one two-source byte permute joins them and the line goes out with a
// non-temporal store. The first block is stored plainly, the last vector of the last block after the loop.
template <typename L, int kChannels>
struct RowWriter {
  static constexpr int kPixelBytes = kChannels * L::kElementBytes;
  // Colour bytes of four-channel pixels: 0, 1, 2 of 4, or 0 .. 5 of 8.
  static constexpr uint64_t kColourBytes = L::kElementBytes == 1 ? 0x7777777777777777ULL : 0x3F3F3F3F3F3F3F3FULL;
  uint8_t* row;
  V join;        // indices i + 64 - misalign: the line that starts `misalign` bytes before a vector
  V tail;        // last vector of the previous block
  int misalign;  // offset of the first block's output from the cache line that holds it

  RowWriter(uint8_t* r, int c0) : row(r), join(), tail() {
    misalign = static_cast<int>(reinterpret_cast<uintptr_t>(r + static_cast<ptrdiff_t>(kPixelBytes) * c0) & 63);
    join = _mm512_add_epi8(_mm512_set_epi64(0x3F3E3D3C3B3A3938, 0x3736353433323130, 0x2F2E2D2C2B2A2928,
                                            0x2726252423222120, 0x1F1E1D1C1B1A1918, 0x1716151413121110,
                                            0x0F0E0D0C0B0A0908, 0x0706050403020100),
                           _mm512_set1_epi8(static_cast<char>(64 - misalign)));
  }
  ORVANE_ALWAYS_INLINE void Plain(int c, const V (&v)[kChannels]) {
    uint8_t* out = row + static_cast<ptrdiff_t>(kPixelBytes) * c;
    for (int k = 0; k < kChannels; ++k) {
      if constexpr (kChannels == 4) {
        _mm512_mask_storeu_epi8(out + 64 * k, kColourBytes, v[k]);
      } else {
        _mm512_storeu_si512(out + 64 * k, v[k]);
      }
    }
    tail = v[kChannels - 1];
  }
  ORVANE_ALWAYS_INLINE void Stream(int c, const V (&v)[kChannels]) {
    static_assert(kChannels == 3, "four-channel rows keep their fourth element and are stored plainly");
    uint8_t* line = row + static_cast<ptrdiff_t>(kPixelBytes) * c - misalign;
    _mm512_stream_si512(reinterpret_cast<V*>(line), _mm512_permutex2var_epi8(tail, join, v[0]));
    _mm512_stream_si512(reinterpret_cast<V*>(line + 64), _mm512_permutex2var_epi8(v[0], join, v[1]));
    _mm512_stream_si512(reinterpret_cast<V*>(line + 128), _mm512_permutex2var_epi8(v[1], join, v[2]));
    tail = v[2];
  }
  // After the last streamed block at column c: the bytes of its last vector not yet written.
  void Flush(int c) { _mm512_storeu_si512(row + static_cast<ptrdiff_t>(kPixelBytes) * c + 128, tail); }
};

// Columns c0, c0 + kBlock, ... of output rows r (out0) and r + 1 (out1); returns the first column not
// done. c0 (2 or 3) puts X in the odd columns of each block. The columns left over after the last whole
// block go into one more block ending at width - 3 (or width - 4, to keep the parity of c0), overlapping
// the previous one and stored plainly.
template <typename L, int kChannels, bool kStream, bool kXIsRed>
int PairBlocks(uint8_t* out0, uint8_t* out1, const PairRows<typename L::Sample>& s, int width, int c0, int kRed,
               int kBlue) {
  constexpr int kBlock = L::kBlock;
  const V kX = L::Factor(kXIsRed ? kRed : kBlue);
  const V kY = L::Factor(kXIsRed ? kBlue : kRed);
  RowWriter<L, kChannels> rows[2] = {RowWriter<L, kChannels>(out0, c0), RowWriter<L, kChannels>(out1, c0)};
  auto block = [&](int c, bool stream) ORVANE_ALWAYS_INLINE_LAMBDA {
    _mm_prefetch(reinterpret_cast<const char*>(s.next[0] + c), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(s.next[1] + c), _MM_HINT_T0);
    const BlockColours b = ComputeBlock<L>(s, c, kX, kY);
    for (int i = 0; i < 2; ++i) {
      V v[kChannels];
      if constexpr (kXIsRed) {
        Interleave<L, kChannels>(v, b.y[i], b.g[i], b.x[i]);
      } else {
        Interleave<L, kChannels>(v, b.x[i], b.g[i], b.y[i]);
      }
      if constexpr (kStream) {
        if (stream) {
          rows[i].Stream(c, v);
          continue;
        }
      }
      rows[i].Plain(c, v);
    }
  };
  int c = c0;
  if (c + kBlock + 2 <= width) block(c, false), c += kBlock;
  for (; c + kBlock + 2 <= width; c += kBlock) block(c, true);
  if constexpr (kStream) {
    if (c > c0 + kBlock) rows[0].Flush(c - kBlock), rows[1].Flush(c - kBlock);
  }
  int last = width - 2 - kBlock;
  last -= (last - c0) & 1;
  if (c < width - 2 && last >= c0) {
    block(last, false);
    c = last + kBlock;
  }
  return c;
}

// The source columns of the four border columns 0, 1, width - 2, width - 1 (columns outside the image
// replaced by the border rule), the same for every row: the red column and the one beyond, the blue
// column and the one beyond.
struct BorderColumns {
  int c[4], rc[4], rc2[4], bc[4], bc2[4];
  BorderColumns(int width, int colFlag) {
    const int columns[4] = {0, 1, width - 2, width - 1};
    for (int i = 0; i < 4; ++i) {
      const int x = columns[i];
      const bool redLeft = ((x - 1 + colFlag) & 1) == 0;
      c[i] = x;
      rc[i] = MapBorderIndex(redLeft ? x - 1 : x, width);
      rc2[i] = MapBorderIndex(redLeft ? x + 1 : x - 2, width);
      bc[i] = MapBorderIndex(redLeft ? x : x - 1, width);
      bc2[i] = MapBorderIndex(redLeft ? x - 2 : x + 1, width);
    }
  }
};

// Columns 0 .. c0 - 1 and done .. width - 1 of output row y of the pair starting at r, in scalar code.
template <typename T, int kChannels>
void RowEdges(T* out, const DemosaicParams& p, const BorderColumns& border, const T* const (&rows)[5], int r, int y,
              int width, int c0, int done) {
  constexpr int kMax = sizeof(T) == 1 ? 255 : 65535;
  constexpr int kLimit = (kMax + 1) << 11;
  const int rowFlag = PhaseRowFlag(p.phase);
  const int redLeftAt2 = ((1 + PhaseColFlag(p.phase)) & 1) == 0 ? 1 : 0;
  // Source rows of output row y: its red row, the red row beyond, its blue row, the blue row beyond.
  const int i = y - r + 2;  // index of row y in rows[]
  const bool upper = ((y - 1 + rowFlag) & 1) == 1;
  const T* a = upper ? rows[i - 1] : rows[i];
  const T* a2 = upper ? rows[i + 1] : rows[i - 2];
  const T* b = upper ? rows[i] : rows[i - 1];
  const T* b2 = upper ? rows[i - 2] : rows[i + 1];
  if (c0 == 3) DemosaicSpan<T>(out, kChannels, a, a2, b, b2, 2, 3, redLeftAt2, p.kRed, p.kBlue);
  DemosaicSpan<T>(out, kChannels, a, a2, b, b2, done, width - 2, redLeftAt2 ^ ((done - 2) & 1), p.kRed, p.kBlue);
  for (int k = 0; k < 4; ++k) {
    const int rc = border.rc[k], rc2 = border.rc2[k], bc = border.bc[k], bc2 = border.bc2[k];
    const int rs = (9 * a[rc] + 3 * a[rc2] + 3 * a2[rc] + a2[rc2]) * p.kRed;
    const int bs = (9 * b[bc] + 3 * b[bc2] + 3 * b2[bc] + b2[bc2]) * p.kBlue;
    T* px = out + static_cast<ptrdiff_t>(kChannels) * border.c[k];
    px[0] = static_cast<T>(bs >= kLimit ? kMax : bs >> 11);
    px[1] = static_cast<T>((a[bc] + b[rc]) >> 1);
    px[2] = static_cast<T>(rs >= kLimit ? kMax : rs >> 11);
  }
}

// Rows r0 .. r1 - 1 two at a time (the top and bottom rows too, reading the rows outside the image by the
// border rule); an odd last row goes to the AVX2 code.
template <typename L, int kChannels, bool kStream>
void PairedRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  using T = typename L::Sample;
  const int w = src.width;
  const int h = src.height;
  const int rowFlag = PhaseRowFlag(p.phase);
  const int colFlag = PhaseColFlag(p.phase);
  auto row = [&](int y) { return reinterpret_cast<const T*>(src.Row(MapBorderIndex(y, h))); };
  const BorderColumns border(w, colFlag);
  int r = r0;
  for (; r + 1 < r1; r += 2) {
    // Rows r ± 1 hold red when red lies in the upper row of row r's cells; a column x holds red when
    // x + colFlag is even.
    const bool xIsRed = ((r - 1 + rowFlag) & 1) == 1;
    const int xParity = xIsRed ? (colFlag & 1) : ((colFlag + 1) & 1);
    const int c0 = xParity == 1 ? 2 : 3;
    const T* const rows[5] = {row(r - 2), row(r - 1), row(r), row(r + 1), row(r + 2)};
    const PairRows<T> s{rows[0], rows[1], rows[2], rows[3], rows[4], {row(r + 3), row(r + 4)}};
    const int done =
        xIsRed ? PairBlocks<L, kChannels, kStream, true>(dst.Row(r), dst.Row(r + 1), s, w, c0, p.kRed, p.kBlue)
               : PairBlocks<L, kChannels, kStream, false>(dst.Row(r), dst.Row(r + 1), s, w, c0, p.kRed, p.kBlue);
    for (int y : {r, r + 1}) {
      RowEdges<T, kChannels>(reinterpret_cast<T*>(dst.Row(y)), p, border, rows, r, y, w, c0, done);
    }
  }
  // The streamed lines reach memory before the rows are handed on (to another thread as well).
  if constexpr (kStream) _mm_sfence();
  if (r < r1) Avx2Kernels()->demosaicRows(dst, src, p, r, r1);
}

// Whether the vector code takes the frame: 8- or 16-bit samples into three or four channels of the same
// depth, four rows or more (the border rule then keeps the colour of the rows outside), room for one
// block, factors of gains 0..400 %.
bool Handles(const Plane& dst, const Plane& src, const DemosaicParams& p) {
  const int sample = src.bytesPerPixel;
  const int block = sample == 1 ? Lanes8::kBlock : Lanes16::kBlock;
  return (sample == 1 || sample == 2) && (dst.bytesPerPixel == 3 * sample || dst.bytesPerPixel == 4 * sample) &&
         src.height >= 4 && src.width >= block + 5 && p.kRed >= 0 && p.kRed <= 512 && p.kBlue >= 0 &&
         p.kBlue <= 512;
}

// Rows r0 .. r1 - 1 of a frame that Handles() takes.
template <bool kStream>
void Rows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  const bool three = dst.bytesPerPixel == 3 * src.bytesPerPixel;
  if (src.bytesPerPixel == 1) {
    three ? PairedRows<Lanes8, 3, kStream>(dst, src, p, r0, r1) : PairedRows<Lanes8, 4, false>(dst, src, p, r0, r1);
  } else {
    three ? PairedRows<Lanes16, 3, kStream>(dst, src, p, r0, r1) : PairedRows<Lanes16, 4, false>(dst, src, p, r0, r1);
  }
}

}  // namespace

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool) {
  if (!Handles(dst, src, p)) {
    Avx2Kernels()->demosaic(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int r0, int r1) { Rows<true>(dst, src, p, r0, r1); });
}

void DemosaicRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  if (!Handles(dst, src, p)) {
    Avx2Kernels()->demosaicRows(dst, src, p, r0, r1);
  } else {
    Rows<false>(dst, src, p, r0, r1);
  }
}

}  // namespace orvane::image::avx512

#endif
