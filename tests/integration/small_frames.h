// What the tests of the exported API share: a handle whose frames go to the application only, the
// small frame format that keeps sanitised builds at the camera's pace, the wait for a frame message
// and the reading of a delivered frame's information block.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "OrvaneSdk.h"
#include "test_settings.h"
#include "test_window.h"

// Sub-sampling mode 17: frames of 2048 x 1080, small enough for sanitised builds to keep up.
inline constexpr int kSmallSubSample = 17;
inline constexpr int kSmallWidth = 2048;
inline constexpr int kSmallHeight = 1080;

// Bytes of one small frame of `bits` bits per pixel.
constexpr int SmallFrameBytes(int bits) { return kSmallWidth * kSmallHeight * (bits / 8); }

// Fields of a delivered frame's information block, which the SDK's thread writes.
inline int32_t ReadShared(const int32_t& field) { return std::atomic_ref<const int32_t>(field).load(); }
inline unsigned char* ReadShared(unsigned char* const& field) {
  return std::atomic_ref<unsigned char* const>(field).load();
}

// A handle on a fresh settings store that posts to `window` and has no window of the SDK's own.
inline void OpenForTheApplication(TestWindow& window, int* handle) {
  UseFreshSettingsStore();
  *handle = Orvane_Initialize(window.handle());
  ASSERT_NE(*handle, 0);
  ASSERT_EQ(Orvane_SetPreviewWindow(*handle, nullptr, 0, 0, 0, 0), 1);
}

// Small frames of `bits` bits per pixel.
inline void UseSmallFrames(int handle, int bits) {
  ASSERT_EQ(Orvane_SetColorMode(handle, bits), 1);
  ASSERT_EQ(Orvane_SetSubSample(handle, kSmallSubSample), 1);
}

// The next frame message within a generous limit; a failure of the test when none comes.
inline TakenMessage NextFrameMessage(TestWindow& window) {
  TakenMessage m;
  for (;;) {
    if (!window.Take(&m, 60000)) {
      ADD_FAILURE() << "no frame message";
      return {};
    }
    if (m.message == ORVANE_WM_FRAME) return m;
  }
}
