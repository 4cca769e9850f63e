// The Win32 side of the controller layer under wine: the named file mapping and named mutex shared by
// two processes of one prefix, and the SetupAPI backend that finds no camera driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/debug_output.h"
#include "sim/virtual_bus.h"
#include "usb/orv_cy3_cam.h"

namespace orvane::usb {
namespace {

std::string UniqueSection() {
  static int counter = 0;
  return "R3O5-WinTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

ControllerOptions Options(sim::VirtualBus& bus, const std::string& section) {
  ControllerOptions o;
  o.driver = &bus;
  o.sectionName = section;
  return o;
}

std::string Env(const char* name) {
  char value[512];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
  return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

// Starts this program again running only the child role, with the role and section in its environment.
HANDLE SpawnChild(const std::string& role, const std::string& section) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof(exe));
  std::string command = std::string("\"") + exe + "\" --gtest_filter=SharedSectionChild.*";
  SetEnvironmentVariableA("ORVANE_TEST_ROLE", role.c_str());
  SetEnvironmentVariableA("ORVANE_TEST_SECTION", section.c_str());
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const BOOL ok = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("ORVANE_TEST_ROLE", nullptr);
  SetEnvironmentVariableA("ORVANE_TEST_SECTION", nullptr);
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

DWORD WaitChild(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

TEST(SharedSectionChild, Role) {
  const std::string role = Env("ORVANE_TEST_ROLE");
  if (role.empty()) GTEST_SKIP() << "runs only as the child of a two-process test";
  const std::string section = Env("ORVANE_TEST_SECTION");
  if (role == "numbering") {
    sim::VirtualBus bus(3);
    COrvCy3Cam cam(Options(bus, section));
    ASSERT_EQ(cam.DeviceCount(), 2);
    ASSERT_EQ(cam.EnumerateDevices(), 3);
    EXPECT_EQ(cam.GetDeviceEntry(0)->devicePath, bus.Camera(0).path());
    EXPECT_EQ(cam.GetDeviceEntry(1)->devicePath, bus.Camera(2).path());
    EXPECT_EQ(cam.GetDeviceEntry(2)->devicePath, bus.Camera(1).path());
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

TEST(SharedSection, TwoProcessesSeeTheSameNumbering) {
  if (!Env("ORVANE_TEST_ROLE").empty()) GTEST_SKIP();
  const std::string section = UniqueSection();
  sim::VirtualBus bus(3);
  COrvCy3Cam cam(Options(bus, section));
  bus.Camera(1).Unplug();
  ASSERT_EQ(cam.EnumerateDevices(), 2);
  HANDLE child = SpawnChild("numbering", section);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(WaitChild(child), 0u);
  ASSERT_EQ(cam.DeviceCount(), 3);
  EXPECT_EQ(cam.GetDeviceEntry(2)->devicePath, bus.Camera(1).path());
}

TEST(SharedSection, ConcurrentEnumerationFromTwoProcessesLosesNoEntry) {
  if (!Env("ORVANE_TEST_ROLE").empty()) GTEST_SKIP();
  const std::string section = UniqueSection();
  sim::BusOptions options;
  options.serialPrefix = "PRNT";
  sim::VirtualBus bus(0, options);
  COrvCy3Cam cam(Options(bus, section));
  HANDLE child = SpawnChild("concurrent", section);
  ASSERT_NE(child, nullptr);
  for (int i = 0; i < 16; ++i) {
    bus.AddCamera();
    cam.EnumerateDevices();
  }
  EXPECT_EQ(WaitChild(child), 0u);
  ASSERT_EQ(cam.DeviceCount(), 32);
  std::set<std::string> paths;
  for (int i = 0; i < 32; ++i) paths.insert(cam.GetDeviceEntry(i)->devicePath);
  EXPECT_EQ(paths.size(), 32u);
}

TEST(SharedSection, TheSectionEndsWithItsLastController) {
  const std::string section = UniqueSection();
  sim::VirtualBus bus(2);
  {
    COrvCy3Cam cam(Options(bus, section));
    ASSERT_EQ(cam.EnumerateDevices(), 2);
  }
  COrvCy3Cam again(Options(bus, section));
  EXPECT_EQ(again.DeviceCount(), 0);
}

TEST(Win32Driver, NoCameraDriverMeansNoInterfaceAndNoOpen) {
  DriverBackend& driver = PlatformDriver();
  EXPECT_TRUE(driver.EnumerateInterfaces(kCameraInterfaceGuid, 32).empty());
  uint32_t error = 0;
  EXPECT_EQ(driver.Open(R"(\\?\usb#vid_04b4&pid_31f0#nothing#{328184c5-93e6-49b7-94b8-2ada13aabb39})", true, &error),
            nullptr);
  EXPECT_NE(error, 0u);
}

TEST(Win32Driver, DebugLineReachesTheSink) {
  std::string got;
  platform::SetDebugSink([&](const std::string& line) { got = line; });
  platform::DebugOutput(kUnexpectedSlotDebugLine);
  platform::SetDebugSink({});
  EXPECT_EQ(got, kUnexpectedSlotDebugLine);
}

}  // namespace
}  // namespace orvane::usb
