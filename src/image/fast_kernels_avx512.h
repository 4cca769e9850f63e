// The AVX-512 kernels (with the byte-permute instructions of AVX512-VBMI), one file per group of passes.
// Each file includes its headers, then opens `#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,
// avx512vbmi")` (so that nothing the headers define is compiled for AVX-512) and is only called after the CPU check of Avx512Kernels();
// a pass without an AVX-512 version keeps the AVX2 one.
#pragma once

#include "image/kernels.h"

namespace orvane::image::avx512 {

// True when the CPU runs AVX512-F, -BW, -VL, -DQ and -VBMI (and the operating system saves their state).
bool Supported();

// Gray gains and offsets (fast_kernels_avx512_gray.cpp).
void GrayGain(const Plane& img, const GrayGainParams& p, RowPool* pool);

// Hue/saturation of 24-, 32-, 48- and 64-bit pixels (with the optional per-value table after it) and the
// per-value table of 8-bit data, 64 pixels or bytes per step (fast_kernels_avx512_color.cpp).
void HueSat(const Plane& dst, const Plane& src, const HueSatParams& p, RowPool* pool);
void Lut(const Plane& dst, const Plane& src, const LutParams& p, RowPool* pool);

// The demosaic (fast_kernels_avx512_demosaic.cpp); what it does not take goes to the AVX2 code. Same
// contracts as KernelTable::demosaic and KernelTable::demosaicRows.
void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool);
void DemosaicRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1);

// The unsharp mask (fast_kernels_avx512_sharpen.cpp): KernelTable::sharpen and ::sharpenRows.
void Sharpen(const Plane& dst, const Plane& src, const SharpenParams& p, RowPool* pool);
void SharpenRows(const Plane& dst, const Plane& src, const SharpenParams& p, int y0, int y1);

}  // namespace orvane::image::avx512
