#include "platform/preview_window.h"

#include <gtest/gtest.h>

#ifndef _WIN32
namespace {

using orvane::platform::PreviewPlacement;
using orvane::platform::PreviewWindow;
using orvane::platform::SurfaceImage;

TEST(PreviewSurface, FlippedBlitShowsMemoryRowZeroAtTheTop) {
  PreviewWindow window;
  PreviewPlacement placement;
  placement.imageWidth = 2;
  placement.imageHeight = 3;
  ASSERT_TRUE(window.Create(&window, 0, placement));
  const uint8_t bits[] = {1, 2, 0, 0, 3, 4, 0, 0, 5, 6, 0, 0};  // 8-bit rows padded to 4 bytes
  SurfaceImage image{nullptr, bits, 2, 3, 4, 8};
  int w, h, b;
  window.Draw(image, true);
  EXPECT_TRUE(window.LastImage(&w, &h, &b).empty());  // nothing kept until asked
  window.KeepLastImage(true);
  window.Draw(image, true);
  EXPECT_EQ(window.LastImage(&w, &h, &b), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  window.Draw(image, false);
  EXPECT_EQ(window.LastImage(&w, &h, &b), (std::vector<uint8_t>{5, 6, 3, 4, 1, 2}));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(b, 8);
}

TEST(PreviewSurface, AWindowAskedLargerThanTheScreenIsLimitedAsARealOne) {
  PreviewWindow window;
  int dummy = 0;
  PreviewPlacement placement;
  placement.parent = reinterpret_cast<HWND>(&dummy);  // a child window: its size is the one asked for
  placement.width = 65536;
  placement.height = 65536;
  ASSERT_TRUE(window.Create(&window, 0, placement));
  int w = 0, h = 0;
  EXPECT_FALSE(window.DrawableSize(&w, &h));  // shown nowhere: the caller draws nothing
  window.KeepLastImage(true);
  ASSERT_TRUE(window.DrawableSize(&w, &h));
  EXPECT_EQ(w, 7680);
  EXPECT_EQ(h, 4320);
  placement.width = 640;
  placement.height = 480;
  ASSERT_TRUE(window.Create(&window, 0, placement));
  ASSERT_TRUE(window.DrawableSize(&w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

}  // namespace
#endif
