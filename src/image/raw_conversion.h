// Raw-frame helpers of the pipeline: stride repair, the software mirror, the region mean and the
// reduction of an output bitmap for the preview.
#pragma once

#include "image/dib_image.h"

namespace orvane::image {

// A frame that arrived packed (rows of width × bytes back to back) is spread to the bitmap's padded
// stride in place, last row first, so that no sample is overwritten before it is moved. Returns whether
// the rows had to be moved (false when width × bytes already equals the stride).
bool RepairStride(DibImage& raw);

// Mirrors an 8- or 16-bit raw bitmap in software through `scratch` (re-created only when its format differs):
// horizontal reverses each row (with vertical too, a 180° turn); vertical alone reverses the row order.
// False when the scratch bitmap cannot be had (the frame stays as it was).
bool MirrorRaw(DibImage& raw, bool horizontal, bool vertical, DibImage& scratch);

// Integer mean of the samples of `rect` (clipped to the bitmap) of an 8- or 16-bit bitmap; 0 when empty.
// highByte: 16-bit samples are measured by their high byte (the automatic exposure compares 8-bit levels).
int RegionMean(const DibImage& image, const PixelRect& rect, bool highByte = false);

// Reduces an output bitmap of colour mode 0..5 to what the screen shows into `reduced` (8-bit for modes 0
// and 1, 24-bit otherwise; re-created only when the format changes). Modes 0 and 2 need no reduction and
// answer the output itself. Null when `reduced` cannot be created or the mode is unknown.
const DibImage* ReduceForDisplay(const DibImage& output, int colorMode, DibImage& reduced);

// Nearest-neighbour scaling that reads the source rows mirrored: destination (x, y) takes source column
// (int)(x × sx) and row height - 1 - (int)(y × sy), clamped, with sx, sy the size ratios in single precision.
int ScaleNearestMirroredOp(const ScaleOpArgs& args);

// What the preview blits: the image and whether it is to be drawn bottom row first. A client area of
// exactly the image size (mode other than 1) shows the reduced image itself, flipped by the blit;
// any other size fills `display` (created at the client size) by ScaleNearestMirroredOp.
struct DisplayFrame {
  const DibImage* image = nullptr;
  bool flipOnBlit = false;
};
DisplayFrame PrepareDisplay(const DibImage& output, int colorMode, int clientWidth, int clientHeight,
                            DibImage& reduced, DibImage& display);

}  // namespace orvane::image
