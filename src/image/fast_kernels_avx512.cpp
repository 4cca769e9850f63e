// The AVX-512 kernel set: the AVX2 set with the passes that have an AVX-512 version replaced.
#include "image/fast_kernels_avx512.h"

namespace orvane::image {

#if defined(__x86_64__)

namespace avx512 {

bool Supported() {
  // cpu_init first: the answer may be asked for before libgcc's own constructor has run.
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vbmi");
  }();
  return supported;
}

}  // namespace avx512

const KernelTable* Avx512Kernels() {
  const KernelTable* avx2 = Avx2Kernels();
  if (avx2 == nullptr || !avx512::Supported()) return nullptr;
  static const KernelTable table = [avx2] {
    KernelTable t = *avx2;
    t.name = "avx512";
    t.grayGain = avx512::GrayGain;
    t.hueSat = avx512::HueSat;
    t.lut = avx512::Lut;
    t.demosaic = avx512::Demosaic;
    t.demosaicRows = avx512::DemosaicRows;
    t.sharpen = avx512::Sharpen;
    t.sharpenRows = avx512::SharpenRows;
    return t;
  }();
  return &table;
}

#else

const KernelTable* Avx512Kernels() { return nullptr; }

#endif

}  // namespace orvane::image
