#include "platform/dib_section.h"

#include <windows.h>

#include <cstring>

namespace orvane::platform {

namespace {

// A DIB section selected into its own memory DC; the DC's previous bitmap is put back before both
// are deleted, as GDI requires.
class Win32DibSection final : public DibSection {
 public:
  Win32DibSection(HBITMAP bitmap, HDC dc, HGDIOBJ previous, uint8_t* bits)
      : bitmap_(bitmap), dc_(dc), previous_(previous), bits_(bits) {}
  ~Win32DibSection() override {
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  Win32DibSection(const Win32DibSection&) = delete;
  Win32DibSection& operator=(const Win32DibSection&) = delete;

  uint8_t* Bits() const override { return bits_; }
  void* DeviceContext() const override { return dc_; }
  void SetColorTable(int first, int count, const uint8_t* rgbQuads) override {
    SetDIBColorTable(dc_, static_cast<UINT>(first), static_cast<UINT>(count),
                     reinterpret_cast<const RGBQUAD*>(rgbQuads));
  }

 private:
  HBITMAP bitmap_;
  HDC dc_;
  HGDIOBJ previous_;
  uint8_t* bits_;
};

}  // namespace

std::unique_ptr<DibSection> DibSection::Create(const uint8_t* bitmapInfo) {
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(bitmapInfo), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    return nullptr;
  }
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    DeleteObject(bitmap);
    return nullptr;
  }
  HGDIOBJ previous = SelectObject(dc, bitmap);
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(bitmapInfo);
  const size_t stride = ((static_cast<size_t>(header->biWidth) * header->biBitCount / 8) + 3) & ~size_t{3};
  std::memset(bits, 0, stride * static_cast<size_t>(header->biHeight));
  return std::make_unique<Win32DibSection>(bitmap, dc, previous, static_cast<uint8_t*>(bits));
}

}  // namespace orvane::platform
