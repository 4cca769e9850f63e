// Copying a raw frame out of the ring in the orientation the caller asks for.
#pragma once

#include <cstdint>

namespace orvane::device {

// Copies a frame of `rows` rows of `rowBytes` bytes (pixels of `unit` bytes: 1 in 8-bit, 2 in 16-bit
// modes) from `src` to `dst`. `orientation` is the sensor's code: pixels are reversed within rows when it
// is 2 or 4; rows come in stored order when `rowOrder` equals (orientation is neither 3 nor 4), otherwise
// bottom row first. A plain copy moves `frameSize` bytes in one piece; the others move rows x rowBytes.
void CopyOrientedFrame(uint8_t* dst, const uint8_t* src, int32_t frameSize, int32_t rows, int32_t rowBytes,
                       int32_t unit, int32_t orientation, int rowOrder);

}  // namespace orvane::device
