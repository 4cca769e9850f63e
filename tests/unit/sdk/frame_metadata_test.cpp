// The newest delivered frame of the SDK object with the metadata the device read with it, and the
// stream's counts, on a fake camera whose frames a test may let go by untaken.
#include <gtest/gtest.h>

#include <vector>

#include "sdk_with_fake_device.h"

namespace {

using orvane::device::FrameMetadata;

class FakeCameraFrameMetadata : public SdkOnFakeDevice {
 protected:
  // The newest delivered frame's metadata and whether its image is the fake's fill in the frame's
  // geometry; false when there was none.
  bool Newest(FrameMetadata* metadata, uint8_t fill) {
    return sdk_->ReadNewestFrame([&](const COrvane::DeliveredFrame& frame) {
      *metadata = frame.metadata;
      EXPECT_EQ(frame.width, kWidth);
      EXPECT_EQ(frame.height, kHeight);
      EXPECT_EQ(frame.bitsPerPixel, 8);
      EXPECT_EQ(frame.stride, kWidth);
      EXPECT_EQ(frame.size, kFrameBytes);
      EXPECT_EQ(std::vector<uint8_t>(frame.topRow, frame.topRow + frame.size), std::vector<uint8_t>(kFrameBytes, fill));
    });
  }
};

TEST_F(FakeCameraFrameMetadata, ASnapshotKeepsItsFramesMetadataWithTheImage) {
  FrameMetadata metadata;
  EXPECT_FALSE(Newest(&metadata, 0)) << "nothing delivered yet";
  fake_->SetFill(0x3C);
  std::vector<unsigned char> buffer(kFrameBytes);
  ASSERT_EQ(sdk_->SnapShot(buffer.data(), kFrameBytes, 1), 1);
  ASSERT_TRUE(Newest(&metadata, 0x3C));
  EXPECT_EQ(metadata.sequence, 1u);
  EXPECT_EQ(metadata.skipped, 0u);
  EXPECT_EQ(metadata.cameraCounter, 1);
  EXPECT_EQ(sdk_->StreamStats().framesDelivered, 1u);
  EXPECT_EQ(sdk_->Close(), 1);
  EXPECT_FALSE(Newest(&metadata, 0x3C)) << "Close lets the images go";
}

// Frames read while the application held the newest one (the frame lock) are skipped: the counts say
// so, and the newest frame's metadata keeps rising.
TEST_F(FakeCameraFrameMetadata, FramesReadWhileTheNewestIsHeldAreSkipped) {
  fake_->SetFill(0x42);
  ASSERT_EQ(sdk_->Preview(), 1);
  ASSERT_TRUE(fake_->WaitForFrames(1));
  FrameMetadata held;
  int taken = 0;
  ASSERT_TRUE(sdk_->ReadNewestFrame([&](const COrvane::DeliveredFrame& frame) {
    held = frame.metadata;
    fake_->ReadUntaken(5);
    taken = fake_->FramesTaken();
  }));
  ASSERT_TRUE(fake_->WaitForFrames(taken + 2));
  EXPECT_EQ(sdk_->StopPreview(), 1);
  FrameMetadata newest;
  ASSERT_TRUE(Newest(&newest, 0x42));
  EXPECT_GT(newest.sequence, held.sequence + 5);
  EXPECT_GT(newest.hostTimeNs, held.hostTimeNs);
  const orvane::device::StreamStatistics stats = sdk_->StreamStats();
  EXPECT_EQ(stats.framesSkipped, 5u);
  EXPECT_EQ(stats.framesRead, stats.framesDelivered + 5);
  // A frame taken as the stop came is not converted: the newest delivered may be one before it.
  EXPECT_GE(stats.framesRead, newest.sequence);
  EXPECT_LE(stats.framesRead, newest.sequence + 1);
  EXPECT_EQ(Errors(), std::vector<int>{});
}

}  // namespace
