// Pixel memory that the screen can draw from: on Windows a DIB section selected into a memory device
// context of its own, so that BitBlt/StretchBlt can read it directly. Other platforms have no such
// surface; there Create answers null and the bitmap keeps its pixels in plain heap memory.
#pragma once

#include <cstdint>
#include <memory>

namespace orvane::platform {

class DibSection {
 public:
  // `bitmapInfo` is a BITMAPINFO: the 40-byte BITMAPINFOHEADER followed by 256 RGBQUAD entries.
  // The pixels start zero-filled. Null when no section (or no device context) can be had.
  static std::unique_ptr<DibSection> Create(const uint8_t* bitmapInfo);

  virtual ~DibSection() = default;
  virtual uint8_t* Bits() const = 0;
  // The memory device context (HDC) the section is selected into.
  virtual void* DeviceContext() const = 0;
  // Replaces `count` colour-table entries (RGBQUAD, 4 bytes each) from index `first`.
  virtual void SetColorTable(int first, int count, const uint8_t* rgbQuads) = 0;
};

}  // namespace orvane::platform
