// A process-wide count of whole-frame copies on the way from the USB read to the application's buffer
// and to the AVI file: ring slot to the raw image (in the caller's orientation and stride), the software
// mirror's two passes, output image to application buffer, output image to the recorder's stored form.
// Frames are read straight into a free ring buffer, so storing one copies nothing. Image filters writing
// their result are not copies and are not counted. Tests and the benchmark read it to see how many
// times a frame is moved; each count is one relaxed atomic increment.
#pragma once

#include <cstdint>

namespace orvane::platform {

// Counts one whole-frame copy (any thread).
void CountFrameCopy();

// Whole-frame copies made in this process so far (relaxed: exact once the copying threads are joined).
uint64_t FrameCopies();

}  // namespace orvane::platform
