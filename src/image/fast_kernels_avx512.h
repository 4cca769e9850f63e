// The AVX-512 kernels (with the byte-permute instructions of AVX512-VBMI), one file per group of passes.
// Each file includes its headers, then opens `#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,
// avx512vbmi")` (so that nothing the headers define is compiled for AVX-512) and is only called after the CPU check of Avx512Kernels();
// a pass without an AVX-512 version keeps the AVX2 one.
#pragma once

#include "image/kernels.h"

namespace orvane::image::avx512 {

// True when the CPU runs AVX512-F, -BW, -VL, -DQ and -VBMI (and the operating system saves their state).
bool Supported();

// The unsharp mask (fast_kernels_avx512_sharpen.cpp): KernelTable::sharpen and ::sharpenRows.
void Sharpen(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool);
void SharpenRows(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1);

}  // namespace orvane::image::avx512
