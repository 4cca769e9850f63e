// The defect mask: dark and bright reference frames at the sensor's full size in both raw depths, the
// hot- and dead-pixel maps derived from them, the two per-frame corrections that use them (shading
// normalisation and defect replacement) and the mask file.
//
// Not thread-safe by itself: the SDK object calls every operation under its frame lock, the same lock
// the acquisition thread holds while it runs the pipeline.
#pragma once

#include <cstdint>
#include <vector>

#include "image/dib_image.h"

namespace orvane::image {

class RowPool;
struct MaskKernels;

enum class MaskStatus {
  kOk = 0,
  kBadSelector,  // capture of a full-size frame with a selector other than 0 (dark) or 1 (bright)
  kNoMemory,     // the references could not be allocated
  kFileOpen,     // the file could not be opened or created
  kFileWrite,    // a write came up short (disk full)
  kFileFormat,   // wrong magic, geometry or block sizes, or the file ends early
};

class DefectMask {
 public:
  static constexpr int kWidth = 4000;   // full sensor size; references and maps always have it
  static constexpr int kHeight = 3000;
  static constexpr int kHeaderSize = 40;
  static constexpr uint64_t kFileSize = kHeaderSize + 2ull * kWidth * kHeight + 4ull * kWidth * kHeight;

  DefectMask() = default;

  // The 204 MB of references and maps are taken on first use (capture, load, or a correction switched on);
  // until then every reference and map reads as zero.
  [[nodiscard]] bool EnsureAllocated();
  bool Allocated() const { return !dark8_.empty(); }

  // Copies the current raw frame into the dark (which = 0) or bright (which = 1) reference of its depth and
  // rebuilds that map. Only a frame of exactly 4000 × 3000 is copied; a smaller (cropped or sub-sampled)
  // frame changes no reference, but the map is still rebuilt and the result is kOk.
  MaskStatus Capture(const DibImage& raw, int which);

  // Flat-field normalisation between the references at the frame's position (offsetX, offsetY in the
  // sensor): 8-bit x' = ((x - d) × 256) / (w - d) when d != w; 16-bit ((x - d) × 65536) / (w - d) when d < w;
  // limited to the sample range. A full-size frame keeps a two-pixel border. Rows are split over the
  // pool's threads when one is given; the bytes are the same for any number of them.
  void CorrectShading(DibImage& raw, int offsetX, int offsetY, RowPool* pool = nullptr) const;
  // The same normalisation with a division per pixel as written above: the reference the tests compare
  // CorrectShading with, byte for byte.
  void CorrectShadingReference(DibImage& raw, int offsetX, int offsetY) const;

  // Marks pixels flagged by the hot or dead map or differing from their four neighbours' mean by at least
  // 30 (8-bit) or 480 (16-bit), then replaces each marked pixel by the mean of the nearest unmarked pixels
  // to its left, right, top and bottom. The outermost rows and columns are never replaced.
  // Runs in time linear in the frame's size, however many pixels are marked, split over the pool's
  // threads when one is given; the bytes are the same for any number of them.
  void CorrectDefects(DibImage& raw, int offsetX, int offsetY, RowPool* pool = nullptr);
  // The same correction searched pixel by pixel as described above (quadratic where long runs are
  // marked): the reference the tests compare CorrectDefects with, byte for byte.
  void CorrectDefectsReference(DibImage& raw, int offsetX, int offsetY);

  // The mask file: a 40-byte header ("KAVRIN MASK1000", width, height, four block sizes) and the four
  // references, 72,000,040 bytes in all. A load reads into temporaries and replaces the references only
  // when the whole file was read and checked; then all four maps are rebuilt.
  MaskStatus Save(const char* path) const;
  MaskStatus Load(const char* path);

  // The row kernels the corrections use: null (the default) for the set chosen at start-up; tests pass
  // each set the CPU runs.
  void UseKernels(const MaskKernels* kernels) { kernels_ = kernels; }

  // Read access for tests and the SDK object (null until allocated).
  const uint8_t* Reference8(int which) const;
  const uint16_t* Reference16(int which) const;
  // Hot (which = 0) or dead (1) map of a depth: one byte per pixel, 0 or 1.
  const uint8_t* Map(int depthBits, int which) const;

 private:
  void RebuildMap(int depthBits, int which);
  const MaskKernels& Kernels() const;

  const MaskKernels* kernels_ = nullptr;

  // References and maps, kWidth × kHeight each; empty until allocated.
  std::vector<uint8_t> dark8_, bright8_;
  std::vector<uint16_t> dark16_, bright16_;
  std::vector<uint8_t> hot8_, dead8_, hot16_, dead16_;
  // Hot or dead, per depth: rebuilt with the maps, so that the correction reads one map per pixel.
  std::vector<uint8_t> flagged8_, flagged16_;
  // Pixels marked in the current frame, a bit each; resized only when the frame size changes.
  std::vector<uint8_t> work_;
  // The correction's per-block summaries of unmarked values and each thread's rows of nearest unmarked
  // values; grown only when the frame size or thread count needs more.
  std::vector<uint8_t> scratch_;
};

}  // namespace orvane::image
