// The text form of injected faults and the faults it schedules on a virtual camera.
#include "sim/fault_plan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/virtual_bus.h"
#include "tests/unit/usb/usb_test_support.h"
#include "usb/vendor_requests.h"

namespace orvane::sim {
namespace {

using K = FaultKind;
using T = FaultTrigger;

TEST(FaultPlan, WellFormedPlansAreReadItemByItem) {
  struct Case {
    const char* text;
    std::vector<FaultStep> steps;
  };
  const Case cases[] = {
      {"unplug@2.5s", {{0, K::kUnplug, 1, T::kSinceOpen, 2500}}},
      {"replug@4s", {{0, K::kReplug, 1, T::kSinceOpen, 4000}}},
      {"payload-fail@frame:10", {{0, K::kPayloadFail, 1, T::kFrame, 10}}},
      {"header-fail:3", {{0, K::kHeaderFail, 3, T::kAtOnce, 0}}},
      {" cam2:bulk-stall:2@stream+300ms , fpga-busy",
       {{2, K::kBulkStall, 2, T::kSinceStream, 300}, {0, K::kFpgaBusy, 1, T::kAtOnce, 0}}},
      {"cam32:payload-short:5@0.25s,eeprom-fail,gpio25-low,bulk-fail",
       {{32, K::kPayloadShort, 5, T::kSinceOpen, 250},
        {0, K::kEepromFail, 1, T::kAtOnce, 0},
        {0, K::kGpio25Low, 1, T::kAtOnce, 0},
        {0, K::kBulkFail, 1, T::kAtOnce, 0}}},
      {"fpga-ready@1s,eeprom-ok@1s,gpio25-ok@frame:1",
       {{0, K::kFpgaReady, 1, T::kSinceOpen, 1000},
        {0, K::kEepromOk, 1, T::kSinceOpen, 1000},
        {0, K::kGpio25Ok, 1, T::kFrame, 1}}},
  };
  for (const Case& c : cases) {
    std::vector<FaultStep> steps;
    std::string error;
    EXPECT_TRUE(ParseFaultPlan(c.text, &steps, &error)) << c.text << ": " << error;
    EXPECT_EQ(steps, c.steps) << c.text;
  }
}

TEST(FaultPlan, MalformedPlansAreRefusedWhole) {
  for (const char* text : {"", ",", "unplug,", "unplg", "unplug:2", "header-fail:", "header-fail:0",
                           "header-fail:-1", "header-fail:1x", "header-fail:99999999999", "unplug@", "unplug@2",
                           "unplug@-1s", "unplug@1.2.3s", "unplug@.s", "unplug@stream+", "unplug@frame:0",
                           "unplug@frame:x", "cam0:unplug", "cam33:unplug", "camx:unplug", "cam1unplug",
                           "unplug@1s@2s", "header-fail:2:3"}) {
    std::vector<FaultStep> steps{{}};
    std::string error;
    EXPECT_FALSE(ParseFaultPlan(text, &steps, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(steps.size(), 1u) << "left untouched: " << text;
  }
}

BusOptions FastBus() {
  BusOptions options;
  options.pacing = Pacing::kFast;
  return options;
}

// Scheduled faults on a camera, driven through the seam as the controller drives it.
class ScheduledFaults : public ::testing::Test {
 protected:
  ScheduledFaults() : bus_(2, FastBus()) {
    uint32_t error = 0;
    handle_ = bus_.Open(bus_.Camera(0).path(), false, &error);
  }
  VirtualCamera& camera() { return bus_.Camera(0); }

  // Arms the FPGA and reads one frame header synchronously; the driver's error (0: a header came).
  uint32_t ReadHeader() {
    auto arm = usb::testing::ControlRecord(usb::kVendorOutEndpoint, usb::vendor::kArmRead, 0, 0);
    handle_->Control(usb::IoCode::kControlTransfer, arm.data(), 102, arm.data(), 102);
    std::vector<uint8_t> record(usb::kTransferRecordSize, 0);
    record[usb::record::kEndpoint] = usb::kEndpointFrames;
    header_.assign(64, 0);
    const usb::IoStart s = handle_->Control(usb::IoCode::kDirectBulkTransfer, record.data(),
                                            static_cast<uint32_t>(record.size()), header_.data(), 64);
    lastRecord_ = record;
    return s.error;
  }
  bool LastHeaderFailed() { return usb::RecordFailed(lastRecord_.data()); }
  // Reads the payload the last header announced; false when a piece failed.
  bool ReadPayload() {
    uint32_t left = usb::LoadU32(header_.data() + 16);
    std::vector<uint8_t> piece(0x80000);
    while (left > 0) {
      std::vector<uint8_t> record(usb::kTransferRecordSize, 0);
      record[usb::record::kEndpoint] = usb::kEndpointFrames;
      const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(piece.size()));
      const usb::IoStart s = handle_->Control(usb::IoCode::kDirectBulkTransfer, record.data(),
                                              static_cast<uint32_t>(record.size()), piece.data(), n);
      if (s.error != 0 || usb::RecordFailed(record.data()) || s.bytes == 0) return false;
      left -= std::min(left, s.bytes);
    }
    return true;
  }

  VirtualBus bus_;
  std::unique_ptr<usb::DeviceHandle> handle_;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> lastRecord_;
};

TEST_F(ScheduledFaults, AFrameTriggerFailsExactlyThatFrame) {
  ASSERT_TRUE(camera().ScheduleFaults("payload-fail@frame:3,cam2:header-fail:5"));
  for (int frame = 1; frame <= 4; ++frame) {
    ASSERT_EQ(ReadHeader(), 0u) << frame;
    EXPECT_FALSE(LastHeaderFailed()) << frame << ": another camera's fault";
    EXPECT_EQ(ReadPayload(), frame != 3) << frame;
  }
  EXPECT_FALSE(camera().ScheduleFaults("payload-fail@soon"));
}

TEST_F(ScheduledFaults, AStalledReadEndsWhenATimedUnplugComesDue) {
  // The header never comes; the unplug 200 ms after streaming started must end the wait well before
  // the read's own 60 s limit, without anybody touching the camera.
  ASSERT_TRUE(camera().ScheduleFaults("bulk-stall:1000,unplug@stream+200ms"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadHeader(), usb::kErrorDeviceNotConnected);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_FALSE(camera().plugged());
  EXPECT_TRUE(bus_.Camera(1).plugged());
}

TEST_F(ScheduledFaults, TimeSinceOpeningStartsAtTheFirstOpenAndIsNoticedByTheBus) {
  VirtualCamera& second = bus_.Camera(1);
  ASSERT_TRUE(second.ScheduleFaults("unplug@0ms,replug@100ms"));
  EXPECT_TRUE(second.plugged()) << "never opened: the clock has not started";
  uint32_t error = 0;
  auto handle = bus_.Open(second.path(), false, &error);
  ASSERT_NE(handle, nullptr) << "the open itself starts the clock";
  EXPECT_FALSE(second.plugged()) << "0 ms after opening";
  EXPECT_TRUE(usb::testing::Eventually([&] {
    return bus_.EnumerateInterfaces(usb::kCameraInterfaceGuid, 32).size() == 2;
  })) << "the replug is due when the bus looks again";
  ASSERT_TRUE(second.ScheduleFaults("fpga-busy,eeprom-fail,gpio25-low"));
  EXPECT_EQ(second.FpgaRegister(2) & 2, 2);
}

}  // namespace
}  // namespace orvane::sim
