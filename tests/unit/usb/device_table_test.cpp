#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "usb_test_support.h"

namespace orvane::usb {
namespace {

using testing::Options;
using testing::ScopedSectionName;

TEST(DeviceTable, OrdinalsCountCamerasOfOneProductAndBadIndicesAreRefused) {
  ScopedSectionName section;
  sim::VirtualBus bus(2);
  COrvCy3Cam cam(Options(bus, section.name()));
  EXPECT_EQ(cam.EnumerateDevices(), 2);
  EXPECT_EQ(cam.EnumerateDevices(), 2) << "enumerating again adds nothing";
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(cam.GetDeviceEntry(i)->ordinal, i);
    EXPECT_EQ(cam.GetDeviceEntry(i)->devicePath, bus.Camera(i).path());
  }
  for (int i : {2, 31, 32, -1}) {
    EXPECT_FALSE(cam.GetDeviceEntry(i)) << i;
    EXPECT_FALSE(cam.IsDeviceOpenable(i)) << i;
    EXPECT_FALSE(cam.SelectDevice(i)) << i;
    EXPECT_EQ(cam.OpenDeviceHandle(i, true), nullptr) << i;
  }
}

TEST(DeviceTable, ReplugKeepsTheNumberOfItsPathAndANewPathGetsTheNext) {
  ScopedSectionName section;
  sim::VirtualBus bus(2);
  COrvCy3Cam cam(Options(bus, section.name()));
  ASSERT_EQ(cam.EnumerateDevices(), 2);
  bus.Camera(0).Unplug();
  EXPECT_EQ(cam.EnumerateDevices(), 2);  // entries are never removed
  EXPECT_FALSE(cam.IsDeviceOpenable(0));
  EXPECT_TRUE(cam.IsDeviceOpenable(1));
  bus.Camera(0).Replug();
  EXPECT_EQ(cam.EnumerateDevices(), 2);
  EXPECT_TRUE(cam.IsDeviceOpenable(0));
  EXPECT_EQ(cam.GetDeviceEntry(0)->devicePath, bus.Camera(0).path());
  // Under another path the camera is a new entry; the old one counts for the ordinal.
  bus.Camera(0).Unplug();
  bus.Camera(0).ReplugAs("otherport");
  EXPECT_EQ(cam.EnumerateDevices(), 3);
  auto entry = cam.GetDeviceEntry(2);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->devicePath, bus.Camera(0).path());
  EXPECT_EQ(entry->ordinal, 2);
  EXPECT_FALSE(cam.IsDeviceOpenable(0));  // the old path is gone
}

TEST(DeviceTable, HoldsAtMost32DevicesAndIgnoresFurtherCameras) {
  ScopedSectionName section;
  sim::VirtualBus bus(32);
  COrvCy3Cam cam(Options(bus, section.name()));
  EXPECT_EQ(cam.EnumerateDevices(), 32);
  bus.Camera(0).Unplug();
  bus.Camera(0).ReplugAs("late");
  EXPECT_EQ(cam.EnumerateDevices(), 32);
  EXPECT_EQ(cam.GetDeviceEntry(31)->ordinal, 31);
}

TEST(DeviceTable, DeviceNameOfThisCameraFailsAndLeavesTheTextAlone) {
  ScopedSectionName section;
  sim::VirtualBus bus(1);
  sim::CameraConfig other;
  other.productId = 0x31D0;
  other.instance = "family1";
  bus.AddCamera(other);
  COrvCy3Cam cam(Options(bus, section.name()));
  ASSERT_EQ(cam.EnumerateDevices(), 2);
  char text[64] = "unchanged";
  EXPECT_FALSE(cam.GetDeviceName(0, text, sizeof(text)));
  EXPECT_STREQ(text, "unchanged");
  EXPECT_TRUE(cam.GetDeviceName(1, text, sizeof(text)));
  EXPECT_STREQ(text, "OrvaneKD5-USB3-R5_00");
  char small[8] = "small";
  EXPECT_FALSE(cam.GetDeviceName(1, small, sizeof(small)));
  EXPECT_STREQ(small, "small");
  EXPECT_FALSE(cam.GetDeviceName(1, nullptr, 64));
  EXPECT_FALSE(cam.GetDeviceName(5, text, sizeof(text)));
}

// The returned mapping keeps the section in use; a section nobody uses starts afresh on its next open.
platform::SharedMemory Damage(const std::string& name, size_t offset, const std::vector<uint8_t>& bytes) {
  auto section = platform::SharedMemory::OpenOrCreate(name, kSectionSize, nullptr);
  if (!section) {
    ADD_FAILURE() << "cannot open " << name;
    return {};
  }
  std::memcpy(section->data() + offset, bytes.data(), bytes.size());
  return std::move(*section);
}

TEST(DeviceTable, DamagedSectionIsRebuiltOnAttach) {
  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"device count 33", kSectionDeviceCount, {33, 0, 0, 0}},
      {"device count -1", kSectionDeviceCount, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"attach count negative", kSectionAttachCount, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"attach count that cannot grow", kSectionAttachCount, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"unterminated path", kSectionEntries + 5 * kDeviceEntrySize + 8, std::vector<uint8_t>(kDevicePathSize, 'A')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedSectionName section;
    sim::VirtualBus bus(2);
    auto keeper = DeviceTable::Attach(section.name());  // keeps the section alive with a live count
    ASSERT_TRUE(keeper);
    {
      COrvCy3Cam cam(Options(bus, section.name()));
      ASSERT_EQ(cam.EnumerateDevices(), 2);
    }
    Damage(section.name(), c.offset, c.bytes);
    COrvCy3Cam cam(Options(bus, section.name()));
    EXPECT_EQ(cam.DeviceCount(), 0);
    EXPECT_EQ(cam.EnumerateDevices(), 2);
    EXPECT_EQ(cam.GetDeviceEntry(0)->ordinal, 0);
    EXPECT_EQ(cam.GetDeviceEntry(1)->ordinal, 1);
  }
}

TEST(DeviceTable, ASectionWhoseUsersAreGoneStartsAfresh) {
  // A process that died attached leaves a count behind; a Windows section ends with its last handle.
  ScopedSectionName section;
  {
    platform::SharedMemory stale = Damage(section.name(), kSectionAttachCount, {5, 0, 0, 0});
    Damage(section.name(), kSectionDeviceCount, {2, 0, 0, 0});
  }
  auto table = DeviceTable::Attach(section.name());
  ASSERT_TRUE(table);
  EXPECT_EQ(table->AttachCount(), 1);
  EXPECT_EQ(table->DeviceCount(), 0);
}

TEST(DeviceTable, OccupiedFreeSlotSendsTheDebugLineAndIsOverwritten) {
  ScopedSectionName section;
  sim::VirtualBus bus(1);
  std::vector<std::string> lines;
  platform::SetDebugSink([&](const std::string& line) { lines.push_back(line); });
  COrvCy3Cam cam(Options(bus, section.name()));
  // A stale product ID in the first free slot.
  Damage(section.name(), kSectionEntries + 2, {0x34, 0x12});
  EXPECT_EQ(cam.EnumerateDevices(), 1);
  platform::SetDebugSink({});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], kUnexpectedSlotDebugLine);
  EXPECT_EQ(cam.GetDeviceEntry(0)->productId, 0x31F0);
}

TEST(DeviceTable, OverlongPathIsNotRecorded) {
  ScopedSectionName section;
  auto table = DeviceTable::Attach(section.name());
  ASSERT_TRUE(table);
  EXPECT_EQ(table->AddDevice(std::string(300, 'x')), DeviceTable::AddResult::kInvalid);
  EXPECT_EQ(table->AddDevice(std::string(259, 'x')), DeviceTable::AddResult::kAdded);
  EXPECT_EQ(table->AddDevice(""), DeviceTable::AddResult::kInvalid);
  EXPECT_EQ(table->DeviceCount(), 1);
  EXPECT_EQ(table->Entry(0)->devicePath.size(), 259u);
  EXPECT_FALSE(table->Entry(32));
}

}  // namespace
}  // namespace orvane::usb
