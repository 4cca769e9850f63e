#include "image/raw_conversion.h"

#include <algorithm>
#include <cstring>

#include "platform/frame_copies.h"

namespace orvane::image {

namespace {
bool SameFormat(const DibImage& a, int width, int height, int bits) {
  return a.Valid() && a.Width() == width && a.Height() == height && a.BitsPerPixel() == bits;
}
bool EnsureFormat(DibImage& image, int width, int height, int bits) {
  return SameFormat(image, width, height, bits) || image.Create(width, height, bits);
}
}  // namespace

bool RepairStride(DibImage& raw) {
  if (!raw.Valid()) return false;
  const size_t packed = static_cast<size_t>(raw.Width()) * static_cast<size_t>(raw.BytesPerPixel());
  if (packed == static_cast<size_t>(raw.Stride())) return false;
  uint8_t* bits = raw.Bits();
  for (int y = raw.Height() - 1; y > 0; --y) {
    std::memmove(bits + static_cast<size_t>(y) * raw.Stride(), bits + static_cast<size_t>(y) * packed, packed);
  }
  platform::CountFrameCopy();
  return true;
}

bool MirrorRaw(DibImage& raw, bool horizontal, bool vertical, DibImage& scratch) {
  if (!horizontal && !vertical) return true;
  if (!raw.Valid() || (raw.BitsPerPixel() != 8 && raw.BitsPerPixel() != 16)) return false;
  if (!EnsureFormat(scratch, raw.Width(), raw.Height(), raw.BitsPerPixel())) return false;
  std::memcpy(scratch.Bits(), raw.Bits(), raw.SizeBytes());
  platform::CountFrameCopy();
  const int h = raw.Height();
  const int w = raw.Width();
  for (int y = 0; y < h; ++y) {
    const int from = vertical ? h - 1 - y : y;
    if (!horizontal) {
      std::memcpy(raw.Row(y), scratch.Row(from), static_cast<size_t>(w) * raw.BytesPerPixel());
    } else if (raw.BitsPerPixel() == 8) {
      std::reverse_copy(scratch.Row(from), scratch.Row(from) + w, raw.Row(y));
    } else {
      const auto* s = reinterpret_cast<const uint16_t*>(scratch.Row(from));
      std::reverse_copy(s, s + w, reinterpret_cast<uint16_t*>(raw.Row(y)));
    }
  }
  platform::CountFrameCopy();
  return true;
}

int RegionMean(const DibImage& image, const PixelRect& rect, bool highByte) {
  if (!image.Valid()) return 0;
  const int left = std::max(rect.left, 0);
  const int top = std::max(rect.top, 0);
  const int right = std::min(rect.right, image.Width());
  const int bottom = std::min(rect.bottom, image.Height());
  if (right <= left || bottom <= top) return 0;
  uint64_t sum = 0;
  for (int y = top; y < bottom; ++y) {
    if (image.BitsPerPixel() == 8) {
      const uint8_t* row = image.Row(y);
      for (int x = left; x < right; ++x) sum += row[x];
    } else {
      const auto* row = reinterpret_cast<const uint16_t*>(image.Row(y));
      for (int x = left; x < right; ++x) sum += highByte ? (row[x] >> 8) : row[x];
    }
  }
  const uint64_t count = static_cast<uint64_t>(right - left) * static_cast<uint64_t>(bottom - top);
  return static_cast<int>(sum / count);
}

const DibImage* ReduceForDisplay(const DibImage& output, int colorMode, DibImage& reduced) {
  if (!output.Valid()) return nullptr;
  if (colorMode == 0 || colorMode == 2) return &output;
  const int w = output.Width();
  const int h = output.Height();
  if (colorMode == 1) {
    if (!EnsureFormat(reduced, w, h, 8)) return nullptr;
    for (int y = 0; y < h; ++y) {
      const auto* s = reinterpret_cast<const uint16_t*>(output.Row(y));
      uint8_t* d = reduced.Row(y);
      for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(s[x] >> 8);
    }
    return &reduced;
  }
  if (colorMode < 3 || colorMode > 5) return nullptr;
  if (!EnsureFormat(reduced, w, h, 24)) return nullptr;
  for (int y = 0; y < h; ++y) {
    uint8_t* d = reduced.Row(y);
    if (colorMode == 3) {
      const uint8_t* s = output.Row(y);
      for (int x = 0; x < w; ++x) std::memcpy(d + 3 * x, s + 4 * x, 3);
    } else {
      const auto* s = reinterpret_cast<const uint16_t*>(output.Row(y));
      const int step = colorMode == 4 ? 3 : 4;
      for (int x = 0; x < w; ++x) {
        for (int ch = 0; ch < 3; ++ch) d[3 * x + ch] = static_cast<uint8_t>(s[step * x + ch] >> 8);
      }
    }
  }
  return &reduced;
}

int ScaleNearestMirroredOp(const ScaleOpArgs& a) {
  if (a.dstBytesPerPixel != a.srcBytesPerPixel) return 0;
  const float sx = static_cast<float>(a.srcRect.Width()) / static_cast<float>(a.dstRect.Width());
  const float sy = static_cast<float>(a.srcRect.Height()) / static_cast<float>(a.dstRect.Height());
  const int bpp = a.dstBytesPerPixel;
  for (int y = 0; y < a.dstRect.Height(); ++y) {
    const int row = std::clamp(static_cast<int>(static_cast<float>(y) * sy), 0, a.srcRect.Height() - 1);
    const uint8_t* s = a.src + static_cast<ptrdiff_t>(a.srcRect.top + a.srcRect.Height() - 1 - row) * a.srcStride;
    uint8_t* d = a.dst + static_cast<ptrdiff_t>(a.dstRect.top + y) * a.dstStride;
    for (int x = 0; x < a.dstRect.Width(); ++x) {
      const int col = std::clamp(static_cast<int>(static_cast<float>(x) * sx), 0, a.srcRect.Width() - 1);
      std::memcpy(d + static_cast<ptrdiff_t>(a.dstRect.left + x) * bpp,
                  s + static_cast<ptrdiff_t>(a.srcRect.left + col) * bpp, static_cast<size_t>(bpp));
    }
  }
  return 1;
}

DisplayFrame PrepareDisplay(const DibImage& output, int colorMode, int clientWidth, int clientHeight,
                            DibImage& reduced, DibImage& display) {
  const DibImage* shown = ReduceForDisplay(output, colorMode, reduced);
  if (shown == nullptr || clientWidth <= 0 || clientHeight <= 0) return {};
  if (clientWidth == output.Width() && clientHeight == output.Height() && colorMode != 1) return {shown, true};
  const int bits = shown->BitsPerPixel();
  if (!SameFormat(display, clientWidth, clientHeight, bits)) {
    if (!display.Create(clientWidth, clientHeight, bits)) return {};
  }
  ApplyScaleOp(display, ScaleNearestMirroredOp, *shown, nullptr, nullptr);
  return {&display, false};
}

}  // namespace orvane::image
