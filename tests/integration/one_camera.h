// The fixture of the tests of the exported API against the program's one virtual camera.
#pragma once

#include <gtest/gtest.h>

#include "OrvaneSdk.h"
#include "small_frames.h"
#include "test_camera.h"
#include "test_window.h"

// A test on the program's one virtual camera, through a handle whose frames go to the application.
class OneCameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera);
    ASSERT_NO_FATAL_FAILURE(OpenForTheApplication(window_, &handle_));
    // What the opening recorded and posted is not the test's.
    while (Orvane_GetLastError(handle_) != 0) {
    }
    Drain();
  }
  void TearDown() override { EXPECT_EQ(Orvane_Release(handle_), 1); }

  // Forgets the messages posted so far.
  void Drain() {
    TakenMessage m;
    while (window_.Take(&m, 0)) {
    }
  }
  TakenMessage NextFrameMessage() { return ::NextFrameMessage(window_); }

  TestWindow window_;
  int handle_ = 0;
};
