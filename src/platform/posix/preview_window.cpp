#include "platform/preview_window.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvane::platform {

// The headless surface: a "window" exists as a record of its class name and client size; once asked
// to, every Draw keeps a copy of the image as it would appear on screen.
//
// A real window is never larger than the screen allows: Windows limits a window's size to its maximum
// tracking size (SM_CXMAXTRACK, SM_CYMAXTRACK: about the virtual screen) whatever CreateWindow was
// asked for. The headless surface stands on a virtual screen of 7680 x 4320 pixels (8K UHD, the
// largest common display) and limits its client area the same way, so a window asked for at
// 65536 x 65536 costs at most one 8K image (about 100 MB at 24 bits), not 12 GB.
namespace {
constexpr int kMaxClientWidth = 7680;
constexpr int kMaxClientHeight = 4320;
}  // namespace

bool PreviewWindow::Create(const void* owner, uint32_t timeValue, const PreviewPlacement& placement) {
  Destroy();
  std::lock_guard lock(mutex_);
  int width = placement.parent != nullptr ? placement.width : placement.imageWidth;
  int height = placement.parent != nullptr ? placement.height : placement.imageHeight;
  if (width < 0 || height < 0) return false;
  char name[64];
  std::snprintf(name, sizeof(name), "VideoRenderer_%08x_%08x",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(owner) & 0xFFFFFFFFu), static_cast<unsigned>(timeValue));
  className_ = name;
  clientWidth_ = std::min(width, kMaxClientWidth);
  clientHeight_ = std::min(height, kMaxClientHeight);
  // Any non-null value marks the surface as existing; it is never dereferenced.
  window_ = reinterpret_cast<HWND>(this);
  windowDc_ = this;
  return true;
}

void PreviewWindow::Destroy() {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
  windowDc_ = nullptr;
  className_.clear();
  clientWidth_ = clientHeight_ = 0;
}

bool PreviewWindow::DrawableSize(int* width, int* height) const {
  std::lock_guard lock(mutex_);
  // Nothing is shown unless the copy is kept: like a hidden window, the caller skips the drawing.
  if (!keepLast_ || window_ == nullptr || clientWidth_ <= 0 || clientHeight_ <= 0) return false;
  *width = clientWidth_;
  *height = clientHeight_;
  return true;
}

void PreviewWindow::Draw(const SurfaceImage& image, bool flip) {
  std::lock_guard lock(mutex_);
  if (!keepLast_ || window_ == nullptr || image.bits == nullptr || image.width <= 0 || image.height <= 0) return;
  if (image.width > kMaxClientWidth || image.height > kMaxClientHeight) return;  // never drawn larger
  size_t rowBytes = static_cast<size_t>(image.width) * static_cast<size_t>(image.bitsPerPixel / 8);
  last_.resize(rowBytes * static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    // What a screen would show. The bitmap declares itself bottom-up, so a plain blit puts the last
    // memory row at the top; the flipped blit (bottom row as origin, negative height) puts memory
    // row 0, the image's top line, at the top.
    int source = flip ? y : image.height - 1 - y;
    std::memcpy(last_.data() + rowBytes * static_cast<size_t>(y),
                image.bits + static_cast<ptrdiff_t>(source) * image.stride, rowBytes);
  }
  lastWidth_ = image.width;
  lastHeight_ = image.height;
  lastBits_ = image.bitsPerPixel;
}

void PreviewWindow::KeepLastImage(bool keep) {
  std::lock_guard lock(mutex_);
  keepLast_ = keep;
}

std::vector<uint8_t> PreviewWindow::LastImage(int* width, int* height, int* bitsPerPixel) const {
  std::lock_guard lock(mutex_);
  *width = lastWidth_;
  *height = lastHeight_;
  *bitsPerPixel = lastBits_;
  return last_;
}

}  // namespace orvane::platform
