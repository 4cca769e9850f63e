// Copying a raw frame out of the ring in the orientation the caller asks for.
#pragma once

#include <cstdint>

namespace orvane::device {

// A raw frame as the ring holds it: `frameSize` bytes in all, `rows` rows of `rowBytes` bytes stored
// back to back, pixels of `unit` bytes (1 in 8-bit, 2 in 16-bit modes), and the sensor's orientation code.
struct FrameLayout {
  int32_t frameSize = 0;
  int32_t rows = 0;
  int32_t rowBytes = 0;
  int32_t unit = 1;
  int32_t orientation = -1;
};

// Copies the frame at `src` to `dst`, whose rows lie `dstStride` bytes apart (at least rowBytes; the
// padding between rows is left as it was). Pixels are reversed within rows when the orientation is 2 or
// 4; rows come in stored order when `rowOrder` equals (orientation is neither 3 nor 4), otherwise bottom
// row first. A plain copy to rows of the frame's own length moves `frameSize` bytes in one piece; the
// others move rows x rowBytes. Counted as one whole-frame copy.
void CopyOrientedFrame(uint8_t* dst, int32_t dstStride, const uint8_t* src, const FrameLayout& layout, int rowOrder);

}  // namespace orvane::device
