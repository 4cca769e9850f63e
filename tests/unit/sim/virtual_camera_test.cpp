#include "sim/virtual_camera.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/usb/usb_test_support.h"
#include "usb/vendor_requests.h"

namespace orvane::sim {
namespace {

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

  VirtualBus bus_;
  std::unique_ptr<usb::DeviceHandle> handle_;
};

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
