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
constexpr int kNew = COrvaneR3O5Base::kWaitNewFrame;
constexpr int kFailed = COrvaneR3O5Base::kWaitFailed;
constexpr int kNothing = COrvaneR3O5Base::kWaitNoFrame;

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

  void OpenSmall(int width = 64, int height = 16) {
    ASSERT_EQ(device->Open(0), 1);
    ASSERT_EQ(device->SetWindow(0, 0, width, height, 0), 1);
  }

  // A frame signalled before the last hand-out may leave one wait with nothing new.
  int WaitForFrame() {
    int result = kNothing;
    for (int i = 0; i < 20 && result == kNothing; ++i) result = device->WaitFrame(5000);
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

TEST_F(DeviceTest, RefusalsWithoutControllerUnknownDevicesAndBadModes) {
  COrvaneUSB3R5SimpleSdk fresh;
  EXPECT_EQ(fresh.WaitFrame(10), kNothing);
  EXPECT_EQ(fresh.StartTransfer(0), 0);
  EXPECT_EQ(fresh.CaptureOneFrame(), 2);
  EXPECT_EQ(fresh.SetWindow(0, 0, 64, 16, 0), 0);
  EXPECT_EQ(fresh.ReadSerialNumber(nullptr, 0), 0);
  Create(3);
  for (const int entry : {5, 32, -1}) EXPECT_EQ(device->GetTableEntryNumber(entry), -1) << entry;
  ASSERT_EQ(device->Open(0), 1);
  CSensorBase* sensor = device->Sensor();
  EXPECT_EQ(device->Open(3), 0);  // the open device is kept
  EXPECT_EQ(device->Sensor(), sensor);
  EXPECT_FALSE(device->Reopen(7));
  for (const int mode : {4, -1}) EXPECT_EQ(device->StartTransfer(mode), 0) << mode;
  EXPECT_FALSE(device->IsStreaming());
  // Entries of cameras that cannot be opened stay in the table; only the typed count drops.
  camera->SetUnplugged(true);
  EXPECT_EQ(device->CountDevices(0), 3);
  EXPECT_EQ(device->CountDevices(12784), 0);
  EXPECT_EQ(device->Open(1), 0);
}

// Without a rising GPIO 25 the open fails after 400 attempts of 500 ms, pulsing the FPGA (three writes of
// register 0x82) after every 50 attempts.
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
    EXPECT_EQ(device->Open(0), c.waits ? 0 : 1);
    EXPECT_EQ(camera->Bus().Count(BusOp::Kind::kGpio25), c.waits ? 400 : 0);
    int pulses = 0;
    for (const auto& w : camera->Bus().FpgaWrites()) pulses += w.reg == 0x82;
    EXPECT_EQ(pulses, c.waits ? 8 * 3 : 0);
  }
}

// Nobody takes frames, so the write index comes round to the read mark (3) after three: new frames are
// counted, not inferred from the indices, and still count as new there.
TEST_F(DeviceTest, RingCyclesAndGetFrameReturnsTheNewest) {
  OpenSmall();
  std::vector<uint8_t> frame(64 * 16);
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(device->StartTransfer(1), 1);
    ASSERT_EQ(device->WaitFrame(10000), kNew) << "frame " << i;
    device->StopTransfer(1);
    ASSERT_EQ(camera->FramesSent(), i + 1);
    EXPECT_EQ(device->RingWriteIndex(), (i + 1) % 4);
  }
  ASSERT_EQ(device->GetFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, Expected(5, frame.size()));
  ASSERT_EQ(device->GetFirstSlotFrame(frame.data(), static_cast<int32_t>(frame.size()), 1), 0);
  EXPECT_EQ(frame, Expected(4, frame.size()));
  EXPECT_EQ(device->GetFirstSlotFrame(nullptr, 0, 1), -2);
  std::vector<uint8_t> small(frame.size() - 1, 0xEE);  // a short buffer copies nothing
  EXPECT_NE(device->GetFrame(small.data(), static_cast<int32_t>(small.size()), 1), 0);
  EXPECT_EQ(device->CopyFrame(small.data(), static_cast<int32_t>(small.size()), nullptr, nullptr, nullptr, nullptr,
                              nullptr, 0, 1),
            0);
  EXPECT_EQ(small, std::vector<uint8_t>(frame.size() - 1, 0xEE));
}

// A failed header re-arms the readout and is retried; five failed attempts of any kind (a short payload
// is one) end the thread, and every wait fails at once until the next start succeeds.
TEST_F(DeviceTest, FailedTransferAttempts) {
  OpenSmall();
  camera->FailHeaders(4);
  camera->Bus().ClearOps();
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  device->StopTransfer(1);
  int rearms = 0;
  for (const auto& w : camera->Bus().FpgaWrites()) rearms += w.reg == 0x6C && w.value == 1;
  EXPECT_EQ(rearms, 4);
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
    ASSERT_EQ(device->WaitFrame(10000), kFailed);
    EXPECT_EQ(device->WaitFrame(10000), kFailed);
    EXPECT_EQ(camera->FramesSent() - c.shorts, 0);
    EXPECT_FALSE(camera->ChannelOpen());
    device->StopTransfer(1);
    ASSERT_EQ(device->StartTransfer(1), 1);
    EXPECT_EQ(WaitForFrame(), kNew);
    device->StopTransfer(0);
  }
}

// A short payload is dropped, never handed out with stale bytes; the status words come from the header.
TEST_F(DeviceTest, ShortPayloadIsNotAFrame) {
  OpenSmall();
  camera->ShortPayloads(1);
  ASSERT_EQ(device->StartTransfer(1), 1);
  ASSERT_EQ(WaitForFrame(), kNew);
  std::vector<uint8_t> frame(device->FrameSize());
  int32_t counter = -1, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  ASSERT_EQ(device->GetFrameInfo(frame.data(), static_cast<int32_t>(frame.size()), &counter, &s1, &s2, &s3, &s4, 1), 0);
  EXPECT_EQ(counter, 1);
  EXPECT_THAT((std::vector<int32_t>{s1, s2, s3, s4}), ElementsAre(0x1001, 1, 0x4001, 0x8001));
  EXPECT_EQ(frame, Expected(1, frame.size()));
  device->StopTransfer(0);
}

TEST_F(DeviceTest, StopAbortsAPendingPayloadAndResetsPipeAndStream) {
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
  EXPECT_EQ(camera->PipeResets(), 2);
  EXPECT_EQ(camera->StreamResets(), 2);
  Create(1, 0x10FF, 0);  // old firmware: no pipe reset
  OpenSmall();
  device->StopTransfer(0);
  EXPECT_EQ(camera->PipeResets(), 0);
  EXPECT_EQ(camera->StreamResets(), 1);
}

TEST_F(DeviceTest, CaptureOneFrameAndTransferTimeouts) {
  OpenSmall();
  EXPECT_EQ(device->CaptureOneFrame(), 0);
  EXPECT_EQ(camera->PayloadTimeout(), 3000);
  for (const auto& [exposure, timeout] : std::vector<std::pair<int, int>>{{50000, 5000}, {50001, 10000}, {100000, 20000}}) {
    device->SetExposureTime(exposure);
    EXPECT_EQ(device->TransferTimeout(), timeout) << exposure;
  }
  camera->SetUnplugged(true);
  EXPECT_EQ(device->CaptureOneFrame(), 0);
  EXPECT_TRUE(device->IsTransferFailed());
}

TEST_F(DeviceTest, ConfigureBuffersAndBitDepthWriteTheFpgaGeometry) {
  struct Case {
    int x, y, width, height, mode, mirror, vStart, hStart;
  };
  ASSERT_EQ(device->Open(0), 1);
  for (const Case& c : {Case{0, 0, 4000, 3000, 0, 1, 41, 64}, Case{0, 0, 2048, 1080, 17, 0, 14, 32},
                        Case{16, 8, 2048, 1080, 1, 1, 22, 48}, Case{400, 300, 800, 600, 0, 0, 340, 464}}) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " mode " << c.mode << " mirror " << c.mirror);
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
  ASSERT_EQ(device->SetWindow(0, 0, 64, 16, 0), 1);
  for (const auto& [mode, reg, bytes] : std::vector<std::tuple<int, uint8_t, int>>{{1, 2, 2}, {2, 1, 2}, {0, 1, 1}}) {
    ASSERT_EQ(device->SetBitDepth(mode), 1);
    EXPECT_EQ(camera->Bus().FpgaRegister(0x3C), reg) << mode;
    EXPECT_EQ(device->FrameSize(), 64 * 16 * bytes) << mode;
  }
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kFpgaWrite; });
  EXPECT_EQ(device->SetBitDepth(1), 0);
  EXPECT_EQ(device->BitDepthMode(), 0);
}

TEST_F(DeviceTest, TriggerModeOneWaitsForTheFrameCounterAndStopsStreamingWhenChanged) {
  OpenSmall();
  camera->Bus().SetFpgaRegister(8, 0x21);
  ASSERT_EQ(device->SetTriggerMode(1, 0), 1);
  EXPECT_EQ(device->LastFrameCounter(), 0x21);
  ASSERT_EQ(device->StartTransfer(0), 1);
  EXPECT_EQ(device->SetTriggerMode(1, 0), 1);
  EXPECT_TRUE(device->IsStreaming());
  EXPECT_EQ(device->WaitFrame(100), kNothing);
  EXPECT_EQ(camera->HeadersRead(), 0);
  camera->Bus().SetFpgaRegister(8, 0x22);
  for (int tries = 0; tries < 100 && camera->FramesSent() == 0; ++tries) device->WaitFrame(100);
  EXPECT_GE(camera->FramesSent(), 1);
  ASSERT_EQ(device->SetTriggerMode(0, 0), 1);
  EXPECT_FALSE(device->IsStreaming());
}

TEST_F(DeviceTest, RegisterPassThroughAndBusFailures) {
  ASSERT_EQ(device->Open(0), 1);
  camera->Bus().ClearOps();
  ASSERT_EQ(device->WriteFpgaRegister(0x107, 5), 1);  // cut to eight bits
  EXPECT_THAT(camera->Bus().FpgaWrites(), ElementsAre(FW{7, 5}));
  camera->Bus().SetFpgaRegister(2, 0x02);  // busy bit
  EXPECT_EQ(device->WaitFpgaIdle(20), 0);
  camera->Bus().SetFpgaRegister(2, 0xFD);
  EXPECT_EQ(device->WaitFpgaIdle(20), 1);
  camera->Bus().SetFailWhen([](const BusOp&) { return true; });
  int32_t ok = -1;
  EXPECT_EQ(device->ReadFpgaRegister(7, &ok), 0);
  EXPECT_EQ(ok, 0);
  ok = -1;
  EXPECT_EQ(device->ReadSensorRegister(0, 0x3000, &ok), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(device->WriteFpgaRegister(7, 1), 0);
  EXPECT_EQ(device->WaitFpgaIdle(1000), 0);
}

// The serial number never overruns the buffer and ends at the first blank or unreadable byte.
TEST_F(DeviceTest, SerialNumberBoundsAndFailures) {
  ASSERT_EQ(device->Open(0), 1);
  char buffer[40];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(device->ReadSerialNumber(buffer, 33), 1);  // blank EEPROM: buffer untouched
  EXPECT_EQ(buffer[0], '#');
  for (int i = 0; i < 32; ++i) camera->Bus().SetEeprom(static_cast<uint16_t>(0x1040 + i), static_cast<uint8_t>('A' + i % 26));
  ASSERT_EQ(device->ReadSerialNumber(buffer, 32), 1);
  EXPECT_EQ(std::strlen(buffer), 31u);
  EXPECT_EQ(buffer[32], '#');
  ASSERT_EQ(device->ReadSerialNumber(buffer, 33), 1);
  EXPECT_EQ(std::string(buffer), "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF");
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kEepromRead && op.bytes[1] >= 0x44; });
  ASSERT_EQ(device->ReadSerialNumber(buffer, 33), 1);
  EXPECT_STREQ(buffer, "ABCD");
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
  // Every read-back fails: ten rewrites, still a success because the first write went through.
  camera->Bus().ClearOps();
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kEepromRead; });
  ASSERT_EQ(device->WriteIdentificationByte(0x10, 0x7, &failures), 1);
  EXPECT_EQ(failures, 10);
  EXPECT_EQ(camera->Bus().Count(BusOp::Kind::kEepromWrite), 11);
  camera->Bus().SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kEepromWrite; });
  EXPECT_EQ(device->WriteIdentificationByte(0x10, 0x7, &failures), 0);
  EXPECT_EQ(device->WriteEeprom(0x10000, 1), 0);
}

// Start/stop cycles with a consumer copying frames the whole time: no torn frames (run under TSan too).
TEST_F(DeviceTest, StartStopCyclesWithAConcurrentConsumer) {
  OpenSmall(256, 64);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread consumer([&] {
    std::vector<uint8_t> frame(256 * 64);
    while (!done) {
      int32_t s2 = 0;
      if (device->WaitFrame(20) != kNew ||
          device->GetFrameInfo(frame.data(), static_cast<int32_t>(frame.size()), nullptr, nullptr, &s2, nullptr,
                               nullptr, 1) != 0)
        continue;
      for (size_t i = 0; i < frame.size(); i += 97) {
        if (frame[i] != FakeCamera::PatternByte(static_cast<uint32_t>(s2), i)) {
          ++torn;
          break;
        }
      }
    }
  });
  for (int cycle = 0; cycle < 200; ++cycle) {
    const int mode = cycle % 5 == 4 ? 1 : 0;
    ASSERT_EQ(device->StartTransfer(mode), 1);
    // Only a continuous stream is sure to bring this thread a frame too.
    if (mode == 0 && cycle % 3 == 0) device->WaitFrame(1000);
    device->StopTransfer(cycle % 2);
  }
  done = true;
  consumer.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_FALSE(device->IsStreaming());
}

}  // namespace
