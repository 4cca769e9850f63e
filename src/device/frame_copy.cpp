#include "device/frame_copy.h"

#include <cstring>

#include "platform/frame_copies.h"

namespace orvane::device {

namespace {

// Whole pixels are reversed: the two bytes of a 16-bit unit keep their order.
void CopyReversedRow(uint8_t* to, const uint8_t* from, int32_t pixels, int32_t unit) {
  if (unit == 1) {
    for (int32_t p = 0; p < pixels; ++p) to[p] = from[pixels - 1 - p];
    return;
  }
  for (int32_t p = 0; p < pixels; ++p) {
    std::memcpy(to + static_cast<size_t>(p) * unit, from + static_cast<size_t>(pixels - 1 - p) * unit,
                static_cast<size_t>(unit));
  }
}

}  // namespace

void CopyOrientedFrame(uint8_t* dst, int32_t dstStride, const uint8_t* src, const FrameLayout& layout, int rowOrder) {
  platform::CountFrameCopy();
  const int32_t orientation = layout.orientation;
  const bool reverse = orientation == 2 || orientation == 4;
  const bool storedOrder = rowOrder == ((orientation != 3 && orientation != 4) ? 1 : 0);
  const int32_t rowBytes = layout.rowBytes;
  if (storedOrder && !reverse && dstStride == rowBytes) {
    std::memcpy(dst, src, static_cast<size_t>(layout.frameSize));
    return;
  }
  const int32_t rows = layout.rows;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* from = src + static_cast<size_t>(storedOrder ? r : rows - 1 - r) * rowBytes;
    uint8_t* to = dst + static_cast<size_t>(r) * static_cast<size_t>(dstStride);
    if (reverse) {
      CopyReversedRow(to, from, rowBytes / layout.unit, layout.unit);
    } else {
      std::memcpy(to, from, static_cast<size_t>(rowBytes));
    }
  }
}

}  // namespace orvane::device
