#include "sim/virtual_camera.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/usb/usb_test_support.h"
#include "usb/vendor_requests.h"

namespace orvane::sim {
namespace {

using usb::testing::Eventually;

// One vendor request straight through the seam.
struct Reply {
  bool accepted = false;
  uint32_t bytes = 0;
  std::vector<uint8_t> rec;
};

Reply Vendor(usb::DeviceHandle& h, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
             std::vector<uint8_t> data = {}) {
  Reply r;
  r.rec = usb::testing::ControlRecord(type, request, value, index, data);
  const usb::IoStart s = h.Control(usb::IoCode::kControlTransfer, r.rec.data(), 102, r.rec.data(), 102);
  r.accepted = s.error == 0;
  r.bytes = s.bytes;
  return r;
}

class VirtualCameraTest : public ::testing::Test {
 protected:
  VirtualCameraTest() : bus_(2) {
    uint32_t error = 0;
    handle_ = bus_.Open(bus_.Camera(0).path(), false, &error);
  }
  VirtualCamera& camera() { return bus_.Camera(0); }
  void WriteFpga(uint8_t reg, uint8_t value) {
    ASSERT_FALSE(usb::RecordFailed(Vendor(*handle_, 0x40, 0x30, 3, 0x40, {reg, 0, value}).rec.data()));
  }
  void WriteSensor(uint16_t address, uint8_t value) {
    const auto r = Vendor(*handle_, 0x40, 0x30, 3, 0x48,
                          {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value});
    ASSERT_FALSE(usb::RecordFailed(r.rec.data()));
  }

  VirtualBus bus_;
  std::unique_ptr<usb::DeviceHandle> handle_;
};

TEST_F(VirtualCameraTest, BusHasStablePathsAndSerialNumbers) {
  const auto paths = bus_.EnumerateInterfaces(usb::kCameraInterfaceGuid, 32);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], R"(\\?\usb#vid_04b4&pid_31f0#sim00001#{328184c5-93e6-49b7-94b8-2ada13aabb39})");
  EXPECT_EQ(paths[1], R"(\\?\usb#vid_04b4&pid_31f0#sim00002#{328184c5-93e6-49b7-94b8-2ada13aabb39})");
  EXPECT_EQ(VirtualBus(2).EnumerateInterfaces(usb::kCameraInterfaceGuid, 32), paths) << "same in every bus";
  EXPECT_EQ(bus_.EnumerateInterfaces(usb::kCameraInterfaceGuid, 1).size(), 1u);
  EXPECT_TRUE(bus_.EnumerateInterfaces(usb::InterfaceGuid{{1, 2, 3, 4}}, 32).empty());
  for (int i = 0; i < 2; ++i) {
    std::string serial;
    for (uint16_t a = 0x1040; bus_.Camera(i).EepromByte(a) != 0xFF; ++a) {
      serial.push_back(static_cast<char>(bus_.Camera(i).EepromByte(a)));
    }
    EXPECT_EQ(serial, i == 0 ? "SIM00001" : "SIM00002");
  }
  uint32_t error = 0;
  EXPECT_EQ(bus_.Open("\\\\?\\usb#nothing", false, &error), nullptr);
  EXPECT_EQ(error, usb::kErrorFileNotFound);
}

TEST_F(VirtualCameraTest, ControlEnvelopeMustBeExact) {
  auto r = Vendor(*handle_, 0xC0, 0xB0, 0, 0);
  ASSERT_TRUE(r.accepted);
  EXPECT_EQ(r.bytes, 102u);
  EXPECT_FALSE(usb::RecordFailed(r.rec.data()));
  struct Corruption {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  for (const Corruption& c : {Corruption{"wLength 64", usb::record::kLength, 64},
                              Corruption{"timeout", usb::record::kTimeout, 5},
                              Corruption{"endpoint", usb::record::kEndpoint, 0x81},
                              Corruption{"buffer offset", usb::record::kBufferOffset, 0},
                              Corruption{"buffer length", usb::record::kBufferLength, 32}}) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> rec(102);
    usb::BuildControlRecord(rec.data(), 0xC0, 0xB0, 0, 0);
    rec[c.offset] = c.value;
    const auto s = handle_->Control(usb::IoCode::kControlTransfer, rec.data(), 102, rec.data(), 102);
    EXPECT_EQ(s.error, 0u);
    EXPECT_EQ(s.bytes, 38u);
    EXPECT_TRUE(usb::RecordFailed(rec.data()));
  }
  std::vector<uint8_t> tiny(38);
  EXPECT_EQ(handle_->Control(usb::IoCode::kControlTransfer, tiny.data(), 38, tiny.data(), 38).error,
            usb::kErrorInvalidParameter);
  EXPECT_EQ(handle_->Control(usb::IoCode::kControlTransfer, nullptr, 102, nullptr, 102).error,
            usb::kErrorInvalidParameter);
}

TEST_F(VirtualCameraTest, I2cReadReturnsTheRequestedCountAndRefusesMoreThan64) {
  auto r = Vendor(*handle_, 0xC0, 0x31, 5, 0xA3);
  EXPECT_EQ(r.bytes, 38u + 5u);
  r = Vendor(*handle_, 0xC0, 0x31, 65, 0xA3);
  EXPECT_TRUE(usb::RecordFailed(r.rec.data()));
  r = Vendor(*handle_, 0x40, 0x30, 1, 0x70, {0});
  EXPECT_TRUE(usb::RecordFailed(r.rec.data())) << "no device at 0x70";
}

TEST_F(VirtualCameraTest, Gpio25RisesAfterItsDelayUnlessTold) {
  camera().SetGpio25DelayMs(60000);
  camera().Replug();
  uint32_t error = 0;
  auto h = bus_.Open(camera().path(), false, &error);
  auto level = [&] { return Vendor(*h, 0xC0, 0xC3, 0, 0).rec[38]; };
  EXPECT_EQ(level(), 0);
  camera().SetGpio25DelayMs(30);
  EXPECT_TRUE(Eventually([&] { return level() == 1; }));
  camera().SetGpio25NeverRises(true);
  EXPECT_EQ(level(), 0);
}

TEST_F(VirtualCameraTest, FramePeriodFollowsTheSensorTiming) {
  FrameFormat f = camera().CurrentFormat();
  EXPECT_NEAR(f.framePeriodMs, 3079.0 * 825.0 / 72000.0, 1e-9);
  EXPECT_NEAR(f.render.brightness, 1.0, 1e-12);
  EXPECT_EQ(f.payloadLength, 4000u * 3000u);
  WriteFpga(0x2E, 0);
  f = camera().CurrentFormat();
  EXPECT_NEAR(f.framePeriodMs, 2275.0 * 528.0 / 72000.0, 1e-9);
  WriteFpga(0x2E, 1);
  // Exposure of 3072 lines: one extra frame period (N = 1, S = 3086).
  WriteSensor(0x000D, 1);
  WriteSensor(0x000B, 3086 & 0xFF);
  WriteSensor(0x000C, 3086 >> 8);
  f = camera().CurrentFormat();
  EXPECT_NEAR(f.framePeriodMs, 2 * 3079.0 * 825.0 / 72000.0, 1e-9);
  EXPECT_NEAR(f.render.brightness, 3072.0 / 3075.0, 1e-12);
  // Gain code 1024 doubles the signal.
  WriteSensor(0x0009, 0x00);
  WriteSensor(0x000A, 0x04);
  EXPECT_NEAR(camera().CurrentFormat().render.brightness, 2.0 * 3072.0 / 3075.0, 1e-12);
  WriteSensor(0x001A, 1);
  WriteFpga(0x48, 41);
  f = camera().CurrentFormat();
  EXPECT_TRUE(f.render.mirrorV);
  EXPECT_EQ(f.render.originY, 0);
}

TEST_F(VirtualCameraTest, SensorTimingHoldsTheNextFrameBack) {
  // A 200-frame exposure: the frame after the first one is seconds away.
  WriteSensor(0x000D, 200);
  uint32_t error = 0;
  auto stream = bus_.Open(camera().path(), true, &error);
  uint8_t header[64];
  auto readHeader = [&](uint32_t timeoutMs) {
    Vendor(*stream, 0x42, 0xC2, 0, 0);
    uint8_t rec[38] = {};
    rec[13] = 0x81;
    usb::IoStart s = stream->Control(usb::IoCode::kDirectBulkTransfer, rec, 38, header, 64);
    bool ok = s.error == 0 || (s.error == usb::kErrorIoPending && s.io->Wait(timeoutMs));
    return ok;  // an unfinished request is cancelled when `s` goes away
  };
  ASSERT_TRUE(readHeader(5000));
  EXPECT_FALSE(readHeader(50));
  EXPECT_EQ(camera().PendingBulkRequests(), 0u);
  camera().SetPacing(Pacing::kFast);
  EXPECT_TRUE(readHeader(5000));
}

TEST_F(VirtualCameraTest, ReplugStartsFromPowerOnAndKeepsTheEeprom) {
  WriteFpga(0x3C, 2);
  ASSERT_EQ(Vendor(*handle_, 0x40, 0x30, 3, 0xA2, {0x00, 0x10, 0x99}).bytes, 102u);
  camera().Unplug();
  EXPECT_TRUE(bus_.EnumerateInterfaces(usb::kCameraInterfaceGuid, 32).size() == 1);
  EXPECT_EQ(Vendor(*handle_, 0xC0, 0xB0, 0, 0).accepted, false);
  camera().Replug();
  EXPECT_EQ(camera().FpgaRegister(0x3C), 1);
  EXPECT_EQ(camera().EepromByte(0x0010), 0x99);
  EXPECT_FALSE(Vendor(*handle_, 0xC0, 0xB0, 0, 0).accepted) << "old handles stay dead";
}

}  // namespace
}  // namespace orvane::sim
