#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "sim/virtual_bus.h"
#include "usb/orv_cy3_cam.h"
#include "usb_test_support.h"

extern char** environ;

namespace orvane::usb {
namespace {

using testing::ScopedSectionName;

ControllerOptions Options(sim::VirtualBus& bus, const std::string& section) {
  ControllerOptions o;
  o.driver = &bus;
  o.sectionName = section;
  return o;
}

TEST(DeviceTable, TwoCamerasOfOneProductGetOrdinals0And1) {
  ScopedSectionName section;
  sim::VirtualBus bus(2);
  COrvCy3Cam cam(Options(bus, section.name()));
  ASSERT_TRUE(cam.IsAttached());
  EXPECT_EQ(cam.EnumerateDevices(), 2);
  for (int i = 0; i < 2; ++i) {
    auto entry = cam.GetDeviceEntry(i);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->vendorId, 0x04B4);
    EXPECT_EQ(entry->productId, 0x31F0);
    EXPECT_EQ(entry->ordinal, i);
    EXPECT_EQ(entry->devicePath, bus.Camera(i).path());
    EXPECT_TRUE(cam.IsDeviceOpenable(i));
  }
  EXPECT_FALSE(cam.GetDeviceEntry(2));
  EXPECT_FALSE(cam.IsDeviceOpenable(2));
  EXPECT_FALSE(cam.IsDeviceOpenable(-1));
  EXPECT_FALSE(cam.IsDeviceOpenable(32));
  // Enumerating again adds nothing.
  EXPECT_EQ(cam.EnumerateDevices(), 2);
}

TEST(DeviceTable, WithoutCamerasNothingOpens) {
  ScopedSectionName section;
  sim::VirtualBus bus(0);
  COrvCy3Cam cam(Options(bus, section.name()));
  EXPECT_EQ(cam.EnumerateDevices(), 0);
  for (int i : {0, 1, 31, 32, -1}) {
    EXPECT_FALSE(cam.IsDeviceOpenable(i));
    EXPECT_FALSE(cam.SelectDevice(i));
    EXPECT_EQ(cam.OpenDeviceHandle(i, true), nullptr);
  }
}

TEST(DeviceTable, ReplugUnderTheSamePathKeepsTheNumber) {
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
}

TEST(DeviceTable, ReplugUnderANewPathGetsTheNextNumberAndCountsTheOldEntry) {
  ScopedSectionName section;
  sim::VirtualBus bus(2);
  COrvCy3Cam cam(Options(bus, section.name()));
  ASSERT_EQ(cam.EnumerateDevices(), 2);
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

TEST(DeviceTable, ControllersShareTheTableAndTheLastDetachEmptiesIt) {
  ScopedSectionName section;
  sim::VirtualBus bus(3);
  {
    COrvCy3Cam first(Options(bus, section.name()));
    bus.Camera(0).Unplug();
    ASSERT_EQ(first.EnumerateDevices(), 2);
    COrvCy3Cam second(Options(bus, section.name()));
    EXPECT_EQ(second.DeviceCount(), 2);
    EXPECT_EQ(second.GetDeviceEntry(0)->devicePath, bus.Camera(1).path());
    bus.Camera(0).Replug();
    EXPECT_EQ(second.EnumerateDevices(), 3);
    EXPECT_EQ(first.GetDeviceEntry(2)->devicePath, bus.Camera(0).path());
  }
  auto table = DeviceTable::Attach(section.name());
  ASSERT_TRUE(table);
  EXPECT_EQ(table->AttachCount(), 1);
  EXPECT_EQ(table->DeviceCount(), 0);
}

// Writes raw bytes into the section as another (faulty) process might have left it.
void Damage(const std::string& name, size_t offset, const std::vector<uint8_t>& bytes) {
  auto section = platform::SharedMemory::OpenOrCreate(name, kSectionSize, nullptr);
  ASSERT_TRUE(section);
  std::memcpy(section->data() + offset, bytes.data(), bytes.size());
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

// ---- two processes ----

// Runs this test program again with only the DeviceTableChild tests and the given environment.
pid_t SpawnChild(const std::string& role, const std::string& section) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back("ORVANE_TEST_ROLE=" + role);
  env.push_back("ORVANE_TEST_SECTION=" + section);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=DeviceTableChild.*";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  return pid;
}

int WaitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ChildRole() {
  const char* role = std::getenv("ORVANE_TEST_ROLE");
  return role != nullptr ? role : "";
}

TEST(DeviceTableChild, Role) {
  const std::string role = ChildRole();
  if (role.empty()) GTEST_SKIP() << "runs only as the child of a two-process test";
  const std::string section = std::getenv("ORVANE_TEST_SECTION");
  if (role == "numbering") {
    // Same three cameras as the parent, all plugged: the two the parent found keep their numbers.
    sim::VirtualBus bus(3);
    COrvCy3Cam cam(Options(bus, section));
    ASSERT_EQ(cam.DeviceCount(), 2);
    ASSERT_EQ(cam.EnumerateDevices(), 3);
    EXPECT_EQ(cam.GetDeviceEntry(0)->devicePath, bus.Camera(0).path());
    EXPECT_EQ(cam.GetDeviceEntry(1)->devicePath, bus.Camera(2).path());
    EXPECT_EQ(cam.GetDeviceEntry(2)->devicePath, bus.Camera(1).path());
    EXPECT_EQ(cam.GetDeviceEntry(2)->ordinal, 2);
  } else if (role == "concurrent") {
    sim::BusOptions options;
    options.serialPrefix = "CHLD";
    sim::VirtualBus bus(0, options);
    COrvCy3Cam cam(Options(bus, section));
    for (int i = 0; i < 16; ++i) {
      bus.AddCamera();
      cam.EnumerateDevices();
    }
  } else {
    FAIL() << "unknown role " << role;
  }
}

TEST(DeviceTable, TwoProcessesSeeTheSameNumbering) {
  if (!ChildRole().empty()) GTEST_SKIP();
  ScopedSectionName section;
  sim::VirtualBus bus(3);
  COrvCy3Cam cam(Options(bus, section.name()));
  bus.Camera(1).Unplug();
  ASSERT_EQ(cam.EnumerateDevices(), 2);
  const pid_t child = SpawnChild("numbering", section.name());
  ASSERT_GT(child, 0);
  EXPECT_EQ(WaitChild(child), 0);
  // The child's addition is visible here under the same number.
  ASSERT_EQ(cam.DeviceCount(), 3);
  EXPECT_EQ(cam.GetDeviceEntry(2)->devicePath, bus.Camera(1).path());
}

TEST(DeviceTable, ConcurrentEnumerationFromTwoProcessesLosesNoEntry) {
  if (!ChildRole().empty()) GTEST_SKIP();
  ScopedSectionName section;
  sim::BusOptions options;
  options.serialPrefix = "PRNT";
  sim::VirtualBus bus(0, options);
  COrvCy3Cam cam(Options(bus, section.name()));
  const pid_t child = SpawnChild("concurrent", section.name());
  ASSERT_GT(child, 0);
  for (int i = 0; i < 16; ++i) {
    bus.AddCamera();
    cam.EnumerateDevices();
  }
  EXPECT_EQ(WaitChild(child), 0);
  ASSERT_EQ(cam.DeviceCount(), 32);
  std::set<std::string> paths;
  int parentCount = 0;
  int childCount = 0;
  for (int i = 0; i < 32; ++i) {
    const auto entry = cam.GetDeviceEntry(i);
    ASSERT_TRUE(entry);
    paths.insert(entry->devicePath);
    EXPECT_EQ(entry->ordinal, i) << "all entries have the same product ID";
    if (entry->devicePath.find("#prnt") != std::string::npos) ++parentCount;
    if (entry->devicePath.find("#chld") != std::string::npos) ++childCount;
  }
  EXPECT_EQ(paths.size(), 32u);
  EXPECT_EQ(parentCount, 16);
  EXPECT_EQ(childCount, 16);
}

}  // namespace
}  // namespace orvane::usb
