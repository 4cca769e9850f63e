// The bitmap type of the whole SDK and the primitive through which every pixel operation runs.
//
// Rows are stored top row first (memory row 0 is the top line) although the header declares a positive,
// bottom-up height: every blit and every file writer mirrors the rows once. Colour pixels are blue, green,
// red (and a fourth channel for 32/64 bits that the pipeline does not write); 48/64-bit pixels hold
// little-endian 16-bit words in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/dib_section.h"

namespace orvane::image {

// BITMAPINFOHEADER (40 bytes) followed by the 256-entry RGBQUAD colour table, as GDI takes it.
inline constexpr int kBitmapInfoHeaderSize = 40;
inline constexpr int kColorTableEntries = 256;
inline constexpr int kBitmapInfoSize = kBitmapInfoHeaderSize + 4 * kColorTableEntries;  // 1064

// Bytes of one row: width × bits / 8 rounded up to a multiple of 4 (the DIB row rule). -1 when the
// row would not fit a signed 32-bit stride.
int DibStride(int width, int bitsPerPixel);

class DibImage {
 public:
  DibImage() { ClearHeader(); }
  ~DibImage() { Release(); }
  DibImage(const DibImage&) = delete;
  DibImage& operator=(const DibImage&) = delete;

  // Allocates a zero-filled bitmap. Refuses a non-positive size or a depth other than 8, 16, 24, 32, 48
  // or 64 (false). A DIB section with its memory DC where the platform has one, else heap memory.
  [[nodiscard]] bool Create(int width, int height, int bitsPerPixel);
  // Create with the other bitmap's geometry and depth; the pixels are not copied.
  [[nodiscard]] bool CopyFormat(const DibImage& other);
  // Frees the pixels and the drawing objects; the header returns to its empty state.
  void Release();

  enum class ColorTableMode { kGray = 0, kGiven = 2 };
  // kGray writes the 256-entry gray ramp (entry i = i, i, i, 0); kGiven copies `count` RGBQUADs from
  // `table` into entries first .. first + count - 1 (clipped to the table).
  void SetColorTable(ColorTableMode mode, int first = 0, int count = 0, const uint8_t* table = nullptr);

  bool Valid() const { return bits_ != nullptr; }
  uint8_t* Bits() { return bits_; }
  const uint8_t* Bits() const { return bits_; }
  uint8_t* Row(int y) { return bits_ + static_cast<ptrdiff_t>(y) * stride_; }
  const uint8_t* Row(int y) const { return bits_ + static_cast<ptrdiff_t>(y) * stride_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }
  int BitsPerPixel() const { return bitsPerPixel_; }
  int BytesPerPixel() const { return bitsPerPixel_ / 8; }
  size_t SizeBytes() const { return static_cast<size_t>(stride_) * static_cast<size_t>(height_); }
  // BITMAPINFO (header and colour table), kBitmapInfoSize bytes.
  const uint8_t* BitmapInfo() const { return info_; }
  // The memory device context (HDC) holding the section; null for heap bitmaps, which cannot be blitted.
  void* DeviceContext() const { return section_ ? section_->DeviceContext() : nullptr; }

 private:
  void ClearHeader();
  void WriteGrayTable();

  uint8_t info_[kBitmapInfoSize];
  std::unique_ptr<platform::DibSection> section_;
  std::unique_ptr<uint8_t[]> heap_;
  uint8_t* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  uint16_t bitsPerPixel_ = 0;
};

// Source rectangle of a pixel operation: left/top inclusive, right/bottom exclusive.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
};

// What ApplyPixelOp hands to an operation. `src` may equal `dst` (in-place operations pass one bitmap
// twice). The operation walks `rect` of the source row by row and writes at (dstX, dstY) onwards.
struct PixelOpArgs {
  uint8_t* dst;
  const uint8_t* src;
  PixelRect rect;
  int dstX;
  int dstY;
  int dstBytesPerPixel;
  int srcBytesPerPixel;
  int dstStride;
  int srcStride;
  void* arg;
  intptr_t arg2;
};
using PixelOp = int (*)(const PixelOpArgs& args);

// Runs `op` once over `rect` of `src` (the whole source when null), clipped against the source and,
// after the move to (dstX, dstY), against the destination. Returns the operation's result, 0 when the
// clipped rectangle is empty or no operation is given.
int ApplyPixelOp(DibImage& dst, PixelOp op, const DibImage& src, const PixelRect* rect, int dstX, int dstY,
                 void* arg, intptr_t arg2);

// Two-rectangle operation for scaling: the destination rectangle is filled from the source rectangle.
struct ScaleOpArgs {
  uint8_t* dst;
  const uint8_t* src;
  PixelRect dstRect;
  PixelRect srcRect;
  int dstBytesPerPixel;
  int srcBytesPerPixel;
  int dstStride;
  int srcStride;
  int srcHeight;  // full source height, for operations that read rows mirrored
};
using ScaleOp = int (*)(const ScaleOpArgs& args);

// Calls `op` with the two rectangles (whole bitmaps where null), each clipped to its bitmap.
// 0 when either clipped rectangle is empty or no operation is given.
int ApplyScaleOp(DibImage& dst, ScaleOp op, const DibImage& src, const PixelRect* dstRect,
                 const PixelRect* srcRect);

}  // namespace orvane::image
