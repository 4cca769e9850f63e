// Many application threads on one handle while the preview runs: setters, getters, image copies
// and snapshots must neither crash nor deadlock, and the preview keeps delivering frames.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "OrvaneSdk.h"
#include "one_camera.h"

namespace {

// Seconds of load; ORVANE_STRESS_SECONDS shortens or lengthens the run.
int StressSeconds() {
  const char* value = std::getenv("ORVANE_STRESS_SECONDS");
  int seconds = value != nullptr ? std::atoi(value) : 0;
  return seconds > 0 ? seconds : 60;
}

TEST(Stress, EightThreadsOnOneHandleDuringPreview) {
  ASSERT_TRUE(kOneVirtualCamera);
  TestWindow window;
  int handle = 0;
  ASSERT_NO_FATAL_FAILURE(OpenForTheApplication(window, &handle));
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle, 24));
  const int frameBytes = SmallFrameBytes(24);
  std::vector<unsigned char> previewBuffer(frameBytes);
  ASSERT_EQ(Orvane_CallBackPreview(handle, window.handle(), previewBuffer.data(), frameBytes, 1), 1);

  std::atomic<bool> stop{false};
  std::atomic<long> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::vector<unsigned char> image(frameBytes);
      int ok = 0;
      for (int i = 0; !stop; ++i) {
        switch ((t + i) % 8) {
          case 0: Orvane_SetBrightness(handle, i % 511 - 255); break;
          case 1: Orvane_GetContrast(handle, &ok); break;
          case 2: Orvane_SetGamma(handle, 80 + i % 60); break;
          case 3: Orvane_GetImage(handle, image.data(), frameBytes, i % 2); break;
          case 4: Orvane_SnapShot(handle, image.data(), frameBytes, 1); break;  // refused while previewing
          case 5: Orvane_SetGlobalGain(handle, i % 1000); break;
          case 6: Orvane_GetExposureTime(handle, &ok); Orvane_SetSaturation(handle, i % 200 - 100); break;
          default: Orvane_GetLastError(handle); Orvane_SetMirrorV(handle, i % 2); break;
        }
        ++calls;
      }
    });
  }
  // Count delivered frames on this (the window's) thread while the others hammer the handle.
  int frames = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(StressSeconds());
  while (std::chrono::steady_clock::now() < end) {
    TakenMessage m;
    if (window.Take(&m, 200) && m.message == ORVANE_WM_FRAME && m.wParam != 0) ++frames;
  }
  stop = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Orvane_StopPreview(handle), 1);
  EXPECT_GT(frames, 0);
  EXPECT_GT(calls.load(), 8);
  EXPECT_EQ(Orvane_Release(handle), 1);
}

}  // namespace
