// The frame the AVI writer stores: 24-bit blue-green-red, bottom row first, rows padded to 4 bytes.
#pragma once

#include <cstddef>

#include "image/dib_image.h"

namespace orvane::output {

// Bytes of one stored frame of this size (DIB rows of 24 bits padded to 4 bytes); 0 for a bad size.
size_t AviFrameBytes(int width, int height);

// Brings the output bitmap of any colour mode to the stored form: 8-bit gray through the bitmap's colour
// table, 16-bit gray from the high byte of each sample, 24/32-bit the first three bytes, 48/64-bit the
// high byte of the first three words; rows reversed (the bitmap keeps its top row first). `dst` must hold
// AviFrameBytes(width, height) bytes; padding bytes are zeroed. False (nothing written) for an empty or
// unsupported bitmap or a buffer of another size.
[[nodiscard]] bool ConvertToAviFrame(const image::DibImage& src, uint8_t* dst, size_t dstBytes);

// The rate a recording declares, frames per second x 100: its frames over the time between the capture
// of the first and of the last one (millisecond clock, wrapping), `frames` - 1 intervals. It follows from
// the frames' capture times alone, not from when the recorder got to them, so a recorder that lags or
// skips frames on a loaded machine still declares the pace of the frames it stored. 0 (keep the nominal
// rate) for fewer than two frames or no time between them.
uint32_t RecordedRateTimes100(uint32_t frames, uint32_t firstCaptureMs, uint32_t lastCaptureMs);

}  // namespace orvane::output
