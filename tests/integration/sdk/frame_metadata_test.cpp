// Frame metadata and stream counts through the SDK object against the virtual camera, with faults
// injected into its transfers. Linked statically for the camera's fault hook and the SDK object
// behind the handle.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "api/sdk_chain.h"
#include "one_camera.h"
#include "sdk/orvane.h"
#include "sim/fault_injection.h"

namespace {

using orvane::device::FrameMetadata;
using orvane::device::StreamStatistics;

class FrameMetadataOnTheCamera : public OneCameraTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OneCameraTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle_, 8));
    faults_ = orvane::sim::ProcessCameraFaults(1);
    ASSERT_NE(faults_, nullptr);
    sdk_ = CSdkChain::Library().Lookup(handle_);
    ASSERT_NE(sdk_, nullptr);
  }
  void TearDown() override {
    sdk_.reset();
    OneCameraTest::TearDown();
  }

  void StartPreview() {
    ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer_.data(), static_cast<int>(buffer_.size()), 1), 1);
  }
  void TakeFrames(int count) {
    for (int i = 0; i < count; ++i) ASSERT_EQ(NextFrameMessage().message, static_cast<unsigned>(ORVANE_WM_FRAME));
  }
  // The newest delivered frame's metadata, checked against the small 8-bit format.
  FrameMetadata Newest() {
    FrameMetadata metadata;
    EXPECT_TRUE(sdk_->ReadNewestFrame([&](const COrvane::DeliveredFrame& frame) {
      EXPECT_EQ(frame.width, kSmallWidth);
      EXPECT_EQ(frame.height, kSmallHeight);
      EXPECT_EQ(frame.bitsPerPixel, 8);
      metadata = frame.metadata;
    }));
    return metadata;
  }

  orvane::sim::FaultInjection* faults_ = nullptr;
  std::shared_ptr<COrvane> sdk_;
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(SmallFrameBytes(8));
};

// Failed payload pieces are failed transfers, each followed by a restart of the stream; a header that
// is never answered runs out its wait once and is read again, without failing the frame.
TEST_F(FrameMetadataOnTheCamera, InjectedFailuresAndALateHeaderAreCounted) {
  faults_->DelayHeaders(1, orvane::sim::kNever);
  faults_->FailPayloads(2);
  StartPreview();
  TakeFrames(3);
  const StreamStatistics stats = sdk_->StreamStats();
  EXPECT_GE(stats.failedTransfers, 2u);
  EXPECT_EQ(stats.resets, stats.failedTransfers);
  EXPECT_GE(stats.timeouts, 1u);
  EXPECT_GE(stats.framesDelivered, 3u);
  EXPECT_GE(stats.framesRead, stats.framesDelivered + stats.framesSkipped);
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

// While the application holds the newest frame, the frame path waits and the camera's frames go on
// being read: the frame delivered next counts them as skipped. Sequences and host times rise.
TEST_F(FrameMetadataOnTheCamera, FramesReadWhileTheNewestIsHeldAreSkipped) {
  StartPreview();
  TakeFrames(2);
  FrameMetadata held;
  bool readOn = false;
  uint64_t skippedBefore = 0;
  ASSERT_TRUE(sdk_->ReadNewestFrame([&](const COrvane::DeliveredFrame& frame) {
    held = frame.metadata;
    skippedBefore = sdk_->StreamStats().framesSkipped;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(readOn = sdk_->StreamStats().framesRead >= held.sequence + 3) && std::chrono::steady_clock::now() < limit) {
      std::this_thread::yield();
    }
  }));
  ASSERT_TRUE(readOn) << "the camera's frames stopped being read";
  Drain();
  TakeFrames(1);
  const FrameMetadata next = Newest();
  EXPECT_GE(next.sequence, held.sequence + 3);
  EXPECT_GT(next.hostTimeNs, held.hostTimeNs);
  EXPECT_GE(next.cameraCounter, 0);
  EXPECT_LE(next.cameraCounter, 255);
  EXPECT_GE(sdk_->StreamStats().framesSkipped, skippedBefore + 2);
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);
  const StreamStatistics stats = sdk_->StreamStats();
  EXPECT_GE(stats.framesRead, stats.framesDelivered + stats.framesSkipped);
  EXPECT_EQ(stats.failedTransfers, 0u);
}

}  // namespace
