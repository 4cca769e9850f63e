#include "image/defect_mask.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "image/defect_kernels.h"
#include "image/row_pool.h"
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

// Rows split over the pool; every row is normalised by the same row kernel whatever the thread count.
template <typename T>
void Shade(DibImage& raw, const T* dark, const T* bright, int offsetX, int offsetY, const MaskRowKernels<T>& k,
           RowPool* pool) {
  const int border = IsFullFrame(raw) ? 2 : 0;
  const int yEnd = std::min(raw.Height() - border, DefectMask::kHeight - offsetY);
  const int xEnd = std::min(raw.Width() - border, DefectMask::kWidth - offsetX);
  if (xEnd <= border) return;
  ForRows(pool, yEnd - border, [&](int r0, int r1) {
    for (int y = border + r0; y < border + r1; ++y) {
      const size_t ref = static_cast<size_t>(y + offsetY) * DefectMask::kWidth + static_cast<size_t>(offsetX);
      k.shade(reinterpret_cast<T*>(raw.Row(y)), dark + ref, bright + ref, border, xEnd);
    }
  });
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

// The same correction in time linear in the frame's size, split over threads with the same bytes for any
// number of them. The reference searches, for each marked pixel, along its row and column for the nearest
// unmarked pixel; where the scene's fine detail marks long runs (a Bayer mosaic's neighbours differ by
// colour), that is quadratic. Unmarked pixels are never changed, so every source is an original value,
// and the work goes in three steps with the pool's barrier between them:
//  1. marks of every inner row (kept as bits: a byte per pixel would be most of the memory traffic), in
//     blocks of kBlockRows rows, and per block and column the topmost and bottommost unmarked value (if
//     the block has one there);
//  2. per column (split over threads by columns), from those summaries, the nearest unmarked value above
//     each block (at or above its first row's row above) and below it (at or below its end row): a run
//     of marks crossing any number of blocks and thread seams is resolved here;
//  3. per block, the nearest unmarked value below each pixel bottom-up into rows kept in the cache, then
//     top-down the row's left and right fills and the carried value above, and the mean of the four.
// Each block's result depends on the marks and originals only, never on which thread ran its neighbour.
constexpr int kBlockRows = 32;

template <typename T>
struct DefectPass {
  DibImage* raw;
  const uint8_t* flagged;  // hot or dead in the maps of the frame's depth, null when not allocated
  int offsetX, offsetY, threshold;
  const MaskRowKernels<T>* k;
  void (*pack)(const uint8_t* marks, int width, uint8_t* bits);
  void (*unpack)(const uint8_t* bits, int width, uint8_t* marks);
  int width, height, blocks, parts;
  uint8_t* marks;        // a bit per pixel, markStride bytes per row, rows 1 .. height - 2 set
  size_t markStride;
  T* top;                // per block: topmost unmarked value, then (step 2) the nearest one below the block
  T* bottom;             // per block: bottommost unmarked value, then (step 2) the nearest one above it
  uint8_t* topFound;     // per block: whether the column has an unmarked pixel in the block
  uint8_t* bottomFound;
  T* partRows;           // per part: kBlockRows + 3 rows of scratch
  uint8_t* partMarks;    // per part: kBlockRows rows of a byte per pixel

  T* Row(int y) const { return reinterpret_cast<T*>(raw->Row(y)); }
  uint8_t* Marks(int y) const { return marks + static_cast<size_t>(y) * markStride; }
  size_t At(int block) const { return static_cast<size_t>(block) * width; }
  T* Scratch(int part) const { return partRows + static_cast<size_t>(part) * (kBlockRows + 3) * width; }
  uint8_t* ByteMarks(int part) const { return partMarks + static_cast<size_t>(part) * kBlockRows * width; }
  int BlockBegin(int b) const { return 1 + b * kBlockRows; }
  int BlockEnd(int b) const { return std::min(height - 1, BlockBegin(b) + kBlockRows); }
  int PartBegin(int count, int part) const { return static_cast<int>(static_cast<int64_t>(count) * part / parts); }

  void MarkBlock(int b, uint8_t* bytes) const {
    // The maps cover the sensor; a frame row or column outside it has no map entry.
    const int mapEnd = std::min(width - 1, DefectMask::kWidth - offsetX);
    std::memset(topFound + At(b), 0, static_cast<size_t>(width));
    std::memset(bottomFound + At(b), 0, static_cast<size_t>(width));
    for (int y = BlockBegin(b); y < BlockEnd(b); ++y) {
      const int ry = y + offsetY;
      const size_t mapRow = static_cast<size_t>(ry) * DefectMask::kWidth + static_cast<size_t>(offsetX);
      const bool mapped = ry < DefectMask::kHeight && mapEnd > 1;
      k->mark(Row(y - 1), Row(y), Row(y + 1), mapped && flagged != nullptr ? flagged + mapRow : nullptr, mapEnd, width,
              threshold, bytes);
      k->summarize(Row(y), bytes, width, top + At(b), topFound + At(b), bottom + At(b), bottomFound + At(b));
      pack(bytes, width, Marks(y));
    }
  }

  // Rows 0 and height - 1 are never marked: the first block's value above and the last one's below.
  void CarryColumns(int x0, int x1, T* carry) const {
    if (x0 >= x1) return;
    const size_t n = static_cast<size_t>(x1 - x0);
    std::memcpy(carry + x0, Row(0) + x0, n * sizeof(T));
    for (int b = 0; b < blocks; ++b) {
      T* s = bottom + At(b);
      const uint8_t* found = bottomFound + At(b);
      for (int x = x0; x < x1; ++x) {
        const T own = s[x];
        s[x] = carry[x];
        carry[x] = found[x] != 0 ? own : carry[x];
      }
    }
    std::memcpy(carry + x0, Row(height - 1) + x0, n * sizeof(T));
    for (int b = blocks - 1; b >= 0; --b) {
      T* s = top + At(b);
      const uint8_t* found = topFound + At(b);
      for (int x = x0; x < x1; ++x) {
        const T own = s[x];
        s[x] = carry[x];
        carry[x] = found[x] != 0 ? own : carry[x];
      }
    }
  }

  void ReplaceBlock(int b, T* scratch, uint8_t* bytes) const {
    const int y0 = BlockBegin(b);
    const int y1 = BlockEnd(b);
    T* down = scratch;  // row y's values at down + (y - y0) × width
    T* left = scratch + static_cast<size_t>(kBlockRows) * width;
    T* right = left + width;
    auto byteMarks = [&](int y) { return bytes + static_cast<size_t>(y - y0) * width; };
    for (int y = y0; y < y1; ++y) unpack(Marks(y), width, byteMarks(y));
    const T* below = top + At(b);
    for (int y = y1 - 1; y >= y0; --y) {
      T* d = down + static_cast<size_t>(y - y0) * width;
      k->fillDown(Row(y), byteMarks(y), below, d, width);
      below = d;
    }
    T* above = bottom + At(b);
    for (int y = y0; y < y1; ++y) {
      k->replace(Row(y), byteMarks(y), above, down + static_cast<size_t>(y - y0) * width, left, right, width);
    }
  }
};

// Calls fn(part) for every part, one part per pool thread.
template <typename Fn>
void ForParts(RowPool* pool, int parts, Fn&& fn) {
  if (parts == 1) {
    fn(0);
    return;
  }
  pool->Run(parts, [&](int i0, int i1) {
    for (int i = i0; i < i1; ++i) fn(i);
  });
}

template <typename T>
void CorrectDefectsFast(const DefectPass<T>& p, RowPool* pool) {
  ForParts(pool, p.parts, [&](int part) {
    for (int b = p.PartBegin(p.blocks, part); b < p.PartBegin(p.blocks, part + 1); ++b) {
      p.MarkBlock(b, p.ByteMarks(part));
    }
  });
  ForParts(pool, p.parts, [&](int part) {
    p.CarryColumns(p.PartBegin(p.width, part), p.PartBegin(p.width, part + 1), p.Scratch(part));
  });
  ForParts(pool, p.parts, [&](int part) {
    for (int b = p.PartBegin(p.blocks, part); b < p.PartBegin(p.blocks, part + 1); ++b) {
      p.ReplaceBlock(b, p.Scratch(part), p.ByteMarks(part));
    }
  });
}
}  // namespace

bool DefectMask::EnsureAllocated() {
  if (Allocated()) return true;
  if (Resize(dark8_) && Resize(bright8_) && Resize(dark16_) && Resize(bright16_) && Resize(hot8_) && Resize(dead8_) &&
      Resize(hot16_) && Resize(dead16_) && Resize(flagged8_) && Resize(flagged16_)) {
    return true;
  }
  dark8_ = {}, bright8_ = {}, dark16_ = {}, bright16_ = {}, hot8_ = {}, dead8_ = {}, hot16_ = {}, dead16_ = {};
  flagged8_ = {}, flagged16_ = {};
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

const MaskKernels& DefectMask::Kernels() const { return kernels_ != nullptr ? *kernels_ : ActiveMaskKernels(); }

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
  // The correction reads one map per pixel instead of two.
  const uint8_t* hot = Map(depthBits, 0);
  const uint8_t* dead = Map(depthBits, 1);
  uint8_t* either = depthBits == 8 ? flagged8_.data() : flagged16_.data();
  for (size_t i = 0; i < kPixels; ++i) either[i] = static_cast<uint8_t>(hot[i] | dead[i]);
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

void DefectMask::CorrectShading(DibImage& raw, int offsetX, int offsetY, RowPool* pool) const {
  // Unallocated references read as zero: dark equals bright and nothing changes.
  if (!Allocated() || !raw.Valid() || offsetX < 0 || offsetY < 0) return;
  const MaskKernels& k = Kernels();
  if (raw.BitsPerPixel() == 8) {
    Shade<uint8_t>(raw, dark8_.data(), bright8_.data(), offsetX, offsetY, k.k8, pool);
  } else if (raw.BitsPerPixel() == 16) {
    Shade<uint16_t>(raw, dark16_.data(), bright16_.data(), offsetX, offsetY, k.k16, pool);
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

void DefectMask::CorrectDefects(DibImage& raw, int offsetX, int offsetY, RowPool* pool) {
  if (!raw.Valid() || offsetX < 0 || offsetY < 0 || (raw.BitsPerPixel() != 8 && raw.BitsPerPixel() != 16)) return;
  const int w = raw.Width();
  const int h = raw.Height();
  if (w < 3 || h < 3) return;  // no inner pixel: nothing is marked
  const int parts = pool != nullptr ? pool->Threads() : 1;
  const int blocks = (h - 2 + kBlockRows - 1) / kBlockRows;
  const size_t sample = static_cast<size_t>(raw.BytesPerPixel());
  const size_t summaryRows = static_cast<size_t>(blocks) * static_cast<size_t>(w);
  const size_t partRows = static_cast<size_t>(parts) * (kBlockRows + 3) * static_cast<size_t>(w);
  // Samples first (top, bottom, the parts' rows), then the bytes of the two found flags and the parts'
  // byte marks.
  const size_t partMarks = static_cast<size_t>(parts) * kBlockRows * static_cast<size_t>(w);
  const size_t scratchBytes = sample * (2 * summaryRows + partRows) + 2 * summaryRows + partMarks;
  // Whole 64-bit words of marks per row.
  const size_t markStride = (static_cast<size_t>(w) + 63) / 64 * 8;
  try {
    if (work_.size() != markStride * static_cast<size_t>(h)) work_.assign(markStride * static_cast<size_t>(h), 0);
    if (scratch_.size() < scratchBytes) scratch_.resize(scratchBytes);
  } catch (const std::bad_alloc&) {
    work_ = {};
    scratch_ = {};
    return;
  }
  const MaskKernels& k = Kernels();
  uint8_t* flags = scratch_.data() + sample * (2 * summaryRows + partRows);
  auto run = [&](auto* samples, const auto& kernels, int depth, int threshold) {
    using T = std::remove_pointer_t<decltype(samples)>;
    const DefectPass<T> pass{.raw = &raw,
                             .flagged = !Allocated() ? nullptr : depth == 8 ? flagged8_.data() : flagged16_.data(),
                             .offsetX = offsetX,
                             .offsetY = offsetY,
                             .threshold = threshold,
                             .k = &kernels,
                             .pack = k.pack,
                             .unpack = k.unpack,
                             .width = w,
                             .height = h,
                             .blocks = blocks,
                             .parts = parts,
                             .marks = work_.data(),
                             .markStride = markStride,
                             .top = samples,
                             .bottom = samples + summaryRows,
                             .topFound = flags,
                             .bottomFound = flags + summaryRows,
                             .partRows = samples + 2 * summaryRows,
                             .partMarks = flags + 2 * summaryRows};
    CorrectDefectsFast(pass, pool);
  };
  if (raw.BitsPerPixel() == 8) {
    run(scratch_.data(), k.k8, 8, kThreshold8);
  } else {
    run(reinterpret_cast<uint16_t*>(scratch_.data()), k.k16, 16, kThreshold16);
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
