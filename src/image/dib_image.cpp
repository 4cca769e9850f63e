#include "image/dib_image.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvane::image {

namespace {

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool ValidDepth(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64; }

PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

}  // namespace

int DibStride(int width, int bitsPerPixel) {
  const int64_t stride = ((static_cast<int64_t>(width) * bitsPerPixel / 8) + 3) & ~int64_t{3};
  return stride > INT32_MAX ? -1 : static_cast<int>(stride);
}

void DibImage::ClearHeader() {
  std::memset(info_, 0, sizeof(info_));
  PutLe32(info_, kBitmapInfoHeaderSize);
}

void DibImage::WriteGrayTable() {
  uint8_t* table = info_ + kBitmapInfoHeaderSize;
  for (int i = 0; i < kColorTableEntries; ++i) {
    table[4 * i + 0] = static_cast<uint8_t>(i);
    table[4 * i + 1] = static_cast<uint8_t>(i);
    table[4 * i + 2] = static_cast<uint8_t>(i);
    table[4 * i + 3] = 0;
  }
}

bool DibImage::Create(int width, int height, int bitsPerPixel) {
  if (width <= 0 || height <= 0 || !ValidDepth(bitsPerPixel)) return false;
  Release();
  const int stride = DibStride(width, bitsPerPixel);
  if (stride < 0) return false;
  const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  if (bytes > static_cast<uint64_t>(PTRDIFF_MAX)) return false;

  PutLe32(info_ + 4, static_cast<uint32_t>(width));
  PutLe32(info_ + 8, static_cast<uint32_t>(height));
  PutLe16(info_ + 12, 1);
  PutLe16(info_ + 14, static_cast<uint16_t>(bitsPerPixel));
  if (bitsPerPixel == 8) WriteGrayTable();

  section_ = platform::DibSection::Create(info_);
  if (section_) {
    bits_ = section_->Bits();
  } else {
    heap_.reset(new (std::nothrow) uint8_t[bytes]());
    if (!heap_) {
      Release();
      return false;
    }
    bits_ = heap_.get();
  }
  width_ = width;
  height_ = height;
  stride_ = stride;
  bitsPerPixel_ = static_cast<uint16_t>(bitsPerPixel);
  return true;
}

bool DibImage::CopyFormat(const DibImage& other) {
  return Create(other.width_, other.height_, other.bitsPerPixel_);
}

void DibImage::Release() {
  section_.reset();
  heap_.reset();
  bits_ = nullptr;
  width_ = height_ = stride_ = 0;
  bitsPerPixel_ = 0;
  ClearHeader();
}

void DibImage::SetColorTable(ColorTableMode mode, int first, int count, const uint8_t* table) {
  if (mode == ColorTableMode::kGray) {
    WriteGrayTable();
    first = 0;
    count = kColorTableEntries;
  } else {
    if (table == nullptr || first < 0 || count <= 0 || first >= kColorTableEntries) return;
    count = std::min(count, kColorTableEntries - first);
    std::memcpy(info_ + kBitmapInfoHeaderSize + 4 * first, table, static_cast<size_t>(count) * 4);
  }
  if (section_) section_->SetColorTable(first, count, info_ + kBitmapInfoHeaderSize + 4 * first);
}

int ApplyPixelOp(DibImage& dst, PixelOp op, const DibImage& src, const PixelRect* rect, int dstX, int dstY,
                 void* arg, intptr_t arg2) {
  if (op == nullptr || !dst.Valid() || !src.Valid()) return 0;
  const PixelRect whole{0, 0, src.Width(), src.Height()};
  PixelRect r = rect ? *rect : whole;
  // Clip to the source; a left/top edge that moves carries the destination point with it.
  PixelRect c = Intersect(r, whole);
  dstX += c.left - r.left;
  dstY += c.top - r.top;
  // Clip the moved rectangle to the destination.
  if (dstX < 0) {
    c.left -= dstX;
    dstX = 0;
  }
  if (dstY < 0) {
    c.top -= dstY;
    dstY = 0;
  }
  c.right = std::min(c.right, c.left + (dst.Width() - dstX));
  c.bottom = std::min(c.bottom, c.top + (dst.Height() - dstY));
  if (c.Empty()) return 0;
  const PixelOpArgs args{dst.Bits(), src.Bits(), c, dstX, dstY, dst.BytesPerPixel(), src.BytesPerPixel(),
                         dst.Stride(), src.Stride(), arg, arg2};
  return op(args);
}

int ApplyScaleOp(DibImage& dst, ScaleOp op, const DibImage& src, const PixelRect* dstRect, const PixelRect* srcRect) {
  if (op == nullptr || !dst.Valid() || !src.Valid()) return 0;
  const PixelRect d = Intersect(dstRect ? *dstRect : PixelRect{0, 0, dst.Width(), dst.Height()},
                                PixelRect{0, 0, dst.Width(), dst.Height()});
  const PixelRect s = Intersect(srcRect ? *srcRect : PixelRect{0, 0, src.Width(), src.Height()},
                                PixelRect{0, 0, src.Width(), src.Height()});
  if (d.Empty() || s.Empty()) return 0;
  const ScaleOpArgs args{dst.Bits(), src.Bits(), d, s, dst.BytesPerPixel(), src.BytesPerPixel(),
                         dst.Stride(), src.Stride(), src.Height()};
  return op(args);
}

}  // namespace orvane::image
