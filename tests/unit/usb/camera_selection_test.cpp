// A camera is selected by one controller at a time: a second controller on the same table is refused
// and sends nothing to the camera; the camera is free again when its holder lets go.
#include <gtest/gtest.h>

#include "usb_test_support.h"

namespace orvane::usb {
namespace {

using testing::Options;
using testing::RecordingDriver;
using testing::ScopedSectionName;

TEST(CameraSelection, ASecondControllerIsRefusedAndReachesNothing) {
  ScopedSectionName section;
  sim::VirtualBus bus(2);
  RecordingDriver recorder(bus);
  COrvCy3Cam first(Options(bus, section.name()));
  COrvCy3Cam second(Options(recorder, section.name()));
  ASSERT_EQ(first.EnumerateDevices(), 2);
  ASSERT_TRUE(first.SelectDevice(0));
  EXPECT_TRUE(first.HoldsDevice());
  recorder.Clear();
  EXPECT_FALSE(second.SelectDevice(0));
  EXPECT_FALSE(second.HoldsDevice());
  uint8_t value = 0;
  uint8_t info[64];
  EXPECT_FALSE(second.FpgaWriteByte(0x3C, 2));
  EXPECT_FALSE(second.FpgaReadByte(2, &value));
  EXPECT_FALSE(second.ReadControllerInfo(info));
  EXPECT_FALSE(second.EnsureStreamHandle());
  EXPECT_TRUE(recorder.Log().empty()) << "a refused controller sent requests";
  // Another camera is free; the same controller switching cameras lets the first one go.
  EXPECT_TRUE(second.SelectDevice(1));
  EXPECT_TRUE(first.SelectDevice(0)) << "selecting the held camera again keeps it";
  EXPECT_FALSE(first.SelectDevice(1));
  EXPECT_TRUE(first.HoldsDevice()) << "a refused switch keeps the camera held so far";
  first.ReleaseDevice();
  EXPECT_FALSE(first.HoldsDevice());
  EXPECT_FALSE(first.FpgaReadByte(2, &value));
  ASSERT_TRUE(second.SelectDevice(0));
  EXPECT_TRUE(second.FpgaReadByte(2, &value));
  EXPECT_TRUE(first.SelectDevice(1)) << "the switch let camera 1 go";
}

TEST(CameraSelection, ADestroyedControllerLeavesItsCameraFree) {
  ScopedSectionName section;
  sim::VirtualBus bus(1);
  COrvCy3Cam second(Options(bus, section.name()));
  {
    COrvCy3Cam first(Options(bus, section.name()));
    ASSERT_EQ(first.EnumerateDevices(), 1);
    ASSERT_TRUE(first.SelectDevice(0));
    EXPECT_FALSE(second.SelectDevice(0));
  }
  EXPECT_TRUE(second.SelectDevice(0));
}

}  // namespace
}  // namespace orvane::usb
