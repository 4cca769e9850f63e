// The metadata a frame carries from its read to its hand-out, and the counts of a stream, against the
// fake controller: its payload bytes are a pattern of the frame number and its header's counter byte is
// that number, so a frame handed out with another frame's metadata shows.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "device/orvane_device.h"
#include "tests/unit/device/fake_camera.h"

namespace {

using orvane::device::FrameMetadata;
using orvane::device::StreamStatistics;
constexpr int kNew = COrvaneR3O5Base::kWaitNewFrame;
constexpr int kWidth = 64;
constexpr int kHeight = 16;

class FrameMetadataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = std::make_unique<COrvaneUSB3R5SimpleSdk>();
    device_->SetControllerFactory([this](const InterfaceClassGuid&) {
      auto fake = std::make_unique<FakeCamera>();
      camera_ = fake.get();
      return fake;
    });
    device_->SetTiming([this](uint32_t ms) { clockMs_ += ms; }, [this] { return clockMs_.load(); });
    ASSERT_EQ(device_->SetCameraType(COrvaneR3O5Base::kCameraTypeImx226), 1);
    ASSERT_EQ(device_->CreateController(nullptr, nullptr), 1);
    ASSERT_EQ(device_->Open(0), 1);
    ASSERT_EQ(device_->SetWindow(0, 0, kWidth, kHeight, 0), 1);
  }

  static std::vector<uint8_t> Pattern(int64_t frame) {
    std::vector<uint8_t> bytes(kWidth * kHeight);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = FakeCamera::PatternByte(static_cast<uint32_t>(frame), i);
    return bytes;
  }

  // Waits for the frame event until `done` holds of the stream's counts (a generous number of waits).
  template <typename F>
  bool WaitForStats(F done) {
    for (int i = 0; i < 1000; ++i) {
      if (done(device_->StreamStats())) return true;
      device_->WaitFrame(100);
    }
    return done(device_->StreamStats());
  }

  // Takes the newest frame; its bytes must be those of the frame its metadata names.
  FrameMetadata Take() {
    std::vector<uint8_t> frame(kWidth * kHeight);
    FrameMetadata metadata;
    EXPECT_TRUE(device_->TakeNewestFrame(frame.data(), kWidth, frame.size(), 1, &metadata));
    EXPECT_EQ(frame, Pattern(metadata.cameraCounter)) << "sequence " << metadata.sequence;
    return metadata;
  }

  std::unique_ptr<COrvaneUSB3R5SimpleSdk> device_;
  FakeCamera* camera_ = nullptr;
  std::atomic<uint32_t> clockMs_{0};
};

// A consumer slower than the stream: each hand-out waits until at least three more frames were read.
// Sequences rise by one per frame read, the skipped count is the gap to the previous hand-out, the
// camera counter is the header's, and the host time rises; the counts agree with what was handed out.
TEST_F(FrameMetadataTest, ASlowConsumerSeesTheGapsAsSkippedFrames) {
  ASSERT_EQ(device_->StartTransfer(0), 1);
  ASSERT_TRUE(WaitForStats([](const StreamStatistics& s) { return s.framesRead >= 1; }));
  FrameMetadata previous = Take();
  EXPECT_EQ(previous.skipped, previous.sequence - 1);
  uint64_t skipped = previous.skipped;
  for (int i = 0; i < 5; ++i) {
    const uint64_t after = previous.sequence + 3;
    ASSERT_TRUE(WaitForStats([after](const StreamStatistics& s) { return s.framesRead >= after; }));
    const FrameMetadata next = Take();
    EXPECT_GE(next.sequence, after);
    EXPECT_EQ(next.skipped, next.sequence - previous.sequence - 1);
    // Frame numbers start at 0, sequences at 1: every frame read was counted once.
    EXPECT_EQ(next.cameraCounter, static_cast<int64_t>((next.sequence - 1) & 0xFF));
    EXPECT_GT(next.hostTimeNs, previous.hostTimeNs);
    EXPECT_EQ(next.status, orvane::device::TransferStatus::kComplete);
    skipped += next.skipped;
    previous = next;
  }
  const uint64_t seen = previous.sequence;
  ASSERT_TRUE(WaitForStats([seen](const StreamStatistics& s) { return s.framesRead > seen; }));
  device_->StopTransfer(1);
  // The newest frame once the stream stopped is the last read.
  const FrameMetadata last = Take();
  const StreamStatistics stats = device_->StreamStats();
  EXPECT_EQ(stats.framesRead, last.sequence);
  EXPECT_EQ(stats.framesDelivered, 7u);
  EXPECT_EQ(stats.framesSkipped, skipped + last.skipped);
  EXPECT_EQ(stats.failedTransfers, 0u);
  // A frame taken again is not delivered twice.
  const FrameMetadata again = Take();
  EXPECT_EQ(again.sequence, last.sequence);
  EXPECT_EQ(again.skipped, 0u);
  EXPECT_EQ(device_->StreamStats().framesDelivered, 7u);
}

// Failed headers, payloads and short payloads each count as a failed transfer and a restart of the
// stream; the frame that finally comes is the first read, since every start counts afresh.
TEST_F(FrameMetadataTest, FailedAttemptsAreCountedAndAStartCountsAfresh) {
  camera_->FailHeaders(2);
  camera_->FailPayloads(1);
  ASSERT_EQ(device_->StartTransfer(1), 1);
  ASSERT_TRUE(WaitForStats([](const StreamStatistics& s) { return s.framesRead >= 1; }));
  device_->StopTransfer(1);
  StreamStatistics stats = device_->StreamStats();
  EXPECT_EQ(stats.failedTransfers, 3u);
  EXPECT_EQ(stats.resets, 3u);
  EXPECT_EQ(stats.framesRead, 1u);
  EXPECT_EQ(Take().sequence, 1u);

  camera_->ShortPayloads(1);
  ASSERT_EQ(device_->StartTransfer(1), 1);
  ASSERT_TRUE(WaitForStats([](const StreamStatistics& s) { return s.framesRead >= 1; }));
  device_->StopTransfer(1);
  stats = device_->StreamStats();
  EXPECT_EQ(stats.failedTransfers, 1u);
  EXPECT_EQ(stats.framesRead, 1u);
  EXPECT_EQ(Take().skipped, 0u);

  camera_->FailPayloads(5);  // the stream gives up: no restart after the last
  ASSERT_EQ(device_->StartTransfer(0), 1);
  ASSERT_TRUE(WaitForStats([](const StreamStatistics& s) { return s.failedTransfers >= 5; }));
  device_->StopTransfer(1);
  stats = device_->StreamStats();
  EXPECT_EQ(stats.failedTransfers, 5u);
  EXPECT_EQ(stats.resets, 4u);
  EXPECT_EQ(stats.framesRead, 0u);
  EXPECT_EQ(stats.framesDelivered, 0u);
}

// The frame lands at the caller's stride with the padding untouched; a stride or buffer too small, or
// no buffer, takes nothing and leaves the frame new.
TEST_F(FrameMetadataTest, TakesAtTheCallersStrideOrNothing) {
  ASSERT_EQ(device_->StartTransfer(1), 1);
  ASSERT_EQ(device_->WaitFrame(10000), kNew);
  device_->StopTransfer(0);
  constexpr int kStride = kWidth + 8;
  std::vector<uint8_t> padded(static_cast<size_t>(kStride) * kHeight, 0xEE);
  FrameMetadata metadata;
  EXPECT_FALSE(device_->TakeNewestFrame(padded.data(), kWidth - 1, padded.size(), 1, &metadata));
  EXPECT_FALSE(device_->TakeNewestFrame(padded.data(), kStride, kWidth * kHeight - 1, 1, &metadata));
  EXPECT_FALSE(device_->TakeNewestFrame(nullptr, kStride, padded.size(), 1, &metadata));
  EXPECT_EQ(padded, std::vector<uint8_t>(padded.size(), 0xEE));
  EXPECT_EQ(device_->StreamStats().framesDelivered, 0u);
  ASSERT_TRUE(device_->TakeNewestFrame(padded.data(), kStride, padded.size(), 1, &metadata));
  const std::vector<uint8_t> expected = Pattern(metadata.cameraCounter);
  for (int row = 0; row < kHeight; ++row) {
    const auto* line = padded.data() + static_cast<size_t>(row) * kStride;
    EXPECT_TRUE(std::equal(line, line + kWidth, expected.begin() + static_cast<ptrdiff_t>(row) * kWidth)) << row;
    EXPECT_EQ(std::vector<uint8_t>(line + kWidth, line + kStride), std::vector<uint8_t>(kStride - kWidth, 0xEE));
  }
  EXPECT_EQ(device_->StreamStats().framesDelivered, 1u);
}

}  // namespace
