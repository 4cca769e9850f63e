#include "image/defect_mask.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/regular_file.h"

namespace orvane::image {

namespace {

constexpr char kMagic[16] = "KAVRIN MASK1000";
constexpr size_t kPixels = static_cast<size_t>(DefectMask::kWidth) * DefectMask::kHeight;
constexpr uint32_t kBlockSize8 = static_cast<uint32_t>(kPixels);
constexpr uint32_t kBlockSize16 = static_cast<uint32_t>(2 * kPixels);

// Map thresholds: a hot pixel is bright in the dark reference, a dead pixel dark in the bright one.
constexpr int kHot8 = 192, kDead8 = 64;
constexpr int kHot16 = 0x3000, kDead16 = 0x1000;
// Defect test: difference from the four-neighbour mean.
constexpr int kThreshold8 = 30, kThreshold16 = 480;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool IsFullFrame(const DibImage& raw) {
  return raw.Width() == DefectMask::kWidth && raw.Height() == DefectMask::kHeight;
}

// 16-bit blocks are little-endian in the file, as in memory on every platform we build for.
bool WriteSamples(std::FILE* f, const uint16_t* samples) {
  static_assert(sizeof(uint16_t) == 2);
  return std::fwrite(samples, 2, kPixels, f) == kPixels;
}

template <typename T>
bool Resize(std::vector<T>& v) {
  try {
    v.assign(kPixels, T{0});
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

template <typename T>
void ShadeReference(DibImage& raw, const T* dark, const T* bright, int offsetX, int offsetY) {
  const int border = IsFullFrame(raw) ? 2 : 0;
  const int yEnd = std::min(raw.Height() - border, DefectMask::kHeight - offsetY);
  const int xEnd = std::min(raw.Width() - border, DefectMask::kWidth - offsetX);
  for (int y = border; y < yEnd; ++y) {
    T* row = reinterpret_cast<T*>(raw.Row(y));
    const size_t ref = static_cast<size_t>(y + offsetY) * DefectMask::kWidth + static_cast<size_t>(offsetX);
    for (int x = border; x < xEnd; ++x) {
      const int64_t d = dark[ref + static_cast<size_t>(x)];
      const int64_t w = bright[ref + static_cast<size_t>(x)];
      const int64_t v = row[x];
      if constexpr (sizeof(T) == 1) {
        if (d != w) row[x] = static_cast<T>(std::clamp<int64_t>(((v - d) * 256) / (w - d), 0, 255));
      } else {
        if (d < w) row[x] = static_cast<T>(std::clamp<int64_t>(((v - d) * 65536) / (w - d), 0, 65535));
      }
    }
  }
}

// The same normalisation without a 64-bit division per pixel. 8-bit: with d != w, the quotient
// ((x - d) 256) / (w - d) is at most 0 (limited to 0) unless x - d and w - d are non-zero with the same
// sign; then it is 255 from |x - d| >= |w - d| on, and below that |x - d| 256 / |w - d| < 256 in single
// precision, truncated: the dividend (< 2^16) and divisor are exact, the quotient is rounded correctly,
// and an inexact quotient lies at least 1/255 from an integer, far more than the rounding (2^-17).
// 16-bit: with d < w, x <= d gives 0, x - d >= w - d gives 65535, and in between (x - d) 65536 / (w - d)
// < 65536 in double precision, truncated (an inexact quotient lies at least 1/65535 from an integer,
// the rounding is below 2^-36). Written without branches so that the loops vectorise.
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
void Shade(DibImage& raw, const T* dark, const T* bright, int offsetX, int offsetY) {
  const int border = IsFullFrame(raw) ? 2 : 0;
  const int yEnd = std::min(raw.Height() - border, DefectMask::kHeight - offsetY);
  const int xEnd = std::min(raw.Width() - border, DefectMask::kWidth - offsetX);
  for (int y = border; y < yEnd; ++y) {
    T* __restrict row = reinterpret_cast<T*>(raw.Row(y));
    const size_t ref = static_cast<size_t>(y + offsetY) * DefectMask::kWidth + static_cast<size_t>(offsetX);
    const T* __restrict d = dark + ref;
    const T* __restrict w = bright + ref;
    for (int x = border; x < xEnd; ++x) {
      if constexpr (sizeof(T) == 1) {
        row[x] = ShadeSample(static_cast<int>(row[x]), static_cast<int>(d[x]), static_cast<int>(w[x]));
      } else {
        row[x] = ShadeSample(row[x], d[x], w[x]);
      }
    }
  }
}

template <typename T>
void DefectsReference(DibImage& raw, const uint8_t* hot, const uint8_t* dead, int offsetX, int offsetY, int threshold,
             std::vector<uint8_t>& work) {
  const int w = raw.Width();
  const int h = raw.Height();
  std::fill(work.begin(), work.end(), uint8_t{0});
  auto at = [&](int y, int x) -> int { return reinterpret_cast<const T*>(raw.Row(y))[x]; };
  auto mapped = [&](const uint8_t* map, int y, int x) {
    if (map == nullptr) return false;
    const int ry = y + offsetY;
    const int rx = x + offsetX;
    if (ry >= DefectMask::kHeight || rx >= DefectMask::kWidth) return false;
    return map[static_cast<size_t>(ry) * DefectMask::kWidth + static_cast<size_t>(rx)] != 0;
  };
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      const int mean = (at(y, x - 1) + at(y, x + 1) + at(y - 1, x) + at(y + 1, x)) >> 2;
      if (mapped(hot, y, x) || mapped(dead, y, x) || std::abs(at(y, x) - mean) >= threshold) {
        work[static_cast<size_t>(y) * w + x] = 1;
      }
    }
  }
  auto marked = [&](int y, int x) { return work[static_cast<size_t>(y) * w + x] != 0; };
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      if (!marked(y, x)) continue;
      int sum = 0;
      int count = 0;
      for (int xx = x - 1; xx >= 0; --xx) {
        if (!marked(y, xx)) {
          sum += at(y, xx), ++count;
          break;
        }
      }
      for (int xx = x + 1; xx < w; ++xx) {
        if (!marked(y, xx)) {
          sum += at(y, xx), ++count;
          break;
        }
      }
      for (int yy = y - 1; yy >= 0; --yy) {
        if (!marked(yy, x)) {
          sum += at(yy, x), ++count;
          break;
        }
      }
      for (int yy = y + 1; yy < h; ++yy) {
        if (!marked(yy, x)) {
          sum += at(yy, x), ++count;
          break;
        }
      }
      // Unmarked pixels are never written, so every source above still holds its original value.
      if (count > 0) reinterpret_cast<T*>(raw.Row(y))[x] = static_cast<T>(sum / count);
    }
  }
}

// The same correction in time linear in the frame's size. The reference searches, for each marked
// pixel, along its row and column for the nearest unmarked pixel; where the scene's fine detail
// marks long runs (a Bayer mosaic's neighbours differ by colour), that is quadratic and takes seconds
// per frame. Here the nearest unmarked pixel to the left and above is remembered while scanning, and
// the nearest one to the right and below is found by pointers that only move forward (per row and per
// column), so every pixel is passed a bounded number of times. Marks and sources are the reference's:
// unmarked pixels are never written, so every source still holds its original value.
template <typename T>
void MarkDefects(const DibImage& raw, const uint8_t* hot, const uint8_t* dead, int offsetX, int offsetY, int threshold,
                 uint8_t* work) {
  const int w = raw.Width();
  const int h = raw.Height();
  for (int y = 1; y < h - 1; ++y) {
    const T* up = reinterpret_cast<const T*>(raw.Row(y - 1));
    const T* row = reinterpret_cast<const T*>(raw.Row(y));
    const T* down = reinterpret_cast<const T*>(raw.Row(y + 1));
    uint8_t* marks = work + static_cast<size_t>(y) * w;
    for (int x = 1; x < w - 1; ++x) {
      const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2;
      const int diff = row[x] - mean;
      marks[x] = (diff >= threshold || -diff >= threshold) ? 1 : 0;
    }
    // The maps cover the sensor; a frame row or column outside it has no map entry.
    const int ry = y + offsetY;
    const int xEnd = std::min(w - 1, DefectMask::kWidth - offsetX);
    if (ry >= DefectMask::kHeight || xEnd <= 1) continue;
    const size_t mapRow = static_cast<size_t>(ry) * DefectMask::kWidth;
    for (const uint8_t* map : {hot, dead}) {
      if (map == nullptr) continue;
      const uint8_t* m = map + mapRow + static_cast<size_t>(offsetX);
      for (int x = 1; x < xEnd; ++x) marks[x] |= m[x];
    }
  }
}

// `ifMarked` where the mark (0 or 1) is set, else `otherwise`, by a mask rather than a branch.
template <typename T>
inline T Select(uint8_t mark, T ifMarked, T otherwise) {
  const T keep = static_cast<T>(0u - mark);
  return static_cast<T>((ifMarked & keep) | (otherwise & static_cast<T>(~keep)));
}

// Replacement in four sweeps of fixed work per pixel. The outermost rows and columns are never marked, so
// every marked pixel has an unmarked pixel in each of the four directions and its new value is the sum
// of the four nearest ones over 4. Unmarked pixels keep their values, so every source is original:
//  - bottom-up, the value of the nearest unmarked pixel below each pixel (`down`, one row per frame row);
//  - per row, the nearest unmarked values to the left and right by one scan each way;
//  - top-down, the nearest unmarked value above each column, carried from row to row, and the new row.
template <typename T>
void ReplaceDefects(DibImage& raw, const uint8_t* work, uint8_t* scratch) {
  const int w = raw.Width();
  const int h = raw.Height();
  if (w < 3 || h < 3) return;
  const size_t rowLength = static_cast<size_t>(w);
  // Rows 1 .. h - 2 of `down`, then the carried row above, the left and the right values: (h + 3) rows.
  T* __restrict down = reinterpret_cast<T*>(scratch);
  T* __restrict above = down + rowLength * static_cast<size_t>(h);
  T* __restrict left = above + rowLength;
  T* __restrict right = left + rowLength;
  auto row = [&](int y) { return reinterpret_cast<T*>(raw.Row(y)); };
  auto marks = [&](int y) { return work + static_cast<size_t>(y) * rowLength; };
  std::memcpy(down + static_cast<size_t>(h - 2) * rowLength, row(h - 1), rowLength * sizeof(T));
  for (int y = h - 3; y >= 1; --y) {
    const T* __restrict next = row(y + 1);
    const uint8_t* __restrict m = marks(y + 1);
    const T* __restrict below = down + static_cast<size_t>(y + 1) * rowLength;
    T* __restrict d = down + static_cast<size_t>(y) * rowLength;
    for (int x = 0; x < w; ++x) d[x] = Select<T>(m[x], below[x], next[x]);
  }
  std::memcpy(above, row(0), rowLength * sizeof(T));
  for (int y = 1; y < h - 1; ++y) {
    T* __restrict r = row(y);
    const uint8_t* __restrict m = marks(y);
    // Both scans at once: two independent chains, without branches (the marks of noise are random).
    T fromLeft = r[0];
    T fromRight = r[w - 1];
    for (int x = 1, xr = w - 2; x < w - 1; ++x, --xr) {
      left[x] = fromLeft;
      fromLeft = Select<T>(m[x], fromLeft, r[x]);
      right[xr] = fromRight;
      fromRight = Select<T>(m[xr], fromRight, r[xr]);
    }
    const T* __restrict d = down + static_cast<size_t>(y) * rowLength;
    for (int x = 1; x < w - 1; ++x) {
      const T v = r[x];
      const T mean = static_cast<T>((static_cast<int>(left[x]) + right[x] + above[x] + d[x]) >> 2);
      r[x] = Select<T>(m[x], mean, v);
      above[x] = Select<T>(m[x], above[x], v);
    }
  }
}

}  // namespace

bool DefectMask::EnsureAllocated() {
  if (Allocated()) return true;
  if (Resize(dark8_) && Resize(bright8_) && Resize(dark16_) && Resize(bright16_) && Resize(hot8_) && Resize(dead8_) &&
      Resize(hot16_) && Resize(dead16_)) {
    return true;
  }
  dark8_ = {}, bright8_ = {}, dark16_ = {}, bright16_ = {}, hot8_ = {}, dead8_ = {}, hot16_ = {}, dead16_ = {};
  return false;
}

const uint8_t* DefectMask::Reference8(int which) const {
  if (!Allocated()) return nullptr;
  return which == 0 ? dark8_.data() : bright8_.data();
}
const uint16_t* DefectMask::Reference16(int which) const {
  if (!Allocated()) return nullptr;
  return which == 0 ? dark16_.data() : bright16_.data();
}
const uint8_t* DefectMask::Map(int depthBits, int which) const {
  if (!Allocated()) return nullptr;
  if (depthBits == 8) return which == 0 ? hot8_.data() : dead8_.data();
  return which == 0 ? hot16_.data() : dead16_.data();
}

void DefectMask::RebuildMap(int depthBits, int which) {
  uint8_t* map = const_cast<uint8_t*>(Map(depthBits, which));
  if (map == nullptr) return;
  for (int y = 2; y < kHeight - 2; ++y) {
    const size_t row = static_cast<size_t>(y) * kWidth;
    for (int x = 2; x < kWidth - 2; ++x) {
      const size_t i = row + static_cast<size_t>(x);
      bool flagged;
      if (depthBits == 8) {
        flagged = which == 0 ? dark8_[i] > kHot8 : bright8_[i] < kDead8;
      } else {
        flagged = which == 0 ? dark16_[i] > kHot16 : bright16_[i] < kDead16;
      }
      map[i] = flagged ? 1 : 0;
    }
  }
}

MaskStatus DefectMask::Capture(const DibImage& raw, int which) {
  const int depth = raw.BitsPerPixel();
  if (!raw.Valid() || (depth != 8 && depth != 16)) return MaskStatus::kBadSelector;
  if (!EnsureAllocated()) return MaskStatus::kNoMemory;
  if (IsFullFrame(raw)) {
    if (which != 0 && which != 1) return MaskStatus::kBadSelector;
    const size_t rowBytes = static_cast<size_t>(kWidth) * raw.BytesPerPixel();
    uint8_t* target = depth == 8 ? (which == 0 ? dark8_.data() : bright8_.data())
                                 : reinterpret_cast<uint8_t*>(which == 0 ? dark16_.data() : bright16_.data());
    for (int y = 0; y < kHeight; ++y) std::memcpy(target + y * rowBytes, raw.Row(y), rowBytes);
  }
  RebuildMap(depth, which == 0 ? 0 : 1);
  return MaskStatus::kOk;
}

void DefectMask::CorrectShading(DibImage& raw, int offsetX, int offsetY) const {
  // Unallocated references read as zero: dark equals bright and nothing changes.
  if (!Allocated() || !raw.Valid() || offsetX < 0 || offsetY < 0) return;
  if (raw.BitsPerPixel() == 8) {
    Shade<uint8_t>(raw, dark8_.data(), bright8_.data(), offsetX, offsetY);
  } else if (raw.BitsPerPixel() == 16) {
    Shade<uint16_t>(raw, dark16_.data(), bright16_.data(), offsetX, offsetY);
  }
}

void DefectMask::CorrectShadingReference(DibImage& raw, int offsetX, int offsetY) const {
  // Unallocated references read as zero: dark equals bright and nothing changes.
  if (!Allocated() || !raw.Valid() || offsetX < 0 || offsetY < 0) return;
  if (raw.BitsPerPixel() == 8) {
    ShadeReference<uint8_t>(raw, dark8_.data(), bright8_.data(), offsetX, offsetY);
  } else if (raw.BitsPerPixel() == 16) {
    ShadeReference<uint16_t>(raw, dark16_.data(), bright16_.data(), offsetX, offsetY);
  }
}

void DefectMask::CorrectDefects(DibImage& raw, int offsetX, int offsetY) {
  if (!raw.Valid() || offsetX < 0 || offsetY < 0 || (raw.BitsPerPixel() != 8 && raw.BitsPerPixel() != 16)) return;
  const int w = raw.Width();
  const int h = raw.Height();
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  const size_t scratchBytes = static_cast<size_t>(raw.BytesPerPixel()) * static_cast<size_t>(w) * (h + 3u);
  try {
    if (work_.size() != pixels) work_.assign(pixels, 0);
    if (scratch_.size() < scratchBytes) scratch_.resize(scratchBytes);
  } catch (const std::bad_alloc&) {
    work_ = {};
    scratch_ = {};
    return;
  }
  // The outermost rows and columns stay unmarked; MarkDefects sets every other mark.
  std::fill_n(work_.begin(), w, uint8_t{0});
  std::fill_n(work_.end() - w, w, uint8_t{0});
  for (int y = 1; y < h - 1; ++y) work_[static_cast<size_t>(y) * w] = work_[static_cast<size_t>(y) * w + w - 1] = 0;
  if (raw.BitsPerPixel() == 8) {
    MarkDefects<uint8_t>(raw, Map(8, 0), Map(8, 1), offsetX, offsetY, kThreshold8, work_.data());
    ReplaceDefects<uint8_t>(raw, work_.data(), scratch_.data());
  } else {
    MarkDefects<uint16_t>(raw, Map(16, 0), Map(16, 1), offsetX, offsetY, kThreshold16, work_.data());
    ReplaceDefects<uint16_t>(raw, work_.data(), scratch_.data());
  }
}

void DefectMask::CorrectDefectsReference(DibImage& raw, int offsetX, int offsetY) {
  if (!raw.Valid() || offsetX < 0 || offsetY < 0) return;
  std::vector<uint8_t> work(static_cast<size_t>(raw.Width()) * static_cast<size_t>(raw.Height()));
  if (raw.BitsPerPixel() == 8) {
    DefectsReference<uint8_t>(raw, Map(8, 0), Map(8, 1), offsetX, offsetY, kThreshold8, work);
  } else if (raw.BitsPerPixel() == 16) {
    DefectsReference<uint16_t>(raw, Map(16, 0), Map(16, 1), offsetX, offsetY, kThreshold16, work);
  }
}

MaskStatus DefectMask::Save(const char* path) const {
  if (path == nullptr) return MaskStatus::kFileOpen;
  File f(std::fopen(path, "wb"));
  if (!f) return MaskStatus::kFileOpen;
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, kMagic, sizeof(kMagic));
  PutLe32(header + 16, kWidth);
  PutLe32(header + 20, kHeight);
  PutLe32(header + 24, kBlockSize8);
  PutLe32(header + 28, kBlockSize8);
  PutLe32(header + 32, kBlockSize16);
  PutLe32(header + 36, kBlockSize16);
  bool ok = std::fwrite(header, 1, sizeof(header), f.get()) == sizeof(header);
  if (Allocated()) {
    ok = ok && std::fwrite(dark8_.data(), 1, kPixels, f.get()) == kPixels;
    ok = ok && std::fwrite(bright8_.data(), 1, kPixels, f.get()) == kPixels;
    ok = ok && WriteSamples(f.get(), dark16_.data());
    ok = ok && WriteSamples(f.get(), bright16_.data());
  } else {
    // Never captured or loaded: the references read as zero.
    static constexpr size_t kChunk = 1 << 16;
    static const uint8_t zeros[kChunk] = {};
    for (uint64_t left = kFileSize - kHeaderSize; ok && left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
      ok = std::fwrite(zeros, 1, n, f.get()) == n;
      left -= n;
    }
  }
  // fclose flushes the buffered tail; a failure there is a short write as well.
  std::FILE* raw = f.release();
  ok = (std::fclose(raw) == 0) && ok;
  return ok ? MaskStatus::kOk : MaskStatus::kFileWrite;
}

MaskStatus DefectMask::Load(const char* path) {
  if (path == nullptr) return MaskStatus::kFileOpen;
  // A regular file of at most the format's size: a directory, device or FIFO is refused at once
  // (never read without bound, never waited on), and so is a file longer than a mask file can be.
  platform::RegularFileStatus status;
  platform::UniqueFile f = platform::OpenRegularFile(path, kFileSize, &status);
  if (!f) return status == platform::RegularFileStatus::kCannotOpen ? MaskStatus::kFileOpen : MaskStatus::kFileFormat;
  uint8_t header[kHeaderSize];
  if (std::fread(header, 1, sizeof(header), f.get()) != sizeof(header)) return MaskStatus::kFileFormat;
  // The magic compares as a zero-terminated string within its 16 bytes.
  if (std::memchr(header, 0, 16) == nullptr ||
      std::strcmp(reinterpret_cast<const char*>(header), kMagic) != 0 || GetLe32(header + 16) != kWidth ||
      GetLe32(header + 20) != kHeight || GetLe32(header + 24) != kBlockSize8 || GetLe32(header + 28) != kBlockSize8 ||
      GetLe32(header + 32) != kBlockSize16 || GetLe32(header + 36) != kBlockSize16) {
    return MaskStatus::kFileFormat;
  }
  std::vector<uint8_t> dark8, bright8;
  std::vector<uint16_t> dark16, bright16;
  if (!Resize(dark8) || !Resize(bright8) || !Resize(dark16) || !Resize(bright16)) return MaskStatus::kNoMemory;
  if (std::fread(dark8.data(), 1, kPixels, f.get()) != kPixels ||
      std::fread(bright8.data(), 1, kPixels, f.get()) != kPixels ||
      std::fread(dark16.data(), 2, kPixels, f.get()) != kPixels ||
      std::fread(bright16.data(), 2, kPixels, f.get()) != kPixels) {
    return MaskStatus::kFileFormat;
  }
  if (!EnsureAllocated()) return MaskStatus::kNoMemory;
  dark8_.swap(dark8);
  bright8_.swap(bright8);
  dark16_.swap(dark16);
  bright16_.swap(bright16);
  RebuildMap(8, 0);
  RebuildMap(8, 1);
  RebuildMap(16, 0);
  RebuildMap(16, 1);
  return MaskStatus::kOk;
}

}  // namespace orvane::image
