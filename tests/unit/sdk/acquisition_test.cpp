// The frame path of the SDK object on a fake camera: what reaches the application's buffer, and what a
// failed start, a failed transfer, a small buffer or an unplugged camera record.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "sdk_with_fake_device.h"

namespace {

using orvane::sdk::AcquisitionState;

class FakeCameraAcquisition : public SdkOnFakeDevice {
 protected:
  static bool AllBytesAre(const std::vector<unsigned char>& bytes, unsigned char value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](unsigned char b) { return b == value; });
  }
};

TEST_F(FakeCameraAcquisition, ASnapshotDeliversOneSingleFrameTransferAndStopsIt) {
  fake_->SetFill(0x5A);
  std::vector<unsigned char> buffer(kFrameBytes, 0);
  ASSERT_EQ(sdk_->SnapShot(buffer.data(), kFrameBytes, 1), 1);
  EXPECT_TRUE(AllBytesAre(buffer, 0x5A));
  EXPECT_EQ(fake_->LastStartMode(), 1);
  EXPECT_EQ(fake_->FramesTaken(), 1);
  EXPECT_FALSE(fake_->Streaming());
  EXPECT_EQ(fake_->BitDepth(), 0);  // 8-bit colour takes 8-bit raw data
  EXPECT_EQ(Errors(), std::vector<int>{});
}

TEST_F(FakeCameraAcquisition, SnapshotsInCaptureModeLeaveTheStreamToTheStop) {
  ASSERT_EQ(sdk_->Capture(), 1);
  std::vector<unsigned char> buffer(kFrameBytes);
  for (unsigned char fill : {0x11, 0x22}) {
    fake_->SetFill(fill);
    ASSERT_EQ(sdk_->SnapShot(buffer.data(), kFrameBytes, 0), 1);
    EXPECT_TRUE(AllBytesAre(buffer, fill));
    EXPECT_TRUE(fake_->Streaming());
  }
  EXPECT_EQ(sdk_->StopPreview(), 1);
  EXPECT_FALSE(fake_->Streaming());
}

TEST_F(FakeCameraAcquisition, ASnapshotWhoseTransferFailsIsError8AndStopsTheStream) {
  fake_->FailTransfers(true);
  std::vector<unsigned char> buffer(kFrameBytes);
  EXPECT_EQ(sdk_->SnapShot(buffer.data(), kFrameBytes, 1), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ORVANE_ERR_TRANSFER});
  EXPECT_FALSE(fake_->Streaming());
  EXPECT_EQ(State(), AcquisitionState::kIdle);
}

TEST_F(FakeCameraAcquisition, ASnapshotIntoABufferOneByteTooSmallIsError5Twice) {
  std::vector<unsigned char> buffer(kFrameBytes - 1, 0x77);
  EXPECT_EQ(sdk_->SnapShot(buffer.data(), kFrameBytes - 1, 1), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ORVANE_ERR_MEMORY, ORVANE_ERR_MEMORY}));
  EXPECT_TRUE(AllBytesAre(buffer, 0x77));
  EXPECT_FALSE(fake_->Streaming());
}

TEST_F(FakeCameraAcquisition, APreviewWhoseStreamCannotStartIsError6AndStaysIdle) {
  fake_->FailStart(true);
  EXPECT_EQ(sdk_->StartPreview(), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ORVANE_ERR_DEVICE_IO});
  EXPECT_EQ(State(), AcquisitionState::kIdle);
  // Through CallBackPreview the failure closes the object and adds error 8.
  EXPECT_EQ(sdk_->CallBackPreview(nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ORVANE_ERR_TRANSFER, ORVANE_ERR_DEVICE_IO}));
  EXPECT_EQ(State(), AcquisitionState::kIdle);
}

TEST_F(FakeCameraAcquisition, ACallbackPreviewFillsTheApplicationBufferWithEachFrame) {
  fake_->SetFill(0x33);
  std::vector<unsigned char> buffer(kFrameBytes, 0);
  ASSERT_EQ(sdk_->CallBackPreview(nullptr, buffer.data(), kFrameBytes, 1), 1);
  ASSERT_TRUE(fake_->WaitForFrames(3));
  EXPECT_EQ(sdk_->StopPreview(), 1);
  EXPECT_TRUE(AllBytesAre(buffer, 0x33));
  EXPECT_EQ(fake_->LastStartMode(), 0);
  EXPECT_EQ(Errors(), std::vector<int>{});
  // GetImage copies the same newest image.
  std::vector<unsigned char> copy(kFrameBytes, 0);
  EXPECT_EQ(sdk_->GetImage(copy.data(), kFrameBytes, 0), 1);
  EXPECT_EQ(copy, buffer);
}

TEST_F(FakeCameraAcquisition, FailedTransfersDuringPreviewAreError8PerFrameAndThePreviewGoesOn) {
  fake_->FailTransfers(true);
  ASSERT_EQ(sdk_->StartPreview(), 1);
  ASSERT_TRUE(fake_->WaitForFailedTakes(2));
  EXPECT_EQ(State(), AcquisitionState::kPreview);
  fake_->FailTransfers(false);
  const int taken = fake_->FramesTaken();
  EXPECT_TRUE(fake_->WaitForFrames(taken + 1));
  EXPECT_EQ(sdk_->StopPreview(), 1);
  std::vector<int> errors = Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_TRUE(std::all_of(errors.begin(), errors.end(), [](int code) { return code == ORVANE_ERR_TRANSFER; }));
}

TEST_F(FakeCameraAcquisition, AnUnpluggedCameraEndsThePreviewWithError13UntilStopped) {
  ASSERT_EQ(sdk_->StartPreview(), 1);
  ASSERT_TRUE(fake_->WaitForFrames(1));
  fake_->Unplug();
  ASSERT_TRUE(WaitForState(AcquisitionState::kStreamLost));
  EXPECT_EQ(Errors(), std::vector<int>{ORVANE_ERR_STREAM});
  // Still in preview: a start succeeds without starting anything, capture is refused.
  const int starts = fake_->Starts();
  EXPECT_EQ(sdk_->StartPreview(), 1);
  EXPECT_EQ(fake_->Starts(), starts);
  EXPECT_EQ(sdk_->Capture(), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ORVANE_ERR_NOT_NOW});
  // Stopped, the next start prepares again and finds no camera.
  EXPECT_EQ(sdk_->StopPreview(), 1);
  EXPECT_EQ(State(), AcquisitionState::kIdle);
  EXPECT_EQ(sdk_->StartPreview(), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ORVANE_ERR_NO_CAMERA});
}

TEST_F(FakeCameraAcquisition, AnInvalidGeometryRefusesEveryPreparationWithError7) {
  ASSERT_EQ(sdk_->SetCaptureWindowEx(kWidth, 3990, kWidth, kHeight, 0, kHeight), 0);
  ASSERT_EQ(Errors(), std::vector<int>{ORVANE_ERR_GEOMETRY});
  std::vector<unsigned char> buffer(kFrameBytes);
  EXPECT_EQ(sdk_->StartPreview(), 0);
  EXPECT_EQ(sdk_->Capture(), 0);
  EXPECT_EQ(sdk_->SnapShot(buffer.data(), kFrameBytes, 1), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ORVANE_ERR_GEOMETRY, ORVANE_ERR_GEOMETRY, ORVANE_ERR_GEOMETRY}));
  EXPECT_EQ(State(), AcquisitionState::kIdle);
  EXPECT_EQ(fake_->Starts(), 0);
}

TEST_F(FakeCameraAcquisition, ARecordingEndsByItselfAfterItsDurationAndThePreviewGoesOn) {
  const std::string path = RecordingPath();
  // 1 ms: the recording ends at the second frame, captured one loop pass after the first.
  ASSERT_EQ(sdk_->Record(path.c_str(), 1, 0), 1);
  ASSERT_TRUE(WaitForState(AcquisitionState::kPreview));
  // The finished file counts its frames in the main header (the fifth word after "avih").
  unsigned char totalFrames[4] = {};
  {
    std::ifstream file(path, std::ios::binary);  // closed before the file is removed (Windows)
    file.seekg(48).read(reinterpret_cast<char*>(totalFrames), 4);
    ASSERT_TRUE(file.good());
  }
  EXPECT_GE(totalFrames[0] | totalFrames[1] << 8 | totalFrames[2] << 16 | totalFrames[3] << 24, 2);
  // The next recording joins the running preview; a stop ends both.
  const int starts = fake_->Starts();
  ASSERT_EQ(sdk_->Record((path + "2").c_str(), 600000, 0), 1);
  EXPECT_EQ(State(), AcquisitionState::kRecording);
  EXPECT_EQ(fake_->Starts(), starts);
  EXPECT_EQ(sdk_->StopPreview(), 1);
  EXPECT_EQ(State(), AcquisitionState::kIdle);
  EXPECT_EQ(Errors(), std::vector<int>{});
  std::filesystem::remove(path);
  std::filesystem::remove(path + "2");
}

}  // namespace
