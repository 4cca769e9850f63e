// The device object against the virtual camera through the real controller and the driver seam.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../sim_device.h"
#include "device/orvane_device.h"
#include "platform/time.h"
#include "sim/virtual_bus.h"

namespace {

constexpr int kNew = COrvaneR3O5Base::kWaitNewFrame;
constexpr int kFailed = COrvaneR3O5Base::kWaitFailed;
constexpr int kNothing = COrvaneR3O5Base::kWaitNoFrame;

class DeviceSimTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(OpenSimDevice("OrvaneDeviceSimTest-", &bus, &device)); }

  void TearDown() override {
    device.reset();
    bus.reset();
  }

  orvane::sim::VirtualCamera& Camera() { return bus->Camera(0); }
  std::vector<uint8_t> Rendered() { return *orvane::sim::RenderFrame(Camera().CurrentFormat().render); }

  int WaitForFrame() {
    int result = kNothing;
    for (int i = 0; i < 20 && result == kNothing; ++i) result = device->WaitFrame(5000);
    return result;
  }

  std::unique_ptr<orvane::sim::VirtualBus> bus;
  std::unique_ptr<COrvaneUSB3R5SimpleSdk> device;
};

struct StreamCase {
  const char* name;
  int width, height, mode, bitDepth, bytesPerPixel;
};

class DeviceSimStreamTest : public DeviceSimTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(DeviceSimStreamTest, StreamsAHundredFramesAsRendered) {
  const StreamCase c = GetParam();
  ASSERT_EQ(device->SetWindow(0, 0, c.width, c.height, c.mode), 1);
  ASSERT_EQ(device->SetBitDepth(c.bitDepth), 1);
  ASSERT_EQ(device->StartTransfer(0), 1);
  const int32_t frameSize = device->FrameSize();
  ASSERT_EQ(frameSize, c.width * c.height * c.bytesPerPixel);
  const std::vector<uint8_t> expected = Rendered();
  ASSERT_EQ(expected.size(), static_cast<size_t>(frameSize));
  std::vector<uint8_t> frame(static_cast<size_t>(frameSize));
  int checked = 0;
  const uint64_t start = Camera().counters().framesCompleted;
  while (Camera().counters().framesCompleted - start < 100) {
    const int result = device->WaitFrame(5000);
    ASSERT_NE(result, kFailed);
    if (result != kNew) continue;
    ASSERT_EQ(device->GetFrame(frame.data(), frameSize, 1), 0);
    ASSERT_EQ(std::memcmp(frame.data(), expected.data(), expected.size()), 0) << "frame " << checked;
    ++checked;
  }
  ASSERT_EQ(device->StopTransfer(1), 1);
  EXPECT_GE(checked, 1);
  EXPECT_FALSE(device->IsTransferFailed());
  EXPECT_EQ(static_cast<uint32_t>(device->LastFrameCounter()), Camera().FrameCounter() & 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Modes, DeviceSimStreamTest,
                         ::testing::Values(StreamCase{"Full8", 4000, 3000, 0, 0, 1},
                                           StreamCase{"Full16", 4000, 3000, 0, 1, 2},
                                           StreamCase{"SubSampled17", 2048, 1080, 17, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
uint64_t ProcessCpuTimeNs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// The camera's own work (rendering, payload copies) is counted as CPU time of the threads that call
// into it: some for a few frames at the sensor's rate, never more than the whole process used, so the
// waits for each frame are not counted. (Windows counts thread times in scheduler ticks: Linux only.)
TEST_F(DeviceSimTest, TheCameraCountsItsWorkNotItsWaits) {
  Camera().SetPacing(orvane::sim::Pacing::kSensorTiming);
  ASSERT_EQ(device->SetWindow(0, 0, 4000, 3000, 0), 1);
  ASSERT_EQ(device->SetBitDepth(0), 1);
  std::vector<uint8_t> frame(static_cast<size_t>(4000) * 3000);
  ASSERT_EQ(device->StartTransfer(0), 1);
  const uint64_t cameraBefore = Camera().counters().cpuNs;
  const uint64_t processBefore = ProcessCpuTimeNs();
  for (int taken = 0; taken < 8;) {
    const int result = device->WaitFrame(5000);
    ASSERT_NE(result, kFailed);
    if (result == kNew && device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1) == 0) ++taken;
  }
  const uint64_t camera = Camera().counters().cpuNs - cameraBefore;
  const uint64_t process = ProcessCpuTimeNs() - processBefore;
  device->StopTransfer(1);
  EXPECT_GT(camera, 0u);
  EXPECT_LE(camera, process);
}
#endif

// 20 failed headers: the controller's own 15 attempts fail once, the engine re-arms and tries again.
// Stop-before-payload reads one header; the stop's stream reset lets the next start begin with a header.
TEST_F(DeviceSimTest, SingleFrameModesAndHeaderRecovery) {
  ASSERT_EQ(device->SetWindow(800, 600, 640, 480, 0), 1);
  ASSERT_EQ(device->SetBitDepth(1), 1);
  const std::vector<uint8_t> rendered = Rendered();
  std::vector<uint8_t> frame(rendered.size());
  const auto before = Camera().counters();
  ASSERT_EQ(device->StartTransfer(3), 1);
  EXPECT_EQ(device->WaitFrame(200), kNothing);
  device->StopTransfer(1);
  EXPECT_EQ(Camera().counters().headersSent, before.headersSent + 1);
  EXPECT_EQ(Camera().counters().framesCompleted, before.framesCompleted);
  Camera().FailHeaders(20);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, rendered);
  EXPECT_EQ(device->WaitFrame(100), kNothing);
  device->StopTransfer(0);
  EXPECT_FALSE(device->IsTransferFailed());
  std::fill(frame.begin(), frame.end(), 0);
  EXPECT_EQ(device->CaptureOneFrame(), 0);
  EXPECT_FALSE(device->IsTransferFailed());
  ASSERT_EQ(device->GetFirstSlotFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, rendered);
}

TEST_F(DeviceSimTest, UnplugMidStreamEndsTheThreadAndStopReturns) {
  ASSERT_EQ(device->StartTransfer(0), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  Camera().Unplug();
  int result = kNothing;
  for (int i = 0; i < 30 && result != kFailed; ++i) result = device->WaitFrame(1000);
  EXPECT_EQ(result, kFailed);
  EXPECT_EQ(device->StopTransfer(1), 1);
  EXPECT_FALSE(device->IsStreaming());
  EXPECT_EQ(device->Close(), 1);
}

// The camera's own frame counter confirms the metadata of every frame taken: each frame read counts one
// in the sequence and in the counter, so the gap between two frames taken is the skipped count plus one.
// The consumer takes a frame only after at least two more were read.
TEST_F(DeviceSimTest, SequenceAndSkippedCountsAgreeWithTheCamerasCounter) {
  ASSERT_EQ(device->SetWindow(0, 0, 640, 480, 0), 1);
  ASSERT_EQ(device->StartTransfer(0), 1);
  std::vector<uint8_t> frame(static_cast<size_t>(device->FrameSize()));
  orvane::device::FrameMetadata previous;
  for (int i = 0; i < 6; ++i) {
    const uint64_t after = previous.sequence + 3;
    for (int waits = 0; waits < 300 && device->StreamStats().framesRead < after; ++waits) {
      ASSERT_NE(device->WaitFrame(1000), kFailed);
    }
    orvane::device::FrameMetadata next;
    ASSERT_TRUE(device->TakeNewestFrame(frame.data(), 640, frame.size(), 1, &next));
    ASSERT_GE(next.sequence, after);
    EXPECT_EQ(next.skipped, next.sequence - previous.sequence - 1);
    if (i > 0) {
      EXPECT_EQ((next.cameraCounter - previous.cameraCounter) & 0xFF, static_cast<int64_t>(next.skipped + 1) & 0xFF);
      EXPECT_GT(next.hostTimeNs, previous.hostTimeNs);
    }
    previous = next;
  }
  ASSERT_EQ(device->StopTransfer(1), 1);
  const orvane::device::StreamStatistics stats = device->StreamStats();
  EXPECT_EQ(stats.framesDelivered, 6u);
  EXPECT_GE(stats.framesRead, previous.sequence);
  EXPECT_EQ(stats.failedTransfers, 0u);
}

// The transfer timeout is 5000 ms up to exposure 50000 and 10000 ms above. A payload 8 s late outlasts
// the short one; one 6.5 s late is beyond the short timeout and within the long one. Both keep seconds
// of margin, since on a loaded machine the waiting thread may wake well after its timeout.
TEST_F(DeviceSimTest, TransferTimeoutFollowsTheExposure) {
  ASSERT_EQ(device->SetWindow(0, 0, 256, 64, 0), 1);
  uint64_t cancelled = Camera().counters().requestsCancelled;
  for (const int exposure : {50000, 50001}) {
    SCOPED_TRACE(exposure);
    ASSERT_EQ(device->SetExposureTime(exposure), 1);
    Camera().DelayPayloads(1, exposure == 50000 ? 8000 : 6500);
    ASSERT_EQ(device->StartTransfer(1), 1);
    ASSERT_EQ(WaitForFrame(), kNew);
    device->StopTransfer(0);
    const uint64_t now = Camera().counters().requestsCancelled;
    if (exposure == 50000) {
      EXPECT_GE(now, cancelled + 1);
    } else {
      EXPECT_EQ(now, cancelled);
    }
    cancelled = now;
  }
}

// A snapshot's payload arriving after its wait ran out (a loaded machine) is still a frame being
// delivered: the device says so until the frame is stored, and the frame then comes.
TEST_F(DeviceSimTest, AFrameWhosePayloadOutlastsTheWaitIsReportedInTransfer) {
  ASSERT_EQ(device->SetWindow(0, 0, 256, 64, 0), 1);
  EXPECT_FALSE(device->IsFrameInTransfer());
  Camera().DelayPayloads(1, 1500);
  ASSERT_EQ(device->StartTransfer(1), 1);
  // Short waits run out while the payload is held back; each is followed by another only while the
  // frame is in transfer, as a snapshot does, and they end with the frame.
  int result = kNothing;
  int waits = 0;
  do {
    result = device->WaitFrame(100);
    ++waits;
  } while (result == kNothing && (device->IsFrameInTransfer() || waits < 100));
  EXPECT_EQ(result, kNew);
  EXPECT_FALSE(device->IsFrameInTransfer());
  device->StopTransfer(0);
}

}  // namespace
