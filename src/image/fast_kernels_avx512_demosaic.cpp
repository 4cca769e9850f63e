// AVX-512 demosaic of 8-bit mosaics into 24- and 32-bit pixels: the two-row step of the AVX2 kernel
// (DemosaicPairPlanes in fast_kernels_avx2.cpp, whose comment derives the arithmetic on the column-parity
// planes) on 64 columns per block in 512-bit registers, with the blue, green and red bytes put into pixel
// order by two byte permutes (VBMI) per 64 output bytes.
// The whole-frame pass writes the vector part of its 24-bit rows as whole cache lines with non-temporal
// stores: a frame's output (36 MB at 4000 x 3000) is larger than the caches, and a streamed line is not
// read from memory before it is written. The band path keeps plain stores, since the passes that follow
// it read its rows from the cache. 16-bit mosaics, images too small for one block, gains outside
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

constexpr int kBlock = 64;  // columns of one block, in each of the two output rows

// Position of column q (0..63 from the block start) in _mm512_packus_epi16(even, odd), where 16-bit lane
// j of the inputs holds columns 2j and 2j + 1: each 128-bit lane gets eight even columns, then eight odd.
constexpr int PackedPosition(int q) { return 16 * (q / 16) + 8 * (q & 1) + (q % 16) / 2; }

// Byte-permute indices that turn the packed blue, green and red bytes of a block into pixels of kBytes
// bytes. Output vector k: blueGreen picks blue (index < 64) or green (index >= 64) with one two-source
// permute, then red is permuted in where redMask is set. The fourth byte of 32-bit pixels is left to the
// store mask.
template <int kBytes>
struct InterleaveTable {
  alignas(64) uint8_t blueGreen[kBytes][64];
  alignas(64) uint8_t red[kBytes][64];
  uint64_t redMask[kBytes];
  constexpr InterleaveTable() : blueGreen(), red(), redMask() {
    for (int k = 0; k < kBytes; ++k) {
      for (int i = 0; i < 64; ++i) {
        const int byte = 64 * k + i;
        const int channel = byte % kBytes;
        const int at = PackedPosition(byte / kBytes);
        blueGreen[k][i] = static_cast<uint8_t>(channel == 1 ? 64 + at : at);
        red[k][i] = static_cast<uint8_t>(at);
        if (channel == 2) redMask[k] |= uint64_t{1} << i;
      }
    }
  }
};
template <int kBytes>
constexpr InterleaveTable<kBytes> kInterleave{};
// Bytes 0, 1, 2 of every 32-bit pixel: the fourth byte keeps what the output held.
constexpr uint64_t kColourBytes32 = 0x7777777777777777ULL;

ORVANE_ALWAYS_INLINE V LoadTable(const uint8_t* t) { return _mm512_load_si512(t); }
ORVANE_ALWAYS_INLINE V Load(const uint8_t* row, int c) { return _mm512_loadu_si512(row + c); }
ORVANE_ALWAYS_INLINE V Even(V w) { return _mm512_and_si512(w, _mm512_set1_epi16(0xFF)); }
ORVANE_ALWAYS_INLINE V Odd(V w) { return _mm512_srli_epi16(w, 8); }
ORVANE_ALWAYS_INLINE V Add(V a, V b) { return _mm512_add_epi16(a, b); }
ORVANE_ALWAYS_INLINE V Twice(V a) { return _mm512_add_epi16(a, a); }
ORVANE_ALWAYS_INLINE V Triple(V a) { return Add(Twice(a), a); }
// (sum × k) >> 11 for sums below 4096 and k <= 512, as the high half of sum × 32 k.
ORVANE_ALWAYS_INLINE V Scale(V sum, V factor32) { return _mm512_mulhi_epu16(sum, factor32); }

// Source rows r - 2 .. r + 2 of the output pair r, r + 1 (rows outside the image already replaced by the
// border rule). X is the colour of rows r ± 1, in the odd columns counted from the block start; Y the
// colour of rows r - 2, r, r + 2, in the even ones.
struct PairRows {
  const uint8_t* ym2;
  const uint8_t* xm1;
  const uint8_t* y0;
  const uint8_t* xp1;
  const uint8_t* yp2;
  // Rows r + 3 and r + 4, the two rows the next pair adds: fetched into the cache line by line while this
  // pair is computed.
  const uint8_t* next[2];
};

// The packed X, green and Y bytes of one block for output rows r ([0]) and r + 1 ([1]).
struct BlockColours {
  V x[2], g[2], y[2];
};

// One output row of the block from its vertical 3:1 sums (X: odd columns j - 1 and j; Y: even columns
// j - 1, j, j + 1) and its green inputs (the X row's even column j, the middle row's odd j - 1 and j).
ORVANE_ALWAYS_INLINE void FinishRow(BlockColours& out, int i, V vxOm, V vxO, V vyEm, V vyE, V vyEp, V xE, V yOm,
                                    V yO, V kX, V kY) {
  const V sx = Add(vxOm, vxO);
  const V xEven = Scale(Add(sx, Twice(vxOm)), kX);
  const V xOdd = Scale(Add(sx, Twice(vxO)), kX);
  const V ty = Triple(vyE);
  const V yEven = Scale(Add(ty, vyEm), kY);
  const V yOdd = Scale(Add(ty, vyEp), kY);
  const V gEven = _mm512_srli_epi16(Add(xE, yOm), 1);
  const V gOdd = _mm512_srli_epi16(Add(xE, yO), 1);
  // packus saturates the scaled sums at 255 exactly where sum × k reaches 0x80000.
  out.x[i] = _mm512_packus_epi16(xEven, xOdd);
  out.y[i] = _mm512_packus_epi16(yEven, yOdd);
  out.g[i] = _mm512_packus_epi16(gEven, gOdd);
}

// Columns c .. c + 63 of both output rows; reads columns c - 2 .. c + 65 of the source rows.
ORVANE_ALWAYS_INLINE BlockColours ComputeBlock(const PairRows& s, int c, V kX, V kY) {
  const V xmW = Load(s.xm1, c), xpW = Load(s.xp1, c);
  const V xmE = Even(xmW), xmO = Odd(xmW), xmOm = Odd(Load(s.xm1, c - 2));
  const V xpE = Even(xpW), xpO = Odd(xpW), xpOm = Odd(Load(s.xp1, c - 2));
  const V yW = Load(s.y0, c);
  const V yO = Odd(yW), yOm = Odd(Load(s.y0, c - 2));
  const V tE = Triple(Even(yW)), tEm = Triple(Even(Load(s.y0, c - 2))), tEp = Triple(Even(Load(s.y0, c + 2)));
  const V aE = Even(Load(s.ym2, c)), aEm = Even(Load(s.ym2, c - 2)), aEp = Even(Load(s.ym2, c + 2));
  const V bE = Even(Load(s.yp2, c)), bEm = Even(Load(s.yp2, c - 2)), bEp = Even(Load(s.yp2, c + 2));
  // X for row r is 3 (r - 1) + (r + 1), for row r + 1 the reverse; Y for row r is 3 r + (r - 2), for
  // row r + 1 3 r + (r + 2).
  const V sO = Add(xmO, xpO), sOm = Add(xmOm, xpOm);
  BlockColours out;
  FinishRow(out, 0, Add(sOm, Twice(xmOm)), Add(sO, Twice(xmO)), Add(tEm, aEm), Add(tE, aE), Add(tEp, aEp), xmE,
            yOm, yO, kX, kY);
  FinishRow(out, 1, Add(sOm, Twice(xpOm)), Add(sO, Twice(xpO)), Add(tEm, bEm), Add(tE, bE), Add(tEp, bEp), xpE,
            yOm, yO, kX, kY);
  return out;
}

// The pixels of one block row in output order: kBytes vectors of 64 bytes.
template <int kBytes>
ORVANE_ALWAYS_INLINE void Interleave(V (&v)[kBytes], V blue, V green, V red) {
  const InterleaveTable<kBytes>& t = kInterleave<kBytes>;
  for (int k = 0; k < kBytes; ++k) {
    const V bg = _mm512_permutex2var_epi8(blue, LoadTable(t.blueGreen[k]), green);
    v[k] = _mm512_mask_permutexvar_epi8(bg, t.redMask[k], LoadTable(t.red[k]), red);
  }
}

// One output row of the pair. Plain: each block's vectors stored where they belong (32-bit pixels under
// a mask that spares the fourth byte). Streamed (24-bit only): the rows' blocks follow each other every
// 192 bytes, three cache lines, so every line from the second block on is the end of the previous
// block's last vector joined to the start of the next one at a fixed byte offset; one two-source permute
// joins them and the line goes out with a non-temporal store. The first block is stored plainly and the
// last vector of the last block after the loop.
template <int kBytes>
struct RowWriter {
  uint8_t* row;
  V join;        // indices i + 64 - misalign: the line that starts `misalign` bytes before a vector
  V tail;        // last vector of the previous block
  int misalign;  // offset of the first block's output from the cache line that holds it

  RowWriter(uint8_t* r, int c0) : row(r), join(), tail() {
    misalign = static_cast<int>(reinterpret_cast<uintptr_t>(r + static_cast<ptrdiff_t>(kBytes) * c0) & 63);
    join = _mm512_add_epi8(_mm512_set_epi64(0x3F3E3D3C3B3A3938, 0x3736353433323130, 0x2F2E2D2C2B2A2928,
                                            0x2726252423222120, 0x1F1E1D1C1B1A1918, 0x1716151413121110,
                                            0x0F0E0D0C0B0A0908, 0x0706050403020100),
                           _mm512_set1_epi8(static_cast<char>(64 - misalign)));
  }
  ORVANE_ALWAYS_INLINE void Plain(int c, const V (&v)[kBytes]) {
    uint8_t* out = row + static_cast<ptrdiff_t>(kBytes) * c;
    for (int k = 0; k < kBytes; ++k) {
      if constexpr (kBytes == 4) {
        _mm512_mask_storeu_epi8(out + 64 * k, kColourBytes32, v[k]);
      } else {
        _mm512_storeu_si512(out + 64 * k, v[k]);
      }
    }
    tail = v[kBytes - 1];
  }
  ORVANE_ALWAYS_INLINE void Stream(int c, const V (&v)[kBytes]) {
    static_assert(kBytes == 3, "32-bit rows keep their fourth byte and are stored plainly");
    uint8_t* line = row + static_cast<ptrdiff_t>(3) * c - misalign;
    _mm512_stream_si512(reinterpret_cast<V*>(line), _mm512_permutex2var_epi8(tail, join, v[0]));
    _mm512_stream_si512(reinterpret_cast<V*>(line + 64), _mm512_permutex2var_epi8(v[0], join, v[1]));
    _mm512_stream_si512(reinterpret_cast<V*>(line + 128), _mm512_permutex2var_epi8(v[1], join, v[2]));
    tail = v[2];
  }
  // After the last streamed block at column c: the bytes of its last vector not yet written.
  void Flush(int c) { _mm512_storeu_si512(row + static_cast<ptrdiff_t>(3) * c + 128, tail); }
};

// Columns c0, c0 + 64, ... of output rows r (out0) and r + 1 (out1); returns the first column not done.
// c0 (2 or 3) puts X in the odd columns of each block. The columns left over after the last whole block
// go into one more block ending at width - 3 (or width - 4, to keep the parity of c0), overlapping the
// previous one and stored plainly.
template <int kBytes, bool kStream, bool kXIsRed>
int PairBlocks(uint8_t* out0, uint8_t* out1, const PairRows& s, int width, int c0, int kRed, int kBlue) {
  const V kX = _mm512_set1_epi16(static_cast<int16_t>(32 * (kXIsRed ? kRed : kBlue)));
  const V kY = _mm512_set1_epi16(static_cast<int16_t>(32 * (kXIsRed ? kBlue : kRed)));
  RowWriter<kBytes> rows[2] = {RowWriter<kBytes>(out0, c0), RowWriter<kBytes>(out1, c0)};
  auto block = [&](int c, bool stream) ORVANE_ALWAYS_INLINE_LAMBDA {
    _mm_prefetch(reinterpret_cast<const char*>(s.next[0] + c), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(s.next[1] + c), _MM_HINT_T0);
    const BlockColours b = ComputeBlock(s, c, kX, kY);
    for (int i = 0; i < 2; ++i) {
      V v[kBytes];
      if constexpr (kXIsRed) {
        Interleave<kBytes>(v, b.y[i], b.g[i], b.x[i]);
      } else {
        Interleave<kBytes>(v, b.x[i], b.g[i], b.y[i]);
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

// Whether the vector code takes the frame: an 8-bit mosaic into 24 or 32 bits, four rows or more (the
// border rule then keeps the colour of the rows outside), room for one block, factors of gains 0..400 %.
bool Handles(const Plane& dst, const Plane& src, const DemosaicParams& p) {
  return src.bytesPerPixel == 1 && (dst.bytesPerPixel == 3 || dst.bytesPerPixel == 4) && src.height >= 4 &&
         src.width >= kBlock + 5 && p.kRed >= 0 && p.kRed <= 512 && p.kBlue >= 0 && p.kBlue <= 512;
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
template <int kBytes>
void RowEdges(uint8_t* out, const DemosaicParams& p, const BorderColumns& border, const uint8_t* const (&rows)[5],
              int r, int y, int width, int c0, int done) {
  const int rowFlag = PhaseRowFlag(p.phase);
  const int redLeftAt2 = ((1 + PhaseColFlag(p.phase)) & 1) == 0 ? 1 : 0;
  // Source rows of output row y: its red row, the red row beyond, its blue row, the blue row beyond.
  const int i = y - r + 2;  // index of row y in rows[]
  const bool upper = ((y - 1 + rowFlag) & 1) == 1;
  const uint8_t* a = upper ? rows[i - 1] : rows[i];
  const uint8_t* a2 = upper ? rows[i + 1] : rows[i - 2];
  const uint8_t* b = upper ? rows[i] : rows[i - 1];
  const uint8_t* b2 = upper ? rows[i - 2] : rows[i + 1];
  if (c0 == 3) DemosaicSpan<uint8_t>(out, kBytes, a, a2, b, b2, 2, 3, redLeftAt2, p.kRed, p.kBlue);
  DemosaicSpan<uint8_t>(out, kBytes, a, a2, b, b2, done, width - 2, redLeftAt2 ^ ((done - 2) & 1), p.kRed,
                        p.kBlue);
  for (int k = 0; k < 4; ++k) {
    const int rc = border.rc[k], rc2 = border.rc2[k], bc = border.bc[k], bc2 = border.bc2[k];
    const int rs = (9 * a[rc] + 3 * a[rc2] + 3 * a2[rc] + a2[rc2]) * p.kRed;
    const int bs = (9 * b[bc] + 3 * b[bc2] + 3 * b2[bc] + b2[bc2]) * p.kBlue;
    uint8_t* px = out + static_cast<ptrdiff_t>(kBytes) * border.c[k];
    px[0] = static_cast<uint8_t>(bs >= (256 << 11) ? 255 : bs >> 11);
    px[1] = static_cast<uint8_t>((a[bc] + b[rc]) >> 1);
    px[2] = static_cast<uint8_t>(rs >= (256 << 11) ? 255 : rs >> 11);
  }
}

// Rows r0 .. r1 - 1 two at a time (the top and bottom rows too, reading the rows outside the image by the
// border rule); an odd last row goes to the AVX2 code.
template <int kBytes, bool kStream>
void PairedRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  const int w = src.width;
  const int h = src.height;
  const int rowFlag = PhaseRowFlag(p.phase);
  const int colFlag = PhaseColFlag(p.phase);
  auto row = [&](int y) -> const uint8_t* { return src.Row(MapBorderIndex(y, h)); };
  const BorderColumns border(w, colFlag);
  int r = r0;
  for (; r + 1 < r1; r += 2) {
    // Rows r ± 1 hold red when red lies in the upper row of row r's cells; a column x holds red when
    // x + colFlag is even.
    const bool xIsRed = ((r - 1 + rowFlag) & 1) == 1;
    const int xParity = xIsRed ? (colFlag & 1) : ((colFlag + 1) & 1);
    const int c0 = xParity == 1 ? 2 : 3;
    const uint8_t* const rows[5] = {row(r - 2), row(r - 1), row(r), row(r + 1), row(r + 2)};
    const PairRows s{rows[0], rows[1], rows[2], rows[3], rows[4], {row(r + 3), row(r + 4)}};
    const int done = xIsRed ? PairBlocks<kBytes, kStream, true>(dst.Row(r), dst.Row(r + 1), s, w, c0, p.kRed, p.kBlue)
                            : PairBlocks<kBytes, kStream, false>(dst.Row(r), dst.Row(r + 1), s, w, c0, p.kRed, p.kBlue);
    RowEdges<kBytes>(dst.Row(r), p, border, rows, r, r, w, c0, done);
    RowEdges<kBytes>(dst.Row(r + 1), p, border, rows, r, r + 1, w, c0, done);
  }
  // The streamed lines reach memory before the rows are handed on (to another thread as well).
  if constexpr (kStream) _mm_sfence();
  if (r < r1) Avx2Kernels()->demosaicRows(dst, src, p, r, r1);
}

}  // namespace

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool) {
  if (!Handles(dst, src, p)) {
    Avx2Kernels()->demosaic(dst, src, p, pool);
    return;
  }
  ForRows(pool, src.height, [&](int r0, int r1) {
    if (dst.bytesPerPixel == 3) {
      PairedRows<3, true>(dst, src, p, r0, r1);
    } else {
      PairedRows<4, false>(dst, src, p, r0, r1);
    }
  });
}

void DemosaicRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  if (!Handles(dst, src, p)) {
    Avx2Kernels()->demosaicRows(dst, src, p, r0, r1);
  } else if (dst.bytesPerPixel == 3) {
    PairedRows<3, false>(dst, src, p, r0, r1);
  } else {
    PairedRows<4, false>(dst, src, p, r0, r1);
  }
}

}  // namespace orvane::image::avx512

#endif
