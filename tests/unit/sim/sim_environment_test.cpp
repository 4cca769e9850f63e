// The environment that selects the virtual cameras (Linux: setenv; the Windows side is tested under wine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "sim/virtual_bus.h"
#include "usb/driver_seam.h"

namespace orvane::sim {
namespace {

TEST(SimEnvironment, CameraCountAndNoiseAreParsedStrictly) {
  struct Case {
    const char* value;
    int cameras;
  };
  for (const Case& c : {Case{"1", 1}, Case{"32", 32}, Case{"0", 0}, Case{"33", 0}, Case{"-2", 0}, Case{"3x", 0},
                        Case{"", 0}, Case{"abc", 0}}) {
    setenv("ORVANE_SIM_CAMERAS", c.value, 1);
    EXPECT_EQ(CamerasRequestedByEnvironment(), c.cameras) << c.value;
  }
  unsetenv("ORVANE_SIM_CAMERAS");
  EXPECT_EQ(CamerasRequestedByEnvironment(), 0);
  setenv("ORVANE_SIM_NOISE", "2.5", 1);
  EXPECT_DOUBLE_EQ(NoiseRequestedByEnvironment(), 2.5);
  setenv("ORVANE_SIM_NOISE", "-1", 1);
  EXPECT_EQ(NoiseRequestedByEnvironment(), 0.0);
  unsetenv("ORVANE_SIM_NOISE");
}

TEST(SimEnvironment, FaultsVariableIsReadAndAMalformedOneIsLoggedAndIgnored) {
  std::mutex mutex;
  std::vector<std::string> lines;
  platform::SetDebugSink([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  });
  unsetenv("ORVANE_SIM_FAULTS");
  EXPECT_TRUE(FaultsRequestedByEnvironment().empty());
  setenv("ORVANE_SIM_FAULTS", "unplug@2.5s,header-fail:3", 1);
  EXPECT_EQ(FaultsRequestedByEnvironment().size(), 2u);
  setenv("ORVANE_SIM_FAULTS", "unplug@2.5s,explode", 1);
  EXPECT_TRUE(FaultsRequestedByEnvironment().empty());
  unsetenv("ORVANE_SIM_FAULTS");
  platform::SetDebugSink({});
  bool reported = false;
  for (const std::string& line : lines) reported |= line.find("explode") != std::string::npos;
  EXPECT_TRUE(reported) << "the malformed value is named in the log";
}

TEST(SimEnvironment, LinuxDriverSeesNoCamera) {
  usb::DriverBackend& driver = usb::PlatformDriver();
  EXPECT_TRUE(driver.EnumerateInterfaces(usb::kCameraInterfaceGuid, 32).empty());
  uint32_t error = 0;
  EXPECT_EQ(driver.Open(R"(\\?\usb#vid_04b4&pid_31f0#sim00001#{328184c5-93e6-49b7-94b8-2ada13aabb39})", false,
                        &error),
            nullptr);
}

// The only test of this program that asks for the process's driver: it is chosen once per process.
// The chooser is offered as the device layer offers it before it makes a controller.
TEST(SimEnvironment, ProcessDriverIsTheVirtualBusWhenAsked) {
  usb::OfferDriverChooser(&EnvironmentDriver);
  unsetenv("ORVANE_SIM_CAMERAS");
  EXPECT_EQ(ProcessCameraFaults(1), nullptr) << "no virtual cameras selected";
  setenv("ORVANE_SIM_CAMERAS", "3", 1);
  setenv("ORVANE_SIM_FAULTS", "cam3:fpga-busy", 1);
  usb::DriverBackend& driver = usb::SystemDriver();
  unsetenv("ORVANE_SIM_CAMERAS");
  unsetenv("ORVANE_SIM_FAULTS");
  ASSERT_NE(ActiveProcessBus(), nullptr);
  EXPECT_EQ(&driver, static_cast<usb::DriverBackend*>(ActiveProcessBus()));
  const auto paths = driver.EnumerateInterfaces(usb::kCameraInterfaceGuid, 32);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[2], ActiveProcessBus()->Camera(2).path());
  // The hook reaches the same cameras, and the variable's faults were scheduled on the one chosen.
  EXPECT_EQ(ProcessCameraFaults(3), static_cast<FaultInjection*>(&ActiveProcessBus()->Camera(2)));
  EXPECT_EQ(ProcessCameraFaults(4), nullptr);
  EXPECT_EQ(ActiveProcessBus()->Camera(2).FpgaRegister(2) & 2, 2);
  EXPECT_EQ(ActiveProcessBus()->Camera(0).FpgaRegister(2) & 2, 0);
}

}  // namespace
}  // namespace orvane::sim
