#include "device/frame_copy.h"

#include <cstring>

#include "platform/frame_copies.h"

namespace orvane::device {

void CopyOrientedFrame(uint8_t* dst, const uint8_t* src, int32_t frameSize, int32_t rows, int32_t rowBytes,
                       int32_t unit, int32_t orientation, int rowOrder) {
  platform::CountFrameCopy();
  const bool reverse = orientation == 2 || orientation == 4;
  const bool storedOrder = rowOrder == ((orientation != 3 && orientation != 4) ? 1 : 0);
  if (storedOrder && !reverse) {
    std::memcpy(dst, src, static_cast<size_t>(frameSize));
    return;
  }
  const int32_t pixels = rowBytes / unit;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* from = src + static_cast<size_t>(storedOrder ? r : rows - 1 - r) * rowBytes;
    uint8_t* to = dst + static_cast<size_t>(r) * rowBytes;
    if (!reverse) {
      std::memcpy(to, from, static_cast<size_t>(rowBytes));
      continue;
    }
    // Whole pixels are reversed: the two bytes of a 16-bit unit keep their order.
    for (int32_t p = 0; p < pixels; ++p) {
      std::memcpy(to + static_cast<size_t>(p) * unit, from + static_cast<size_t>(pixels - 1 - p) * unit,
                  static_cast<size_t>(unit));
    }
  }
}

}  // namespace orvane::device
