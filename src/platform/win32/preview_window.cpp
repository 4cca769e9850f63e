#include "platform/preview_window.h"

#include <cstdio>

namespace orvane::platform {

namespace {

LRESULT CALLBACK PassThrough(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool PreviewWindow::Create(const void* owner, uint32_t timeValue, const PreviewPlacement& placement) {
  Destroy();
  std::lock_guard lock(mutex_);
  char name[64];
  std::snprintf(name, sizeof(name), "VideoRenderer_%08x_%08x",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(owner) & 0xFFFFFFFFu), static_cast<unsigned>(timeValue));
  HINSTANCE module = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PassThrough;
  windowClass.hInstance = module;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = name;
  if (RegisterClassA(&windowClass) == 0) return false;

  HWND window;
  if (placement.parent != nullptr) {
    window = CreateWindowExA(0, name, kChildTitle, kChildStyle, placement.x, placement.y, placement.width,
                             placement.height, placement.parent, reinterpret_cast<HMENU>(static_cast<intptr_t>(kChildId)),
                             module, nullptr);
  } else {
    // The client area is the image size; the window is centred on the primary screen.
    RECT frame{0, 0, placement.imageWidth, placement.imageHeight};
    AdjustWindowRect(&frame, kTopLevelStyle, FALSE);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window = CreateWindowExA(0, name, kTopLevelTitle, kTopLevelStyle, x < 0 ? 0 : x, y < 0 ? 0 : y, width, height,
                             nullptr, nullptr, module, nullptr);
  }
  if (window == nullptr) {
    UnregisterClassA(name, module);
    return false;
  }
  SetFocus(window);
  ShowWindow(window, SW_SHOW);
  if (!UpdateWindow(window)) {
    DestroyWindow(window);
    UnregisterClassA(name, module);
    return false;
  }
  HDC dc = GetDC(window);
  if (dc == nullptr) {
    DestroyWindow(window);
    UnregisterClassA(name, module);
    return false;
  }
  window_ = window;
  windowDc_ = dc;
  className_ = name;
  return true;
}

void PreviewWindow::Destroy() {
  std::lock_guard lock(mutex_);
  if (window_ != nullptr) {
    if (windowDc_ != nullptr) ReleaseDC(window_, static_cast<HDC>(windowDc_));
    DestroyWindow(window_);
  }
  if (!className_.empty()) UnregisterClassA(className_.c_str(), GetModuleHandleA(nullptr));
  window_ = nullptr;
  windowDc_ = nullptr;
  className_.clear();
}

bool PreviewWindow::DrawableSize(int* width, int* height) const {
  std::lock_guard lock(mutex_);
  if (window_ == nullptr || windowDc_ == nullptr || !IsWindowVisible(window_)) return false;
  RECT client;
  if (!GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0) return false;
  *width = client.right;
  *height = client.bottom;
  return true;
}

void PreviewWindow::Draw(const SurfaceImage& image, bool flip) {
  std::lock_guard lock(mutex_);
  if (window_ == nullptr || windowDc_ == nullptr || image.deviceContext == nullptr) return;
  HDC target = static_cast<HDC>(windowDc_);
  HDC source = static_cast<HDC>(image.deviceContext);
  if (flip) {
    // Source origin at the bottom row with a negative height: the rows stored top first in memory
    // (a bottom-up DIB read upside down) appear the right way up.
    StretchBlt(target, 0, 0, image.width, image.height, source, 0, image.height - 1, image.width, -image.height, SRCCOPY);
  } else {
    BitBlt(target, 0, 0, image.width, image.height, source, 0, 0, SRCCOPY);
  }
}

void PreviewWindow::KeepLastImage(bool) {}

std::vector<uint8_t> PreviewWindow::LastImage(int* width, int* height, int* bitsPerPixel) const {
  *width = *height = *bitsPerPixel = 0;
  return {};
}

}  // namespace orvane::platform
