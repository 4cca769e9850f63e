// Row kernels of the mask corrections (shading and defect replacement), one set per instruction set,
// chosen once at start-up like the pipeline's kernels. DefectMask splits a frame into blocks of rows and
// calls these on every row; every set computes exactly the bytes of the baseline set.
#pragma once

#include <cstdint>

namespace orvane::image {

template <typename T>
struct MaskRowKernels {
  // Flat-field normalisation of row[x0 .. x1) between the dark and bright references d and w.
  void (*shade)(T* row, const T* d, const T* w, int x0, int x1);
  // Marks (0 or 1) of one row: inner pixels differing from their four neighbours' mean by at least
  // `threshold`, or flagged (hot or dead) by the map row (null: none) in columns 1 .. mapEnd - 1. The
  // first and last columns are never marked.
  void (*mark)(const T* up, const T* row, const T* down, const uint8_t* flagged, int mapEnd, int width,
               int threshold, uint8_t* marks);
  // Folds one row into its block's summary: the topmost and bottommost unmarked values of each column
  // and whether there was one (0 or 1).
  void (*summarize)(const T* row, const uint8_t* marks, int width, T* top, uint8_t* topFound, T* bottom,
                    uint8_t* bottomFound);
  // The nearest unmarked value at or below each pixel: the row's own where unmarked, else `below`'s.
  void (*fillDown)(const T* row, const uint8_t* marks, const T* below, T* out, int width);
  // Replaces the marked pixels of a row by the mean of the nearest unmarked values left, right, above
  // (`above`: at or above the row before; updated to at or above this row) and below (`down`: at or
  // below this row). `left` and `right` are scratch rows of `width` samples.
  void (*replace)(T* row, const uint8_t* marks, T* above, const T* down, T* left, T* right, int width);
};

struct MaskKernels {
  const char* name;
  // Marks (0 or 1) of `width` pixels to and from bits, pixel x in bit x % 8 of byte x / 8; the last
  // byte's unused bits are written as 0.
  void (*pack)(const uint8_t* marks, int width, uint8_t* bits);
  void (*unpack)(const uint8_t* bits, int width, uint8_t* marks);
  MaskRowKernels<uint8_t> k8;
  MaskRowKernels<uint16_t> k16;
};

// The x86-64 baseline set (vectorised by the compiler for SSE2).
const MaskKernels& BaselineMaskKernels();
// The AVX2 set, or null where the CPU lacks AVX2 (or the build is not for x86-64).
const MaskKernels* Avx2MaskKernels();
// The AVX-512 set (with AVX512-VBMI), or null where the CPU lacks it.
const MaskKernels* Avx512MaskKernels();
// The set chosen at start-up: the baseline where ORVANE_FORCE_SCALAR=1, else the widest the CPU runs.
const MaskKernels& ActiveMaskKernels();

}  // namespace orvane::image
