#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "device/orvane_device.h"
#include "tests/unit/device/fake_camera.h"

namespace {

using FW = FakeRegisterBus::FpgaWrite;
using ::testing::ElementsAre;

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { Create(); }

  void Create(int cameras = 1, uint16_t version = 0x1200, uint8_t gpio25Wired = 0) {
    device = std::make_unique<COrvaneUSB3R5SimpleSdk>();
    device->SetControllerFactory([this, cameras, version, gpio25Wired](const InterfaceClassGuid&) {
      auto fake = std::make_unique<FakeCamera>(cameras, version, gpio25Wired);
      camera = fake.get();
      return fake;
    });
    // Sleeps cost nothing and advance a virtual clock.
    device->SetTiming([this](uint32_t ms) { clockMs += ms; }, [this] { return clockMs.load(); });
    ASSERT_EQ(device->SetCameraType(COrvaneR3O5Base::kCameraTypeImx226), 1);
    ASSERT_EQ(device->CreateController(nullptr, nullptr), 1);
  }

  // Opens camera 0 with a small window (64 x 16 at full resolution unless told otherwise).
  void OpenSmall(int width = 64, int height = 16, int mode = 0) {
    ASSERT_EQ(device->Open(0), 1);
    ASSERT_EQ(device->SetWindow(0, 0, width, height, mode), 1);
  }

  // Waits for a new frame; a frame signalled before the last hand-out may leave one wait with nothing new.
  int WaitForFrame() {
    int result = COrvaneR3O5Base::kWaitNoFrame;
    for (int i = 0; i < 20 && result == COrvaneR3O5Base::kWaitNoFrame; ++i) result = device->WaitFrame(5000);
    return result;
  }

  std::vector<uint8_t> Expected(uint32_t frame, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = FakeCamera::PatternByte(frame, i);
    return bytes;
  }

  std::unique_ptr<COrvaneUSB3R5SimpleSdk> device;
  FakeCamera* camera = nullptr;
  std::atomic<uint32_t> clockMs{0};
};

TEST_F(DeviceTest, CountsAndNamesDevicesOfTheType) {
  Create(3);
  EXPECT_EQ(device->CountDevices(0), 3);
  EXPECT_EQ(device->CountDevices(12784), 3);
  EXPECT_EQ(device->CountDevices(0x1234), 0);
  EXPECT_EQ(device->IsDevicePresent(2), 1);
  EXPECT_EQ(device->IsDevicePresent(3), 0);
  EXPECT_EQ(device->GetTableEntryType(1), 0x31F0);
  EXPECT_EQ(device->GetTableEntryId(1), 0x04B4);
  EXPECT_EQ(device->GetTableEntryNumber(2), 2);
  EXPECT_EQ(device->GetTableEntryNumber(5), -1);
  EXPECT_EQ(device->GetTableEntryNumber(32), -1);
  EXPECT_EQ(device->GetTableEntryNumber(-1), -1);
  char name[64] = "unchanged";
  EXPECT_EQ(device->GetDeviceName(0, name, sizeof(name)), 0);  // this camera's type has no name entry
  EXPECT_STREQ(name, "unchanged");
  EXPECT_EQ(device->GetMaxDevices(), 32);
  // Entries stay in the table when their cameras cannot be opened; only the typed count drops.
  camera->SetUnplugged(true);
  EXPECT_EQ(device->CountDevices(0), 3);
  EXPECT_EQ(device->CountDevices(12784), 0);
  EXPECT_EQ(device->IsDevicePresent(0), 0);
  EXPECT_EQ(device->Open(0), 0);
}

TEST_F(DeviceTest, WithoutControllerOrSensorOperationsFailSafely) {
  COrvaneUSB3R5SimpleSdk fresh;
  EXPECT_EQ(fresh.Close(), 1);
  EXPECT_EQ(fresh.FrameSize(), 0);
  EXPECT_EQ(fresh.WaitFrame(10), COrvaneR3O5Base::kWaitNoFrame);
  EXPECT_EQ(fresh.StartTransfer(0), 0);  // no controller: the capture mode cannot be set
  EXPECT_EQ(fresh.CaptureOneFrame(), 2);
  EXPECT_EQ(fresh.SetWindow(0, 0, 64, 16, 0), 0);
  EXPECT_EQ(fresh.SetExposureTime(100), 0);
  EXPECT_EQ(fresh.ReadSerialNumber(nullptr, 0), 0);
}

TEST_F(DeviceTest, OpenFailsForUnknownNumberAndKeepsTheOpenDevice) {
  ASSERT_EQ(device->Open(0), 1);
  CSensorBase* sensor = device->Sensor();
  ASSERT_NE(sensor, nullptr);
  EXPECT_EQ(device->Open(1), 0);
  EXPECT_EQ(device->Sensor(), sensor);
  EXPECT_EQ(device->GetDeviceNumber(), 0);
  EXPECT_EQ(device->Reopen(7), -1);
  EXPECT_EQ(device->Reopen(0), 0);
}

TEST_F(DeviceTest, OpenBringsUpTheSensorWithItsDefaults) {
  ASSERT_EQ(device->Open(0), 1);
  int32_t x = -1, y = -1, w = 0, h = 0, m = -1;
  ASSERT_EQ(device->GetWindow(&x, &y, &w, &h, &m), 1);
  EXPECT_EQ(w, 4000);
  EXPECT_EQ(h, 3000);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(camera->Bus().SensorRegister(0x0009), 0);  // gain 0
  // 3075 lines: one whole frame period (3079 lines) plus a shutter start of 3083.
  EXPECT_EQ(camera->Bus().SensorRegister(0x000D), 1);
  EXPECT_EQ(camera->Bus().SensorRegister(0x000B) | camera->Bus().SensorRegister(0x000C) << 8, 3083);
  EXPECT_TRUE(device->ReconfigureNeeded());
  uint8_t info[64];
  ASSERT_EQ(device->GetControllerInfo(info), 1);
  EXPECT_EQ(info[24] | info[25] << 8, 0x1200);
  ASSERT_EQ(device->GetControllerStatus(info), 1);
  EXPECT_EQ(info[0], 0x5A);
}

TEST_F(DeviceTest, WaitsForGpio25OnlyOnNewFirmwareWithTheLineWired) {
  struct Case {
    uint16_t version;
    uint8_t wired;
    bool waits;
  };
  for (const Case c : {Case{0x1101, 1, true}, Case{0x1100, 1, false}, Case{0x1200, 0, false}, Case{0x1200, 2, false}}) {
    SCOPED_TRACE(::testing::Message() << "firmware " << std::hex << c.version << " wired " << int(c.wired));
    Create(1, c.version, c.wired);
    camera->Bus().SetGpio25(0);
    // Without a rising GPIO 25 the open fails after 400 attempts, pulsing the FPGA every 25 s.
    EXPECT_EQ(device->Open(0), c.waits ? 0 : 1);
    EXPECT_EQ(camera->Bus().Count(BusOp::Kind::kGpio25), c.waits ? 400 : 0);
    int pulses = 0;
    for (const auto& w : camera->Bus().FpgaWrites()) pulses += w.reg == 0x82;
    // 400 x 500 ms = 200 s: a pulse (three writes) after every 50 attempts (more than 24999 ms).
    EXPECT_EQ(pulses, c.waits ? 8 * 3 : 0);
  }
}

TEST_F(DeviceTest, OpenContinuesOnceGpio25Rises) {
  Create(1, 0x1101, 1);
  int polls = 0;
  camera->Bus().SetGpio25(0);
  camera->Bus().SetFailWhen([&](const BusOp& op) {
    if (op.kind == BusOp::Kind::kGpio25 && ++polls == 3) camera->Bus().SetGpio25(1);
    return false;
  });
  EXPECT_EQ(device->Open(0), 1);
}

TEST_F(DeviceTest, ContinuousStreamingDeliversEveryFrameInOrder) {
  OpenSmall();
  ASSERT_EQ(device->StartTransfer(0), 1);
  ASSERT_EQ(device->FrameSize(), 64 * 16);
  std::vector<uint8_t> frame(device->FrameSize());
  int got = 0;
  int32_t lastCounter = -1;
  while (got < 20) {
    const int wait = device->WaitFrame(5000);
    ASSERT_NE(wait, COrvaneR3O5Base::kWaitFailed);
    if (wait != COrvaneR3O5Base::kWaitNewFrame) continue;
    int32_t counter = -1, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
    if (device->GetFrameInfo(frame.data(), static_cast<int32_t>(frame.size()), &counter, &s1, &s2, &s3, &s4, 1) != 0)
      continue;
    // The slot holds exactly the frame its counter names (the fake counts frames from 0 in the second
    // status word; the counter is its low byte).
    const uint32_t n = static_cast<uint32_t>(s2);
    ASSERT_GT(static_cast<int32_t>(n), lastCounter);
    EXPECT_EQ(counter, static_cast<int32_t>(n & 0xFF));
    EXPECT_EQ(s1, static_cast<int32_t>(0x1000 + n));
    EXPECT_EQ(s3, static_cast<int32_t>(0x4000 + n));
    EXPECT_EQ(s4, static_cast<int32_t>(0x8000 + n));
    ASSERT_EQ(frame, Expected(n, frame.size()));
    lastCounter = static_cast<int32_t>(n);
    ++got;
  }
  EXPECT_EQ(device->StopTransfer(0), 1);
  EXPECT_FALSE(device->IsStreaming());
  EXPECT_EQ(device->WaitFrame(1000), COrvaneR3O5Base::kWaitNoFrame);  // no frame event after a stop
  // Frames stay in the ring after the stop.
  EXPECT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
}

TEST_F(DeviceTest, TriggeredModeCountsItsFrame) {
  OpenSmall();
  ASSERT_EQ(device->StartTransfer(2), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  device->StopTransfer(1);  // joins the thread: the count is final
  EXPECT_EQ(device->TriggeredFrames(), 0);  // a stop clears it
  EXPECT_EQ(camera->FramesSent(), 1);
}

TEST_F(DeviceTest, StopBeforePayloadModeReadsOnlyTheHeader) {
  OpenSmall();
  ASSERT_EQ(device->StartTransfer(3), 1);
  EXPECT_EQ(device->WaitFrame(200), COrvaneR3O5Base::kWaitNoFrame);
  device->StopTransfer(1);
  EXPECT_EQ(camera->HeadersRead(), 1);
  EXPECT_EQ(camera->FramesSent(), 0);
  EXPECT_EQ(device->LastFrameCounter(), 0);
  EXPECT_EQ(device->RingWriteIndex(), 0);
}

TEST_F(DeviceTest, RingCyclesAndGetFrameReturnsTheNewest) {
  OpenSmall();
  std::vector<uint8_t> frame(64 * 16);
  // Nobody takes frames, so the write index comes round to the read mark (3) after three: new frames
  // are counted, not inferred from the indices, and still count as new there.
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(device->StartTransfer(1), 1);
    ASSERT_EQ(device->WaitFrame(10000), COrvaneR3O5Base::kWaitNewFrame) << "frame " << i;
    device->StopTransfer(1);
    ASSERT_EQ(camera->FramesSent(), i + 1);
    EXPECT_EQ(device->RingWriteIndex(), (i + 1) % 4);
  }
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, Expected(5, frame.size()));
  // GetFirstSlotFrame copies slot 0 (frame 4) and leaves the read mark alone.
  ASSERT_EQ(device->GetFirstSlotFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, Expected(4, frame.size()));
  EXPECT_EQ(device->GetFirstSlotFrame(nullptr, 0, 1), -2);
  // A short buffer copies nothing.
  std::vector<uint8_t> small(frame.size() - 1, 0xEE);
  EXPECT_NE(device->GetFrame(small.data(), static_cast<int32_t>(small.size()), 1), 0);
  EXPECT_EQ(device->CopyFrame(small.data(), static_cast<int32_t>(small.size()), nullptr, nullptr, nullptr, nullptr,
                              nullptr, 0, 1),
            0);
  EXPECT_EQ(small, std::vector<uint8_t>(frame.size() - 1, 0xEE));
  device->StopTransfer(0);
}

TEST_F(DeviceTest, FailedHeadersAreRetriedWithReadoutRearm) {
  OpenSmall();
  camera->FailHeaders(4);
  camera->Bus().ClearOps();
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  device->StopTransfer(1);
  int rearms = 0;
  for (const auto& w : camera->Bus().FpgaWrites()) rearms += w.reg == 0x6C && w.value == 1;
  EXPECT_EQ(rearms, 4);
  EXPECT_FALSE(device->IsTransferFailed());
}

TEST_F(DeviceTest, FiveFailedAttemptsEndTheThreadUntilTheNextStart) {
  struct Case {
    const char* what;
    int headers, payloads, shorts;
  };
  for (const Case& c : {Case{"headers", 5, 0, 0}, Case{"payloads", 0, 5, 0}, Case{"short payloads", 0, 0, 5},
                        Case{"mixed", 2, 3, 0}}) {
    SCOPED_TRACE(c.what);
    Create();
    OpenSmall();
    camera->FailHeaders(c.headers);
    camera->FailPayloads(c.payloads);
    camera->ShortPayloads(c.shorts);
    ASSERT_EQ(device->StartTransfer(0), 1);
    ASSERT_EQ(device->WaitFrame(10000), COrvaneR3O5Base::kWaitFailed);
    EXPECT_EQ(device->WaitFrame(10000), COrvaneR3O5Base::kWaitFailed);  // at once, until a transfer succeeds
    EXPECT_EQ(camera->FramesSent() - c.shorts, 0);
    EXPECT_FALSE(camera->ChannelOpen());
    device->StopTransfer(1);
    ASSERT_EQ(device->StartTransfer(1), 1);
    EXPECT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
    device->StopTransfer(0);
  }
}

TEST_F(DeviceTest, ShortPayloadIsNotAFrame) {
  OpenSmall();
  camera->ShortPayloads(1);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  std::vector<uint8_t> frame(device->FrameSize());
  int32_t counter = -1;
  ASSERT_EQ(device->GetFrameInfo(frame.data(), static_cast<int32_t>(frame.size()), &counter, nullptr, nullptr, nullptr,
                                 nullptr, 1),
            0);
  EXPECT_EQ(counter, 1);  // frame 0 came short and was dropped
  EXPECT_EQ(frame, Expected(1, frame.size()));
  device->StopTransfer(0);
}

TEST_F(DeviceTest, UnplugEndsTheThreadAndStopReturns) {
  OpenSmall();
  ASSERT_EQ(device->StartTransfer(0), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  camera->SetUnplugged(true);
  int result = 0;
  for (int i = 0; i < 100 && result != COrvaneR3O5Base::kWaitFailed; ++i) result = device->WaitFrame(1000);
  EXPECT_EQ(result, COrvaneR3O5Base::kWaitFailed);
  EXPECT_EQ(device->StopTransfer(1), 1);
  EXPECT_FALSE(device->IsStreaming());
}

TEST_F(DeviceTest, StopAbortsAPendingPayloadAndNeverLeavesTheThreadBehind) {
  OpenSmall();
  for (const int wait : {1, 0}) {  // without waiting the abort comes after a 3 s grace
    SCOPED_TRACE(wait);
    camera->BlockPayloads(true);
    ASSERT_EQ(device->StartTransfer(0), 1);
    ASSERT_TRUE(camera->WaitForPayloadBlocked());
    EXPECT_EQ(device->StopTransfer(wait), 1);
    EXPECT_FALSE(device->IsStreaming());
  }
  EXPECT_GE(camera->Bus().Aborts(), 2);
}

TEST_F(DeviceTest, StopResetsThePipeOnNewFirmwareAndAlwaysTheStream) {
  OpenSmall();
  device->StopTransfer(0);
  EXPECT_EQ(camera->PipeResets(), 1);
  EXPECT_EQ(camera->StreamResets(), 1);
  Create(1, 0x10FF, 0);
  OpenSmall();
  device->StopTransfer(0);
  EXPECT_EQ(camera->PipeResets(), 0);
  EXPECT_EQ(camera->StreamResets(), 1);
}

TEST_F(DeviceTest, CaptureOneFrameFillsSlotZero) {
  OpenSmall();
  EXPECT_EQ(device->CaptureOneFrame(), 0);
  EXPECT_FALSE(device->IsTransferFailed());
  std::vector<uint8_t> frame(device->FrameSize());
  int32_t counter = -1;
  ASSERT_EQ(device->CopyFrame(frame.data(), static_cast<int32_t>(frame.size()), &counter, nullptr, nullptr, nullptr,
                              nullptr, 1, 1),
            1);
  EXPECT_EQ(frame, Expected(0, frame.size()));
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(camera->PayloadTimeout(), 3000);
  camera->SetUnplugged(true);
  EXPECT_EQ(device->CaptureOneFrame(), 0);
  EXPECT_TRUE(device->IsTransferFailed());
}

TEST_F(DeviceTest, ExposureSetsTheTransferTimeout) {
  OpenSmall();
  const std::vector<std::pair<int, int>> cases = {{281, 5000}, {50000, 5000}, {50001, 10000}, {100000, 20000}};
  for (const auto& [exposure, timeout] : cases) {
    device->SetExposureTime(exposure);
    EXPECT_EQ(device->TransferTimeout(), timeout) << exposure;
  }
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  EXPECT_EQ(camera->PayloadTimeout(), 20000);
  device->StopTransfer(0);
}

TEST_F(DeviceTest, WindowChangesTakeEffectAtTheNextStart) {
  OpenSmall();
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  EXPECT_FALSE(device->ReconfigureNeeded());
  EXPECT_EQ(device->SetWindow(0, 0, 64, 16, 0), 1);  // same window: nothing to do
  EXPECT_FALSE(device->ReconfigureNeeded());
  EXPECT_EQ(device->SetWindow(4, 0, 64, 16, 0), 0);  // misaligned: refused, state kept
  EXPECT_FALSE(device->ReconfigureNeeded());
  ASSERT_EQ(device->SetWindow(8, 4, 128, 32, 0), 1);
  EXPECT_TRUE(device->ReconfigureNeeded());
  EXPECT_EQ(device->FrameSize(), 64 * 16);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), COrvaneR3O5Base::kWaitNewFrame);
  EXPECT_EQ(device->FrameSize(), 128 * 32);
  device->StopTransfer(0);
}

TEST_F(DeviceTest, ConfigureBuffersWritesTheFpgaGeometry) {
  struct Case {
    int x, y, width, height, mode, mirror;
    int vStart, hStart;
  };
  ASSERT_EQ(device->Open(0), 1);
  for (const Case& c : {Case{0, 0, 4000, 3000, 0, 0, 40, 64}, Case{0, 0, 4000, 3000, 0, 1, 41, 64},
                        Case{0, 0, 2048, 1080, 17, 0, 14, 32}, Case{16, 8, 2048, 1080, 1, 1, 22, 48},
                        Case{400, 300, 800, 600, 0, 0, 340, 464}}) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height << " mode "
                                      << c.mode << " mirror " << c.mirror);
    ASSERT_EQ(device->SetMirrorV(c.mirror), 1);
    ASSERT_EQ(device->SetWindow(c.x, c.y, c.width, c.height, c.mode), 1);
    int32_t x, y, w, h, m;
    ASSERT_EQ(device->GetWindow(&x, &y, &w, &h, &m), 1);
    camera->Bus().ClearOps();
    ASSERT_EQ(device->ConfigureBuffers(), 1);
    EXPECT_THAT(camera->Bus().FpgaWrites(),
                ElementsAre(FW{0x44, uint8_t(w)}, FW{0x45, uint8_t(w >> 8)}, FW{0x40, uint8_t(h)},
                            FW{0x41, uint8_t(h >> 8)}, FW{0x48, uint8_t(c.vStart)}, FW{0x49, uint8_t(c.vStart >> 8)},
                            FW{0x4C, uint8_t(c.hStart)}, FW{0x4D, uint8_t(c.hStart >> 8)}));
    EXPECT_EQ(device->FrameSize(), w * h);
  }
}

TEST_F(DeviceTest, BitDepthSetsPixelFormatAndFrameSize) {
  OpenSmall();
  const std::vector<std::tuple<int, uint8_t, int>> cases = {{1, 2, 2}, {2, 1, 2}, {0, 1, 1}};
  for (const auto& [mode, reg, bytes] : cases) {
    ASSERT_EQ(device->SetBitDepth(mode), 1);
    EXPECT_EQ(camera->Bus().FpgaRegister(0x3C), reg) << mode;
    EXPECT_EQ(device->FrameSize(), 64 * 16 * bytes) << mode;
  }
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kFpgaWrite; });
  EXPECT_EQ(device->SetBitDepth(1), 0);
  EXPECT_EQ(device->BitDepthMode(), 0);
}

TEST_F(DeviceTest, TriggerModeStopsStreamingOnlyWhenItChanges) {
  OpenSmall();
  camera->Bus().SetFpgaRegister(8, 0x21);
  ASSERT_EQ(device->SetTriggerMode(1, 0), 1);
  EXPECT_EQ(device->LastFrameCounter(), 0x21);
  ASSERT_EQ(device->StartTransfer(0), 1);
  EXPECT_EQ(device->SetTriggerMode(1, 0), 1);
  EXPECT_TRUE(device->IsStreaming());
  // In trigger mode 1 a frame is transferred only after register 8 changes.
  EXPECT_EQ(device->WaitFrame(100), COrvaneR3O5Base::kWaitNoFrame);
  EXPECT_EQ(camera->HeadersRead(), 0);
  camera->Bus().SetFpgaRegister(8, 0x22);
  for (int tries = 0; tries < 100 && camera->FramesSent() == 0; ++tries) device->WaitFrame(100);
  EXPECT_GE(camera->FramesSent(), 1);
  ASSERT_EQ(device->SetTriggerMode(0, 0), 1);
  EXPECT_FALSE(device->IsStreaming());
  EXPECT_EQ(device->TriggerMode(), 0);
}

TEST_F(DeviceTest, CaptureModeOutsideTheFourModesIsRefused) {
  OpenSmall();
  EXPECT_EQ(device->StartTransfer(4), 0);
  EXPECT_EQ(device->StartTransfer(-1), 0);
  EXPECT_FALSE(device->IsStreaming());
}

TEST_F(DeviceTest, RegisterPassThroughCutsToEightBits) {
  ASSERT_EQ(device->Open(0), 1);
  camera->Bus().ClearOps();
  ASSERT_EQ(device->WriteFpgaRegister(0x107, 5), 1);
  EXPECT_THAT(camera->Bus().FpgaWrites(), ElementsAre(FW{7, 5}));
  int32_t ok = -1;
  EXPECT_EQ(device->ReadFpgaRegister(7, &ok), 5);
  EXPECT_EQ(ok, 1);
  ASSERT_EQ(device->WriteSensorRegister(0, 0x3000, 0x12), 1);
  EXPECT_EQ(device->ReadSensorRegister(0, 0x3000, &ok), 0x12);
  EXPECT_EQ(ok, 1);
  camera->Bus().SetFailWhen([](const BusOp&) { return true; });
  EXPECT_EQ(device->ReadFpgaRegister(7, &ok), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(device->ReadSensorRegister(0, 0x3000, &ok), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(device->WriteFpgaRegister(7, 1), 0);
}

TEST_F(DeviceTest, WaitFpgaIdleFollowsTheBusyBit) {
  ASSERT_EQ(device->Open(0), 1);
  camera->Bus().ClearOps();
  EXPECT_EQ(device->WaitFpgaIdle(0), 0);
  EXPECT_TRUE(camera->Bus().Ops().empty());
  camera->Bus().SetFpgaRegister(2, 0x02);
  EXPECT_EQ(device->WaitFpgaIdle(20), 0);
  camera->Bus().SetFpgaRegister(2, 0xFD);
  EXPECT_EQ(device->WaitFpgaIdle(20), 1);
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kFpgaRead; });
  EXPECT_EQ(device->WaitFpgaIdle(1000), 0);
}

TEST_F(DeviceTest, SerialNumberNeverOverrunsTheBuffer) {
  ASSERT_EQ(device->Open(0), 1);
  for (int i = 0; i < 32; ++i) camera->Bus().SetEeprom(static_cast<uint16_t>(0x1040 + i), static_cast<uint8_t>('A' + i % 26));
  char buffer[40];
  std::memset(buffer, '#', sizeof(buffer));
  ASSERT_EQ(device->ReadSerialNumber(buffer, 32), 1);
  EXPECT_EQ(std::strlen(buffer), 31u);
  EXPECT_EQ(buffer[32], '#');
  std::memset(buffer, '#', sizeof(buffer));
  ASSERT_EQ(device->ReadSerialNumber(buffer, 33), 1);
  EXPECT_EQ(std::string(buffer), "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF");
  EXPECT_EQ(camera->Bus().Count(BusOp::Kind::kEepromRead), 64);
}

TEST_F(DeviceTest, SerialNumberEndsAtTheFirstBlankOrFailedByte) {
  ASSERT_EQ(device->Open(0), 1);
  char buffer[33];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(device->ReadSerialNumber(buffer, 33), 1);  // blank EEPROM: empty result, buffer untouched
  EXPECT_EQ(buffer[0], '#');
  const char* serial = "SIM00001";
  for (int i = 0; serial[i]; ++i) camera->Bus().SetEeprom(static_cast<uint16_t>(0x1040 + i), static_cast<uint8_t>(serial[i]));
  ASSERT_EQ(device->ReadSerialNumber(buffer, 33), 1);
  EXPECT_STREQ(buffer, "SIM00001");
  camera->Bus().SetFailWhen([](const BusOp& op) {
    return op.kind == BusOp::Kind::kEepromRead && op.bytes[1] >= 0x44;
  });
  ASSERT_EQ(device->ReadSerialNumber(buffer, 33), 1);
  EXPECT_STREQ(buffer, "SIM0");
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kEepromRead; });
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(device->ReadSerialNumber(buffer, 33), 0);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(DeviceTest, IdentificationWriteReadsBackAndRewrites) {
  ASSERT_EQ(device->Open(0), 1);
  int32_t failures = -1;
  ASSERT_EQ(device->WriteIdentificationByte(0x1ABC, 0x42, &failures), 1);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(camera->Bus().Eeprom(0x0ABC), 0x42);
  uint8_t value = 0;
  ASSERT_EQ(device->ReadIdentificationByte(0xFABC, &value), 1);
  EXPECT_EQ(value, 0x42);
  // Every read-back fails: ten rewrites, still a success because the first write went through.
  camera->Bus().ClearOps();
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kEepromRead; });
  ASSERT_EQ(device->WriteIdentificationByte(0x10, 0x7, &failures), 1);
  EXPECT_EQ(failures, 10);
  EXPECT_EQ(camera->Bus().Count(BusOp::Kind::kEepromWrite), 11);
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kEepromWrite; });
  EXPECT_EQ(device->WriteIdentificationByte(0x10, 0x7, &failures), 0);
  EXPECT_EQ(device->WriteEepromAt4224(1), 0);
  EXPECT_EQ(device->WriteEeprom(0x10000, 1), 0);
}

// Start/stop cycles with a consumer copying frames the whole time: no torn frames, no races (this test
// is meant to run under ThreadSanitizer too).
TEST_F(DeviceTest, StartStopCyclesWithAConcurrentConsumer) {
  OpenSmall(256, 64);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> copied{0};
  std::thread consumer([&] {
    std::vector<uint8_t> frame(256 * 64);
    while (!done) {
      if (device->WaitFrame(20) != COrvaneR3O5Base::kWaitNewFrame) continue;
      int32_t s2 = 0;
      if (device->GetFrameInfo(frame.data(), static_cast<int32_t>(frame.size()), nullptr, nullptr, &s2, nullptr,
                               nullptr, 1) != 0)
        continue;
      const uint32_t n = static_cast<uint32_t>(s2);
      for (size_t i = 0; i < frame.size(); i += 97) {
        if (frame[i] != FakeCamera::PatternByte(n, i)) {
          ++torn;
          break;
        }
      }
      ++copied;
    }
  });
  for (int cycle = 0; cycle < 200; ++cycle) {
    const int mode = cycle % 5 == 4 ? 1 : 0;
    ASSERT_EQ(device->StartTransfer(mode), 1);
    // Only a continuous stream is sure to bring a frame for this thread too (the consumer may take the
    // single frame's signal).
    if (mode == 0 && cycle % 3 == 0) device->WaitFrame(1000);
    device->StopTransfer(cycle % 2);
  }
  done = true;
  consumer.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_FALSE(device->IsStreaming());
}

}  // namespace
