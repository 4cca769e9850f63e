// A process-wide count of whole-frame copies on the way from the USB read to the application's buffer
// and to the AVI file: staging buffer to ring slot, ring slot to the raw image, the raw image's in-place
// row repacking, the software mirror's two passes, output image to application buffer, output image to
// the recorder's stored form. Image filters writing their result are not copies and are not counted.
// Tests and the benchmark read it to see how many times a frame is moved; each count is one relaxed
// atomic increment.
#pragma once

#include <cstdint>

namespace orvane::platform {

// Counts one whole-frame copy (any thread).
void CountFrameCopy();

// Whole-frame copies made in this process so far (relaxed: exact once the copying threads are joined).
uint64_t FrameCopies();

}  // namespace orvane::platform
