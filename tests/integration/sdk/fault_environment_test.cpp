// ORVANE_SIM_FAULTS through the shared library, as an application without C++ uses it: the variable
// is set before the library first looks for cameras.
#include <gtest/gtest.h>

#include <vector>

#include "OrvaneSdk.h"
#include "fault_support.h"
#include "small_frames.h"
#include "test_environment.h"

namespace {

TEST(FaultEnvironment, PayloadsFailingFromTheFourthFrameEndThePreviewWith13) {
  ASSERT_TRUE(SetTestVariable("ORVANE_SIM_CAMERAS", "1"));
  ASSERT_TRUE(SetTestVariable("ORVANE_SIM_FAULTS", "cam1:payload-fail:5@frame:4"));
  TestWindow window;
  int handle = 0;
  ASSERT_NO_FATAL_FAILURE(OpenForTheApplication(window, &handle));
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle, 8));
  DrainErrors(handle);
  std::vector<unsigned char> buffer(SmallFrameBytes(8));
  ASSERT_EQ(Orvane_CallBackPreview(handle, window.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  // Of frames 1 to 3 the preview shows what its pace lets it take; then five failed payloads in a row
  // outlast the engine's retries.
  int frames = 0;
  TakenMessage m;
  while (window.Take(&m, 60000)) {
    if (m.message != ORVANE_WM_FRAME) continue;
    if (m.wParam == 0) break;
    ++frames;
  }
  EXPECT_EQ(m.lParam, ORVANE_ERR_STREAM);
  EXPECT_GE(frames, 1);
  EXPECT_LE(frames, 3) << "frame 4 and later failed";
  EXPECT_TRUE(AwaitMessage(window, ORVANE_WM_ERROR, ORVANE_ERR_STREAM));
  EXPECT_EQ(Orvane_StopPreview(handle), 1);
  EXPECT_EQ(DrainErrors(handle), "13");
  // The five failures are used up: the next start works.
  ASSERT_EQ(Orvane_CallBackPreview(handle, window.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  do {
    ASSERT_TRUE(window.Take(&m, 60000));
  } while (m.message != ORVANE_WM_FRAME);
  EXPECT_NE(m.wParam, 0u);
  EXPECT_EQ(Orvane_StopPreview(handle), 1);
  EXPECT_EQ(Orvane_Release(handle), 1);
}

}  // namespace
