// The acquisition rules under misuse, through the exported API against one virtual camera: a colour
// mode changed while streaming, the dot filter on a live stream, a preview window larger than any
// screen, and the life of the buffer given to Orvane_CallBackPreview.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "OrvaneSdk.h"
#include "one_camera.h"

namespace {

class AcquisitionRules : public OneCameraTest {
 protected:
  // The next frame message names a delivered frame of `bits` bits per pixel in `buffer`.
  void ExpectFrame(int bits, const unsigned char* buffer) {
    TakenMessage m = NextFrameMessage();
    ASSERT_NE(m.wParam, 0u) << "frame failure " << m.lParam;
    const auto* info = reinterpret_cast<const OrvaneFrameInfo*>(m.wParam);
    EXPECT_EQ(ReadShared(info->bitsPerPixel), bits);
    EXPECT_EQ(ReadShared(info->buffer), buffer);
  }
  // Orvane_StopPreview returns within a watchdog of many frames' time.
  void ExpectStopReturns() {
    auto stopped = std::async(std::launch::async, [this] { return Orvane_StopPreview(handle_); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "StopPreview hangs";
    EXPECT_EQ(stopped.get(), 1);
  }
};

size_t FrameBytes(int bits) { return static_cast<size_t>(4000) * 3000 * (bits / 8); }

TEST_F(AcquisitionRules, AColourModeChangedWhileStreamingWaitsForTheNextPreparation) {
  // Which mode a stream delivers does not depend on the frame's size: small frames, ten preparations.
  ASSERT_EQ(Orvane_SetSubSample(handle_, kSmallSubSample), 1);
  for (int bits : {8, 16, 32, 48, 64}) {
    SCOPED_TRACE(bits);
    ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
    std::vector<unsigned char> buffer24(SmallFrameBytes(24));
    ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer24.data(), static_cast<int>(buffer24.size()), 1), 1);
    ExpectFrame(24, buffer24.data());
    ASSERT_EQ(Orvane_SetColorMode(handle_, bits), 1);
    EXPECT_EQ(Orvane_GetColorMode(handle_), bits);
    Drain();
    // The running stream keeps the mode it was prepared for: frames, no errors.
    for (int i = 0; i < 2; ++i) ExpectFrame(24, buffer24.data());
    std::vector<unsigned char> copy(buffer24.size());
    EXPECT_EQ(Orvane_GetImage(handle_, copy.data(), static_cast<int>(copy.size()), 1), 1);
    ExpectStopReturns();
    EXPECT_EQ(Orvane_GetLastError(handle_), 0);
    Drain();  // messages of the stopped stream
    // The next preparation takes the new mode.
    std::vector<unsigned char> buffer(SmallFrameBytes(bits));
    ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
    ExpectFrame(bits, buffer.data());
    ExpectStopReturns();
    EXPECT_EQ(Orvane_GetLastError(handle_), 0);
    Drain();
  }
}

TEST_F(AcquisitionRules, WithTheDotFilterOnFramesComeAndAStopReturns) {
  ASSERT_EQ(Orvane_SetDotFilter(handle_, 1), 1);
  for (int bits : {24, 8}) {
    SCOPED_TRACE(bits);
    ASSERT_EQ(Orvane_SetColorMode(handle_, bits), 1);
    std::vector<unsigned char> buffer(FrameBytes(bits));
    ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
    for (int i = 0; i < 2; ++i) ExpectFrame(bits, buffer.data());
    ExpectStopReturns();
    EXPECT_EQ(Orvane_GetLastError(handle_), 0);
  }
}

#ifndef _WIN32
TEST_F(AcquisitionRules, APreviewWindowLargerThanAnyScreenIsLimitedAndThePreviewRuns) {
  TestWindow parent;
  ASSERT_EQ(Orvane_SetPreviewWindow(handle_, parent.handle(), 0, 0, 65536, 65536), 1);
  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  std::vector<unsigned char> buffer(FrameBytes(24));
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  for (int i = 0; i < 2; ++i) ExpectFrame(24, buffer.data());
  ExpectStopReturns();
  EXPECT_EQ(Orvane_Close(handle_), 1);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}
#endif

TEST_F(AcquisitionRules, TheCallbackBufferIsWrittenAfterAPauseAndForgottenByClose) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  std::vector<unsigned char> buffer(FrameBytes(8));
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  ExpectFrame(8, buffer.data());
  ExpectStopReturns();
  Drain();
  auto untouched = [&] { return std::all_of(buffer.begin(), buffer.end(), [](unsigned char b) { return b == 0xEE; }); };
  // Pause and resume: the buffer is written again.
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  ASSERT_EQ(Orvane_StartPreview(handle_), 1);
  ExpectFrame(8, buffer.data());
  ExpectStopReturns();
  EXPECT_FALSE(untouched());
  // After Close the application may free it: a later start delivers frame messages naming no buffer.
  EXPECT_EQ(Orvane_Close(handle_), 1);
  Drain();
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  ASSERT_EQ(Orvane_StartPreview(handle_), 1);
  for (int i = 0; i < 2; ++i) ExpectFrame(8, nullptr);
  ExpectStopReturns();
  EXPECT_TRUE(untouched());
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

TEST_F(AcquisitionRules, AfterReleaseReturnsTheCallbackBufferIsNeverWritten) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  std::vector<unsigned char> buffer(FrameBytes(8));
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  ExpectFrame(8, buffer.data());
  ASSERT_EQ(Orvane_Release(handle_), 1);
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  // Another object streams from the camera meanwhile; the released one writes nothing more.
  handle_ = Orvane_Initialize(window_.handle());
  ASSERT_NE(handle_, 0);
  ASSERT_EQ(Orvane_SetPreviewWindow(handle_, nullptr, 0, 0, 0, 0), 1);
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  std::vector<unsigned char> other(FrameBytes(8));
  Drain();
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), other.data(), static_cast<int>(other.size()), 1), 1);
  for (int i = 0; i < 2; ++i) ExpectFrame(8, other.data());
  ExpectStopReturns();
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char b) { return b == 0xEE; }));
}

}  // namespace
