// The preview window: where the acquisition thread shows each frame.
//
// Windows: a window of its own class "VideoRenderer_%08x_%08x" (the owner's address and a time-based
// value), either a child "ActiveMovie Window" of the application's window at the given place, or a
// top-level "Active Window" whose client area is the image size, centred on the primary screen.
// Nothing is painted by the window procedure; frames reach it only through Draw.
// Linux: a headless surface with the same placement rules; like a real window its client area is
// limited to the screen (a virtual 7680 x 4320 one). No screen shows it, so it keeps a copy of the last
// image drawn only when asked to (KeepLastImage): a full frame costs a copy per frame otherwise.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "OrvaneSdk.h"

namespace orvane::platform {

struct PreviewPlacement {
  HWND parent = nullptr;  // null: a top-level window
  int x = 0, y = 0, width = 0, height = 0;  // place and size of a child window
  int imageWidth = 0, imageHeight = 0;      // client size of a top-level window
};

// One image to show: a bitmap with its memory device context where it has one (Windows), and its
// pixels (rows top first in memory, padded to `stride`).
struct SurfaceImage {
  void* deviceContext = nullptr;
  const uint8_t* bits = nullptr;
  int width = 0, height = 0, stride = 0, bitsPerPixel = 0;
};

class PreviewWindow {
 public:
  // Window-class and title texts, and the child window's id.
  static constexpr const char* kChildTitle = "ActiveMovie Window";
  static constexpr const char* kTopLevelTitle = "Active Window";
  static constexpr int kChildId = 6540;
  static constexpr uint32_t kChildStyle = 0x52000000;     // child, visible, clip children
  static constexpr uint32_t kTopLevelStyle = 0x16CF0000;  // overlapped window, visible, clip siblings and children

  PreviewWindow() = default;
  ~PreviewWindow() { Destroy(); }
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  // Registers the class (named after `owner` and `timeValue`) and creates the window; false when
  // either fails (nothing is left behind then).
  bool Create(const void* owner, uint32_t timeValue, const PreviewPlacement& placement);
  // Destroys the window and unregisters its class; the class name becomes empty.
  void Destroy();

  bool Exists() const;
  HWND Handle() const { return window_; }
  std::string ClassName() const;
  // The client area's size when the window is visible, not empty and can be drawn into (the headless
  // surface: only while it keeps its images).
  bool DrawableSize(int* width, int* height) const;
  // Shows `image` at the client's top left. The bitmap is a bottom-up DIB whose memory rows are stored
  // top line first: a plain blit shows it upside down (used for bitmaps filled with mirrored rows),
  // `flip` blits from the bottom row with a negative height and shows it the right way up.
  void Draw(const SurfaceImage& image, bool flip);

  // Makes the headless surface keep a copy of each image drawn from now on (Linux; Windows shows them).
  void KeepLastImage(bool keep);
  // The headless surface's last image kept, as a screen would show it, top line first, rows packed
  // (Linux; empty on Windows and until KeepLastImage(true)).
  std::vector<uint8_t> LastImage(int* width, int* height, int* bitsPerPixel) const;

 private:
  mutable std::mutex mutex_;  // guards everything below: created and drawn from different threads
  HWND window_ = nullptr;
  void* windowDc_ = nullptr;
  std::string className_;
  int clientWidth_ = 0, clientHeight_ = 0;
  bool keepLast_ = false;
  std::vector<uint8_t> last_;
  int lastWidth_ = 0, lastHeight_ = 0, lastBits_ = 0;
};

}  // namespace orvane::platform
