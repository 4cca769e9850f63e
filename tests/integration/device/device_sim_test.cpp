// The device object against the virtual camera, through the real controller (COrvCy3Cam) and the
// driver seam: open, bring-up, streaming in every capture mode, faults, unplug, frame content.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/orvane_device.h"
#include "platform/time.h"
#include "sim/virtual_bus.h"

namespace {

using orvane::sim::Pacing;
using orvane::sim::VirtualBus;
using orvane::sim::VirtualCamera;

constexpr int kNew = COrvaneR3O5Base::kWaitNewFrame;
constexpr int kFailed = COrvaneR3O5Base::kWaitFailed;
constexpr int kNothing = COrvaneR3O5Base::kWaitNoFrame;

class DeviceSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orvane::sim::BusOptions options;
    options.pacing = Pacing::kFast;
    bus = std::make_unique<VirtualBus>(1, options);
    device = std::make_unique<COrvaneUSB3R5SimpleSdk>();
    // A private shared section per test, so parallel test processes keep their own tables.
    const std::string section = "OrvaneDeviceSimTest-" + std::to_string(std::random_device{}());
    device->SetControllerFactory([this, section](const InterfaceClassGuid& guid) {
      orvane::usb::ControllerOptions controllerOptions;
      controllerOptions.guid = guid;
      controllerOptions.driver = bus.get();
      controllerOptions.sectionName = section;
      return CreateCameraController(controllerOptions);
    });
    // Waits of the open sequence and the stop settle are shortened; the clock stays real.
    device->SetTiming([](uint32_t ms) { orvane::platform::SleepMs(std::min<uint32_t>(ms, 20)); }, nullptr);
    ASSERT_EQ(device->SetCameraType(COrvaneR3O5Base::kCameraTypeImx226), 1);
    ASSERT_EQ(device->CreateController(nullptr, nullptr), 1);
  }

  void TearDown() override {
    device.reset();
    bus.reset();
  }

  VirtualCamera& Camera() { return bus->Camera(0); }

  // The frame the camera renders for its current registers (the scene is static and noise-free).
  std::vector<uint8_t> Rendered() {
    auto frame = orvane::sim::RenderFrame(Camera().CurrentFormat().render);
    return *frame;
  }

  int WaitForFrame() {
    int result = kNothing;
    for (int i = 0; i < 20 && result == kNothing; ++i) result = device->WaitFrame(5000);
    return result;
  }

  // Mean sample of one 8-bit frame of the current settings.
  double MeanOfFrame() {
    EXPECT_EQ(device->StartTransfer(1), 1);
    EXPECT_EQ(WaitForFrame(), kNew);
    std::vector<uint8_t> frame(static_cast<size_t>(device->FrameSize()));
    EXPECT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
    device->StopTransfer(0);
    return std::accumulate(frame.begin(), frame.end(), 0.0) / static_cast<double>(frame.size());
  }

  std::unique_ptr<VirtualBus> bus;
  std::unique_ptr<COrvaneUSB3R5SimpleSdk> device;
};

TEST_F(DeviceSimTest, OpensCameraZeroAndReadsItsSerialNumber) {
  EXPECT_EQ(device->CountDevices(12784), 1);
  ASSERT_EQ(device->Open(0), 1);
  EXPECT_EQ(device->Open(1), 0);
  char serial[33] = {};
  ASSERT_EQ(device->ReadSerialNumber(serial, sizeof(serial)), 1);
  EXPECT_STREQ(serial, "SIM00001");
  uint8_t info[64];
  ASSERT_EQ(device->GetControllerInfo(info), 1);
  EXPECT_EQ(info[24] | info[25] << 8, 0x1205);
  // The bring-up left the sensor at its defaults: 3075 lines (one whole period), no gain.
  EXPECT_EQ(Camera().SensorRegister(0x0009), 0);
  EXPECT_EQ(Camera().SensorRegister(0x000D), 1);
}

struct StreamCase {
  const char* name;
  int x, y, width, height, mode;
  int bitDepth;
  int bytesPerPixel;
};

class DeviceSimStreamTest : public DeviceSimTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(DeviceSimStreamTest, StreamsAHundredFramesAsRendered) {
  const StreamCase c = GetParam();
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(c.x, c.y, c.width, c.height, c.mode), 1);
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
  EXPECT_GT(device->TransferRate(), 0.0);
  // The frame counter register and the header counter agree.
  EXPECT_EQ(device->ReadFrameCounter(), 1);
  EXPECT_EQ(static_cast<uint32_t>(device->LastFrameCounter()), Camera().FrameCounter() & 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Modes, DeviceSimStreamTest,
                         ::testing::Values(StreamCase{"Full8", 0, 0, 4000, 3000, 0, 0, 1},
                                           StreamCase{"Full16", 0, 0, 4000, 3000, 0, 1, 2},
                                           StreamCase{"SubSampled17", 0, 0, 2048, 1080, 17, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceSimTest, SingleFrameStopBeforePayloadAndCaptureModes) {
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(800, 600, 640, 480, 0), 1);
  ASSERT_EQ(device->SetBitDepth(1), 1);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  std::vector<uint8_t> frame(640 * 480 * 2);
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  const std::vector<uint8_t> rendered = Rendered();
  EXPECT_EQ(frame, rendered);
  EXPECT_EQ(device->WaitFrame(100), kNothing);
  device->StopTransfer(0);
  EXPECT_EQ(Camera().counters().framesCompleted, 1u);
  // Row order 0 delivers the bottom row first.
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 0), 0);
  const size_t row = 640 * 2;
  for (size_t r = 0; r < 480; ++r) {
    ASSERT_EQ(std::memcmp(frame.data() + r * row, rendered.data() + (479 - r) * row, row), 0) << "row " << r;
  }

  const auto before = Camera().counters();
  ASSERT_EQ(device->StartTransfer(3), 1);
  EXPECT_EQ(device->WaitFrame(200), kNothing);
  device->StopTransfer(1);
  const auto after = Camera().counters();
  EXPECT_EQ(after.headersSent, before.headersSent + 1);
  EXPECT_EQ(after.framesCompleted, before.framesCompleted);
  EXPECT_EQ(static_cast<uint32_t>(device->LastFrameCounter()), Camera().FrameCounter() & 0xFF);

  // The stream reset of the stop lets the next start begin with a header again.
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, rendered);
  device->StopTransfer(0);
  // A capture outside the streaming thread fills slot 0.
  std::fill(frame.begin(), frame.end(), 0);
  EXPECT_EQ(device->CaptureOneFrame(), 0);
  EXPECT_FALSE(device->IsTransferFailed());
  ASSERT_EQ(device->GetFirstSlotFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, rendered);
}

TEST_F(DeviceSimTest, FailedHeadersAreRecovered) {
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(0, 0, 256, 64, 0), 1);
  // 20 failures: the controller's own 15 attempts fail once, the engine re-arms and tries again.
  Camera().FailHeaders(20);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  EXPECT_FALSE(device->IsTransferFailed());
  std::vector<uint8_t> frame(256 * 64);
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, Rendered());
  device->StopTransfer(0);
}

TEST_F(DeviceSimTest, UnplugMidStreamEndsTheThreadAndStopReturns) {
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(0, 0, 4000, 3000, 0), 1);
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

TEST_F(DeviceSimTest, StopAbortsAPayloadThatNeverComes) {
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(0, 0, 256, 64, 0), 1);
  Camera().DelayPayloads(1000, orvane::sim::kNever);
  ASSERT_EQ(device->StartTransfer(0), 1);
  for (int i = 0; i < 10000 && Camera().PendingBulkRequests() == 0; ++i) orvane::platform::SleepMs(2);
  ASSERT_GT(Camera().PendingBulkRequests(), 0u);
  ASSERT_EQ(device->StopTransfer(1), 1);
  EXPECT_FALSE(device->IsStreaming());
  EXPECT_GE(Camera().counters().requestsCancelled, 1u);
}

TEST_F(DeviceSimTest, TransferTimeoutFollowsTheExposure) {
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(0, 0, 256, 64, 0), 1);
  // A payload 5.5 s late: beyond the 5000 ms timeout of short exposures, within the 10000 ms of 50001.
  ASSERT_EQ(device->SetExposureTime(50000), 1);
  Camera().DelayPayloads(1, 5500);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  EXPECT_GE(Camera().counters().requestsCancelled, 1u);
  device->StopTransfer(0);

  ASSERT_EQ(device->SetExposureTime(50001), 1);
  EXPECT_EQ(device->TransferTimeout(), 10000);
  const uint64_t cancelled = Camera().counters().requestsCancelled;
  Camera().DelayPayloads(1, 5500);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  EXPECT_EQ(Camera().counters().requestsCancelled, cancelled);
  device->StopTransfer(0);
}

TEST_F(DeviceSimTest, ExposureAndGainBrightenTheFrame) {
  ASSERT_EQ(device->Open(0), 1);
  ASSERT_EQ(device->SetWindow(1000, 1000, 512, 256, 0), 1);
  double previous = 0.0;
  for (int exposure : {20, 80, 160, 281}) {
    ASSERT_EQ(device->SetExposureTime(exposure), 1);
    const double mean = MeanOfFrame();
    EXPECT_GT(mean, previous) << "exposure " << exposure;
    previous = mean;
  }
  ASSERT_EQ(device->SetExposureTime(80), 1);
  previous = 0.0;
  for (int gain : {0, 400, 800, 1200}) {
    ASSERT_EQ(device->SetGlobalGain(gain), 1);
    const double mean = MeanOfFrame();
    EXPECT_GT(mean, previous) << "gain " << gain;
    previous = mean;
  }
}

TEST_F(DeviceSimTest, StartStopCyclesWithAConcurrentConsumer) {
  ASSERT_EQ(device->Open(0), 1);
  device->SetTiming([](uint32_t) { orvane::platform::SleepMs(1); }, nullptr);
  ASSERT_EQ(device->SetWindow(0, 0, 256, 64, 0), 1);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  device->StopTransfer(0);
  const std::vector<uint8_t> expected = Rendered();
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread consumer([&] {
    std::vector<uint8_t> frame(expected.size());
    while (!done) {
      if (device->WaitFrame(20) != kNew) continue;
      if (device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1) == 0 && frame != expected) ++torn;
    }
  });
  for (int cycle = 0; cycle < 200; ++cycle) {
    const int mode = cycle % 4 == 3 ? 1 : 0;
    ASSERT_EQ(device->StartTransfer(mode), 1);
    // Only a continuous stream is sure to bring a frame for this thread too (the consumer may take the
    // single frame's signal).
    if (mode == 0 && cycle % 3 == 0) device->WaitFrame(2000);
    device->StopTransfer(cycle % 2);
  }
  done = true;
  consumer.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
