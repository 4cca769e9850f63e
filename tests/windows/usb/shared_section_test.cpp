// The Win32 side of the controller layer under wine: the named file mapping and named mutex shared by
// two processes of one prefix, and the SetupAPI backend that finds no camera driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/debug_output.h"
#include "tests/unit/usb/usb_test_support.h"

namespace orvane::usb {
namespace {

using namespace testing;

std::string Env(const char* name) {
  char value[512];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
  return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

// Starts this program again running only the child role, with the role and section in its environment.
std::function<int()> Spawn(const std::string& role, const std::string& section) {
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
  if (!ok) return {};
  CloseHandle(pi.hThread);
  return [process = pi.hProcess] {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return static_cast<int>(code);
  };
}

TEST(SharedSectionChild, Role) {
  if (Env("ORVANE_TEST_ROLE").empty()) GTEST_SKIP() << "runs only as the child of a two-process test";
  RunDeviceTableChildRole(Env("ORVANE_TEST_ROLE"), Env("ORVANE_TEST_SECTION"));
}

TEST(SharedSection, TwoProcessesSeeTheSameNumbering) {
  if (!Env("ORVANE_TEST_ROLE").empty()) GTEST_SKIP();
  TwoProcessesSeeTheSameNumbering(Spawn);
}

TEST(SharedSection, ConcurrentEnumerationFromTwoProcessesLosesNoEntry) {
  if (!Env("ORVANE_TEST_ROLE").empty()) GTEST_SKIP();
  ConcurrentEnumerationFromTwoProcessesLosesNoEntry(Spawn);
}

TEST(SharedSection, TheSectionEndsWithItsLastController) {
  ScopedSectionName section;
  sim::VirtualBus bus(2);
  {
    COrvCy3Cam cam(Options(bus, section.name()));
    ASSERT_EQ(cam.EnumerateDevices(), 2);
  }
  COrvCy3Cam again(Options(bus, section.name()));
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
