// The baseline row kernels of the mask corrections and the choice of set at start-up.
#include "image/defect_kernels.h"

#include <cstdlib>
#include <cstring>

namespace orvane::image {

namespace {
#include "image/defect_kernels_impl.h"
}  // namespace

const MaskKernels& BaselineMaskKernels() {
  static const MaskKernels set{"sse2", PackMarks, UnpackMarks, GenericMaskRowKernels<uint8_t>(),
                               GenericMaskRowKernels<uint16_t>()};
  return set;
}

const MaskKernels& ActiveMaskKernels() {
  static const MaskKernels& chosen = [] () -> const MaskKernels& {
    const char* forceScalar = std::getenv("ORVANE_FORCE_SCALAR");
    if (forceScalar != nullptr && std::strcmp(forceScalar, "1") == 0) return BaselineMaskKernels();
    if (const MaskKernels* avx512 = Avx512MaskKernels()) return *avx512;
    if (const MaskKernels* avx2 = Avx2MaskKernels()) return *avx2;
    return BaselineMaskKernels();
  }();
  return chosen;
}

}  // namespace orvane::image
