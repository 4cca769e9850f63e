// The SDK's preview window under wine on a virtual display: its class name, title, style, child id
// and size, and that it shows the frame the application can also copy.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "OrvaneSdk.h"
#include "test_camera.h"
#include "test_settings.h"

namespace {

// The SDK's preview window: a child of `parent`, or a top-level window of this thread when null.
HWND FindPreviewWindow(HWND parent) {
  HWND found = nullptr;
  auto visit = [](HWND window, LPARAM param) -> BOOL {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    if (std::strncmp(name, "VideoRenderer_", 14) != 0) return TRUE;
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  };
  if (parent != nullptr) {
    EnumChildWindows(parent, visit, reinterpret_cast<LPARAM>(&found));
  } else {
    EnumThreadWindows(GetCurrentThreadId(), visit, reinterpret_cast<LPARAM>(&found));
  }
  return found;
}

// Lets the window system run while frames are drawn.
void PumpFor(int ms) {
  DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < static_cast<DWORD>(ms)) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

TEST(PreviewWindow, ChildWindowShowsTheScaledFrame) {
  ASSERT_TRUE(kOneVirtualCamera);
  UseFreshSettingsStore();
  HWND parent = CreateWindowExA(0, "STATIC", "application", WS_POPUP | WS_VISIBLE, 0, 0, 700, 400, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  int handle = Orvane_Initialize(parent);
  ASSERT_NE(handle, 0);
  ASSERT_EQ(Orvane_SetColorMode(handle, 24), 1);
  ASSERT_EQ(Orvane_SetSubSample(handle, 17), 1);  // 2048 x 1080
  ASSERT_EQ(Orvane_SetPreviewWindow(handle, parent, 10, 20, 512, 270), 1);  // a quarter of the frame
  ASSERT_EQ(Orvane_Preview(handle), 1);

  HWND preview = FindPreviewWindow(parent);
  ASSERT_NE(preview, nullptr);
  char className[64] = {}, title[64] = {};
  GetClassNameA(preview, className, sizeof(className));
  GetWindowTextA(preview, title, sizeof(title));
  unsigned owner = 0, stamp = 0;
  EXPECT_EQ(std::sscanf(className, "VideoRenderer_%08x_%08x", &owner, &stamp), 2) << className;
  EXPECT_EQ(std::strlen(className), std::strlen("VideoRenderer_") + 17);
  EXPECT_STREQ(title, "ActiveMovie Window");
  EXPECT_EQ(static_cast<uint32_t>(GetWindowLongA(preview, GWL_STYLE)) & 0x52000000u, 0x52000000u);
  EXPECT_EQ(GetDlgCtrlID(preview), 6540);
  RECT client{};
  GetClientRect(preview, &client);
  EXPECT_EQ(client.right, 512);
  EXPECT_EQ(client.bottom, 270);

  // Probes of the window against the newest image: the window system runs until a drawn frame
  // shows at every probe (or a generous limit passes).
  std::vector<unsigned char> image(2048 * 3 * 1080);
  auto matchingProbes = [&](int* probes) {
    if (Orvane_GetImage(handle, image.data(), static_cast<int>(image.size()), 1) != 1) return -1;
    HDC dc = GetDC(preview);
    int matches = 0;
    *probes = 0;
    for (int y = 5; y < 270; y += 53) {
      for (int x = 7; x < 512; x += 71) {
        // Nearest neighbour into the bottom-up display bitmap: its memory row r takes image row
        // 1079 - r * 4, and the blit shows memory row 269 - y at screen row y.
        const size_t row = 1079 - static_cast<size_t>(269 - y) * 4;
        const unsigned char* pixel = image.data() + (row * 2048 + static_cast<size_t>(x) * 4) * 3;
        ++*probes;
        matches += GetPixel(dc, x, y) == RGB(pixel[2], pixel[1], pixel[0]);
      }
    }
    ReleaseDC(preview, dc);
    return matches;
  };
  int probes = 0, matches = 0;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 30000;) {
    PumpFor(50);
    matches = matchingProbes(&probes);
    if (matches == probes) break;
  }
  EXPECT_EQ(matches, probes);

  EXPECT_EQ(Orvane_Close(handle), 1);
  EXPECT_EQ(FindPreviewWindow(parent), nullptr);
  EXPECT_EQ(Orvane_Release(handle), 1);
  DestroyWindow(parent);
}

TEST(PreviewWindow, TopLevelWindowHasTheImageSizeAndItsTitle) {
  UseFreshSettingsStore();
  int handle = Orvane_Initialize(nullptr);
  ASSERT_NE(handle, 0);
  ASSERT_EQ(Orvane_SetColorMode(handle, 8), 1);
  ASSERT_EQ(Orvane_SetSubSample(handle, 17), 1);
  ASSERT_EQ(Orvane_Preview(handle), 1);  // the default placement makes a top-level window
  HWND preview = FindPreviewWindow(nullptr);
  ASSERT_NE(preview, nullptr);
  char title[64] = {};
  GetWindowTextA(preview, title, sizeof(title));
  EXPECT_STREQ(title, "Active Window");
  RECT client{};
  GetClientRect(preview, &client);
  EXPECT_EQ(client.right, 2000);  // the capture window (4000 x 3000) divided by the sub-sampling
  EXPECT_EQ(client.bottom, 1500);
  EXPECT_EQ(GetParent(preview), nullptr);
  EXPECT_EQ(Orvane_Release(handle), 1);
  EXPECT_EQ(FindPreviewWindow(nullptr), nullptr);
}

}  // namespace
