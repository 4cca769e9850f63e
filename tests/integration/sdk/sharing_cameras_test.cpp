// Eight SDK objects on four virtual cameras: each camera is open in one of them, which streams; the
// other four are refused with error 2.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "OrvaneSdk.h"
#include "small_frames.h"
#include "test_environment.h"

namespace {

const bool kFourVirtualCameras = SetTestVariable("ORVANE_SIM_CAMERAS", "4");

constexpr int kFrameBytes = SmallFrameBytes(8);

TEST(SharingCameras, EightHandlesOnFourCamerasStreamFourAndRefuseFour) {
  ASSERT_TRUE(kFourVirtualCameras);
  UseFreshSettingsStore();
  // Released before its buffer and window go, also when an assertion ends the test early.
  struct Handle {
    ~Handle() {
      if (handle != 0) Orvane_Release(handle);
    }
    TestWindow window;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(kFrameBytes);
    int handle = 0;
  };
  std::vector<std::unique_ptr<Handle>> handles;
  for (int i = 0; i < 8; ++i) {
    auto h = std::make_unique<Handle>();
    h->handle = Orvane_Initialize(h->window.handle());
    ASSERT_NE(h->handle, 0);
    EXPECT_EQ(Orvane_GetLastError(h->handle), 0) << "four cameras: nothing is opened at initialisation";
    handles.push_back(std::move(h));
  }
  for (int i = 0; i < 8; ++i) {
    Handle& h = *handles[i];
    SCOPED_TRACE(i);
    const bool owner = i < 4;
    EXPECT_EQ(Orvane_SetDeviceNumber(h.handle, i % 4), owner ? 1 : 0);
    // After the opening, which brings the camera's stored settings.
    ASSERT_EQ(Orvane_SetPreviewWindow(h.handle, nullptr, 0, 0, 0, 0), 1);
    ASSERT_NO_FATAL_FAILURE(UseSmallFrames(h.handle, 8));
    EXPECT_EQ(Orvane_CallBackPreview(h.handle, h.window.handle(), h.buffer.data(), kFrameBytes, 1), owner ? 1 : 0);
    if (!owner) {
      EXPECT_EQ(Orvane_GetLastError(h.handle), ORVANE_ERR_TRANSFER);  // newest first
      EXPECT_EQ(Orvane_GetLastError(h.handle), ORVANE_ERR_NO_CAMERA);
      EXPECT_EQ(Orvane_GetLastError(h.handle), ORVANE_ERR_NO_CAMERA);
    }
  }
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    for (int frames = 0; frames < 10;) {
      TakenMessage m;
      ASSERT_TRUE(handles[i]->window.Take(&m, 60000)) << "no frame";
      ASSERT_NE(m.message, static_cast<unsigned>(ORVANE_WM_ERROR)) << "error " << m.lParam;
      if (m.message == ORVANE_WM_FRAME) {
        ASSERT_NE(m.wParam, 0u) << "frame failure " << m.lParam;
        ++frames;
      }
    }
  }
  for (auto& h : handles) {
    EXPECT_EQ(Orvane_Release(h->handle), 1);
    h->handle = 0;
  }
}

}  // namespace
