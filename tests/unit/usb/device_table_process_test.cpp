// Two processes sharing the device table (Linux: the test program starts itself again).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

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
