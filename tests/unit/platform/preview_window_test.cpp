#include "platform/preview_window.h"

#include <gtest/gtest.h>

#ifndef _WIN32
namespace {

using orvane::platform::PreviewPlacement;
using orvane::platform::PreviewWindow;
using orvane::platform::SurfaceImage;

TEST(PreviewSurface, ClassNameAndClientSizeFollowThePlacement) {
  PreviewWindow window;
  int owner = 0;
  PreviewPlacement topLevel;
  topLevel.imageWidth = 640;
  topLevel.imageHeight = 480;
  ASSERT_TRUE(window.Create(&owner, 0x1234abcd, topLevel));
  char expected[64];
  std::snprintf(expected, sizeof(expected), "VideoRenderer_%08x_1234abcd",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(&owner) & 0xFFFFFFFFu));
  EXPECT_EQ(window.ClassName(), expected);
  int w = 0, h = 0;
  ASSERT_TRUE(window.DrawableSize(&w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);

  PreviewPlacement child;
  child.parent = reinterpret_cast<HWND>(&owner);
  child.width = 320;
  child.height = 200;
  child.imageWidth = 640;
  ASSERT_TRUE(window.Create(&owner, 1, child));
  ASSERT_TRUE(window.DrawableSize(&w, &h));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 200);

  window.Destroy();
  EXPECT_FALSE(window.Exists());
  EXPECT_EQ(window.ClassName(), "");
  EXPECT_FALSE(window.DrawableSize(&w, &h));
}

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
  EXPECT_EQ(window.LastImage(&w, &h, &b), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  window.Draw(image, false);
  EXPECT_EQ(window.LastImage(&w, &h, &b), (std::vector<uint8_t>{5, 6, 3, 4, 1, 2}));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(b, 8);
}

}  // namespace
#endif
