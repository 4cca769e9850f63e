// The row kernels of the mask corrections as plain loops without branches, written so that the compiler
// vectorises them for the instruction set of the including file. Included inside an anonymous namespace
// by defect_kernels.cpp (x86-64 baseline) and defect_kernels_avx2.cpp (AVX2); no include guard on
// purpose.

// `ifMarked` where the mark (0 or 1) is set, else `otherwise`, by a mask rather than a branch.
template <typename T>
inline T Select(uint8_t mark, T ifMarked, T otherwise) {
  const T keep = static_cast<T>(0u - mark);
  return static_cast<T>((ifMarked & keep) | (otherwise & static_cast<T>(~keep)));
}

// The shading without a 64-bit division per pixel. 8-bit: with d != w, the quotient ((x - d) 256) / (w - d)
// is at most 0 (limited to 0) unless x - d and w - d are non-zero with the same sign; then it is 255 from
// |x - d| >= |w - d| on, and below that |x - d| 256 / |w - d| < 256 in single precision, truncated: the
// dividend (< 2^16) and divisor are exact, the quotient is rounded correctly, and an inexact quotient lies
// at least 1/255 from an integer, far more than the rounding (2^-17). 16-bit: with d < w, x <= d gives 0,
// x - d >= w - d gives 65535, and in between (x - d) 65536 / (w - d) < 65536 in double precision,
// truncated (an inexact quotient lies at least 1/65535 from an integer, the rounding is below 2^-36).
inline uint8_t ShadeSample(int v, int d, int w) {
  const int a = v - d;
  const int b = w - d;
  const int aa = a < 0 ? -a : a;
  const int bb = b < 0 ? -b : b;
  const bool positive = a != 0 && (a ^ b) >= 0;
  const int q = static_cast<int>(static_cast<float>(aa * 256) / static_cast<float>(bb == 0 ? 1 : bb));
  const int shaded = positive ? (aa >= bb ? 255 : q) : 0;
  return static_cast<uint8_t>(b == 0 ? v : shaded);
}
inline uint16_t ShadeSample(uint16_t v, uint16_t d, uint16_t w) {
  const int a = static_cast<int>(v) - d;
  const int b = static_cast<int>(w) - d;
  const int q = static_cast<int>(static_cast<double>(a) * 65536.0 / static_cast<double>(b <= 0 ? 1 : b));
  const int shaded = a <= 0 ? 0 : (a >= b ? 65535 : q);
  return static_cast<uint16_t>(b <= 0 ? v : shaded);
}

template <typename T>
void ShadeRow(T* __restrict row, const T* __restrict d, const T* __restrict w, int x0, int x1) {
  for (int x = x0; x < x1; ++x) {
    if constexpr (sizeof(T) == 1) {
      row[x] = ShadeSample(static_cast<int>(row[x]), static_cast<int>(d[x]), static_cast<int>(w[x]));
    } else {
      row[x] = ShadeSample(row[x], d[x], w[x]);
    }
  }
}

template <typename T>
void MarkRow(const T* __restrict up, const T* __restrict row, const T* __restrict down,
             const uint8_t* __restrict flagged, int mapEnd, int width, int threshold, uint8_t* __restrict marks) {
  marks[0] = 0;
  marks[width - 1] = 0;
  if constexpr (sizeof(T) == 1) {
    // The sum of four samples (at most 1020) and every difference fit 16-bit lanes, twice as many per
    // register as the int the language would promote to.
    const int16_t limit = static_cast<int16_t>(threshold);
    for (int x = 1; x < width - 1; ++x) {
      const int16_t mean = static_cast<int16_t>(static_cast<uint16_t>(row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2);
      const int16_t diff = static_cast<int16_t>(static_cast<int16_t>(row[x]) - mean);
      marks[x] = (diff >= limit || static_cast<int16_t>(-diff) >= limit) ? 1 : 0;
    }
  } else {
    for (int x = 1; x < width - 1; ++x) {
      const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2;
      const int diff = row[x] - mean;
      marks[x] = (diff >= threshold || -diff >= threshold) ? 1 : 0;
    }
  }
  // The map holds 0 or 1.
  if (flagged != nullptr) {
    for (int x = 1; x < mapEnd; ++x) marks[x] |= flagged[x];
  }
}

template <typename T>
void SummarizeRow(const T* __restrict row, const uint8_t* __restrict marks, int width, T* __restrict top,
                  uint8_t* __restrict topFound, T* __restrict bottom, uint8_t* __restrict bottomFound) {
  for (int x = 0; x < width; ++x) {
    const uint8_t m = marks[x];
    const T v = row[x];
    top[x] = Select<T>(topFound[x], top[x], v);
    topFound[x] |= static_cast<uint8_t>(m ^ 1);
    bottom[x] = Select<T>(m, bottom[x], v);
    bottomFound[x] |= static_cast<uint8_t>(m ^ 1);
  }
}

template <typename T>
void FillDownRow(const T* __restrict row, const uint8_t* __restrict marks, const T* __restrict below,
                 T* __restrict out, int width) {
  for (int x = 0; x < width; ++x) out[x] = Select<T>(marks[x], below[x], row[x]);
}

// The inclusive fills of a row's columns 1 .. width - 2: the pixel's own value where unmarked, else the
// nearest unmarked value to its left (right); the first and last columns are never marked.
template <typename T>
void FillRow(const T* __restrict row, const uint8_t* __restrict marks, T* __restrict left, T* __restrict right,
             int width) {
  // Both scans at once: two independent chains, without branches (the marks of noise are random).
  T fromLeft = row[0];
  T fromRight = row[width - 1];
  for (int x = 1, xr = width - 2; x < width - 1; ++x, --xr) {
    fromLeft = Select<T>(marks[x], fromLeft, row[x]);
    left[x] = fromLeft;
    fromRight = Select<T>(marks[xr], fromRight, row[xr]);
    right[xr] = fromRight;
  }
}

// For an unmarked pixel the nearest unmarked value in every direction is its own, so the mean of the four
// is the pixel itself: every inner pixel takes the mean, without a choice. With inclusive fills, for a
// marked pixel each is the nearest unmarked value that way.
template <typename T>
void CombineRow(T* __restrict row, const uint8_t* __restrict marks, T* __restrict above, const T* __restrict down,
                const T* __restrict left, const T* __restrict right, int width) {
  for (int x = 1; x < width - 1; ++x) {
    const T a = Select<T>(marks[x], above[x], row[x]);
    above[x] = a;
    row[x] = static_cast<T>((static_cast<int>(left[x]) + right[x] + a + down[x]) >> 2);
  }
}

template <typename T>
void ReplaceRow(T* row, const uint8_t* marks, T* above, const T* down, T* left, T* right, int width) {
  FillRow<T>(row, marks, left, right, width);
  CombineRow<T>(row, marks, above, down, left, right, width);
}

inline void PackMarks(const uint8_t* __restrict marks, int width, uint8_t* __restrict bits) {
  for (int i = 0; i < (width + 7) / 8; ++i) {
    uint8_t byte = 0;
    for (int j = 0; j < 8 && 8 * i + j < width; ++j) byte |= static_cast<uint8_t>(marks[8 * i + j] << j);
    bits[i] = byte;
  }
}
inline void UnpackMarks(const uint8_t* __restrict bits, int width, uint8_t* __restrict marks) {
  for (int x = 0; x < width; ++x) marks[x] = static_cast<uint8_t>((bits[x >> 3] >> (x & 7)) & 1);
}

template <typename T>
constexpr MaskRowKernels<T> GenericMaskRowKernels() {
  return {ShadeRow<T>, MarkRow<T>, SummarizeRow<T>, FillDownRow<T>, ReplaceRow<T>};
}
