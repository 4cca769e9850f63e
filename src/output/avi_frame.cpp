#include "output/avi_frame.h"

#include <algorithm>
#include <cstring>

#include "platform/frame_copies.h"

namespace orvane::output {

size_t AviFrameBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const int stride = image::DibStride(width, 24);
  if (stride < 0) return 0;
  return static_cast<size_t>(stride) * static_cast<size_t>(height);
}

bool ConvertToAviFrame(const image::DibImage& src, uint8_t* dst, size_t dstBytes) {
  if (!src.Valid() || dst == nullptr) return false;
  const size_t bytes = AviFrameBytes(src.Width(), src.Height());
  if (bytes == 0 || bytes != dstBytes) return false;
  const int depth = src.BitsPerPixel();
  if (depth != 8 && depth != 16 && depth != 24 && depth != 32 && depth != 48 && depth != 64) return false;

  const size_t dstStride = static_cast<size_t>(image::DibStride(src.Width(), 24));
  const size_t rowBytes = static_cast<size_t>(src.Width()) * 3;
  const uint8_t* table = src.BitmapInfo() + image::kBitmapInfoHeaderSize;  // RGBQUAD: blue, green, red, 0
  const int bpp = src.BytesPerPixel();
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* in = src.Row(src.Height() - 1 - y);
    uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
    switch (depth) {
      case 8:
        for (int x = 0; x < src.Width(); ++x, out += 3) std::memcpy(out, table + 4 * in[x], 3);
        break;
      case 16:
        // Samples are full-scale 16-bit: the high byte is the displayed level.
        for (int x = 0; x < src.Width(); ++x, out += 3) out[0] = out[1] = out[2] = in[2 * x + 1];
        break;
      case 24:
        std::memcpy(out, in, rowBytes);
        break;
      case 32:
        for (int x = 0; x < src.Width(); ++x, out += 3, in += 4) std::memcpy(out, in, 3);
        break;
      default:  // 48, 64: high byte of the blue, green and red words
        for (int x = 0; x < src.Width(); ++x, out += 3, in += bpp) {
          out[0] = in[1];
          out[1] = in[3];
          out[2] = in[5];
        }
        break;
    }
    std::memset(dst + static_cast<size_t>(y) * dstStride + rowBytes, 0, dstStride - rowBytes);
  }
  platform::CountFrameCopy();
  return true;
}

uint32_t RecordedRateTimes100(uint32_t frames, uint32_t firstCaptureMs, uint32_t lastCaptureMs) {
  const uint32_t spanMs = lastCaptureMs - firstCaptureMs;  // modulo 2^32: the clock may wrap meanwhile
  if (frames < 2 || spanMs == 0) return 0;
  // At most a million frames a second, so that the microseconds per frame stay at least 1.
  constexpr uint64_t kMaxRateTimes100 = 100'000'000;
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{frames - 1} * 100'000 / spanMs, kMaxRateTimes100));
}

}  // namespace orvane::output
