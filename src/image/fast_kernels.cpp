// The baseline fast paths (x86-64 always has SSE2; the compiler vectorises the loops of
// fast_kernels_impl.h for it) and the choice of kernel set at start-up.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/kernels.h"
#include "image/row_pool.h"

namespace orvane::image {

namespace {

#include "image/fast_kernels_impl.h"

int NoVectorSpan(const DemosaicRowArgs&) { return 2; }

void DemosaicRows(const Plane& dst, const Plane& src, const DemosaicParams& p, int r0, int r1) {
  if (src.bytesPerPixel == 1) {
    DemosaicRowsGeneric<uint8_t>(dst, src, p, r0, r1, NoVectorSpan);
  } else {
    DemosaicRowsGeneric<uint16_t>(dst, src, p, r0, r1, NoVectorSpan);
  }
}

void Demosaic(const Plane& dst, const Plane& src, const DemosaicParams& p, RowPool* pool) {
  ForRows(pool, src.height, [&](int r0, int r1) { DemosaicRows(dst, src, p, r0, r1); });
}

}  // namespace

const KernelTable& BaselineKernels() {
  static const KernelTable table{"sse2",           Demosaic,         GrayGainGeneric, HueSatGeneric, LutGeneric,
                                 SharpenGeneric,   LuminanceGeneric, DemosaicRows,    SharpenRowsAny};
  return table;
}

const KernelTable& ChooseKernels(const char* forceScalar) {
  if (forceScalar != nullptr && std::strcmp(forceScalar, "1") == 0) return ReferenceKernels();
  if (const KernelTable* avx512 = Avx512Kernels()) return *avx512;
  if (const KernelTable* avx2 = Avx2Kernels()) return *avx2;
  return BaselineKernels();
}

const KernelTable& ActiveKernels() {
  static const KernelTable& chosen = ChooseKernels(std::getenv("ORVANE_FORCE_SCALAR"));
  return chosen;
}

}  // namespace orvane::image
