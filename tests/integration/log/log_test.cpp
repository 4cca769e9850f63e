// The logging facility against real threads and the device layer with the virtual camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "../sim_device.h"
#include "device/orvane_device.h"
#include "platform/debug_output.h"
#include "platform/log.h"
#include "platform/time.h"
#include "sim/virtual_bus.h"

namespace {

namespace olog = orvane::log;
using olog::Category;
using olog::Level;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::filesystem::path TempLogPath(const char* stem) {
  return std::filesystem::temp_directory_path() /
         (std::string(stem) + "-" + std::to_string(std::random_device{}()) + ".log");
}

// Every test leaves the thresholds as the library starts: errors only, no file.
class LogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ASSERT_TRUE(olog::Configure("error:"));  // also closes the file, which Windows cannot remove while open
    orvane::platform::SetDebugSink({});
  }
};

struct SpecCase {
  const char* setting;
  bool accepted;
  Level usb;  // the usb threshold afterwards (unchanged from "warn" when refused)
  Level image;
};

TEST_F(LogTest, SpecificationsSetEachCategoryOrAreRefusedWhole) {
  const SpecCase cases[] = {
      {"debug", true, Level::kDebug, Level::kDebug},
      {"info", true, Level::kInfo, Level::kInfo},
      {"off", true, Level::kOff, Level::kOff},
      {"usb:debug,image:error", true, Level::kDebug, Level::kError},
      {"usb:debug", true, Level::kDebug, Level::kWarn},
      {"error,usb:info", true, Level::kInfo, Level::kError},
      {"usb:loud", false, Level::kWarn, Level::kWarn},
      {"camera:debug", false, Level::kWarn, Level::kWarn},
      {"usb:debug,bogus", false, Level::kWarn, Level::kWarn},
      {"", false, Level::kWarn, Level::kWarn},
      {"DEBUG", false, Level::kWarn, Level::kWarn},
  };
  for (const SpecCase& c : cases) {
    SCOPED_TRACE(c.setting);
    ASSERT_TRUE(olog::Configure("warn"));
    EXPECT_EQ(olog::Configure(c.setting), c.accepted);
    for (Level level : {Level::kError, Level::kWarn, Level::kInfo, Level::kDebug}) {
      EXPECT_EQ(olog::Enabled(Category::kUsb, level), level <= c.usb) << olog::Name(level);
      EXPECT_EQ(olog::Enabled(Category::kImage, level), level <= c.image) << olog::Name(level);
    }
  }
}

TEST_F(LogTest, DisabledLevelEvaluatesNoArgumentAndEnabledOnesReachSinkAndFile) {
  const std::filesystem::path path = TempLogPath("orvane-log-levels");
  ASSERT_TRUE(olog::Configure(("info:" + path.string()).c_str()));
  std::atomic<int> lines{0};
  orvane::platform::SetDebugSink([&lines](const std::string&) { ++lines; });
  int evaluated = 0;
  ORVANE_LOG(kUsb, kDebug, "never formatted %d", ++evaluated);
  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(lines.load(), 0);
  ORVANE_LOG(kUsb, kInfo, "formatted %d", ++evaluated);
  EXPECT_EQ(evaluated, 1);
  EXPECT_EQ(lines.load(), 1);
  // A later per-category item names another file: the lines go there from then on.
  const std::filesystem::path second = TempLogPath("orvane-log-second");
  ASSERT_TRUE(olog::Configure(("off,sdk:warn:" + second.string()).c_str()));
  ORVANE_LOG(kUsb, kInfo, "now off");
  ORVANE_LOG(kSdk, kWarn, "to the second file");
  EXPECT_EQ(ReadFile(second).find("now off"), std::string::npos);
  EXPECT_NE(ReadFile(second).find("orvane warn sdk"), std::string::npos);
  ASSERT_TRUE(olog::Configure(("info:" + path.string()).c_str()));
  std::filesystem::remove(second);
  // A line longer than the line buffer is cut, never overrun.
  const std::string longText(5000, 'x');
  ORVANE_LOG(kSdk, kWarn, "%s", longText.c_str());
  ASSERT_TRUE(olog::Configure("error:"));
  ORVANE_LOG(kSdk, kError, "after the file was closed");
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.find("after the file was closed"), std::string::npos);
  EXPECT_NE(text.find("orvane info usb +"), std::string::npos) << text;
  EXPECT_NE(text.find(": formatted 1\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("never formatted"), std::string::npos);
  EXPECT_NE(text.find("orvane warn sdk"), std::string::npos);
  std::filesystem::remove(path);
}

TEST_F(LogTest, ExportScopesNestAndEndOnTheirThread) {
  EXPECT_STREQ(olog::CurrentExport(), "a library thread");
  {
    olog::ExportScope outer("Orvane_SetDeviceNumber");
    {
      olog::ExportScope inner("Orvane_Release");
      EXPECT_STREQ(olog::CurrentExport(), "Orvane_Release");
    }
    EXPECT_STREQ(olog::CurrentExport(), "Orvane_SetDeviceNumber");
    const char* onOtherThread = nullptr;
    std::thread([&onOtherThread] { onOtherThread = olog::CurrentExport(); }).join();
    EXPECT_STREQ(onOtherThread, "a library thread");
  }
  EXPECT_STREQ(olog::CurrentExport(), "a library thread");
}

// The device layer opens the virtual camera and streams through failed frame headers: the debug log
// holds the open sequence step by step and every failed and retried transfer.
TEST_F(LogTest, DebugLogHoldsTheOpenSequenceAndForcedTransferFailures) {
  const std::filesystem::path path = TempLogPath("orvane-log-device");
  ASSERT_TRUE(olog::Configure(("debug:" + path.string()).c_str()));
  std::unique_ptr<orvane::sim::VirtualBus> bus;
  std::unique_ptr<COrvaneUSB3R5SimpleSdk> device;
  ASSERT_NO_FATAL_FAILURE(OpenSimDevice("OrvaneLogTest-", &bus, &device));

  // 20 failed headers: the controller's own attempts all fail once, the device layer re-arms.
  bus->Camera(0).FailHeaders(20);
  ASSERT_EQ(device->StartTransfer(1), 1);
  int waited = COrvaneR3O5Base::kWaitNoFrame;
  for (int i = 0; i < 20 && waited == COrvaneR3O5Base::kWaitNoFrame; ++i) waited = device->WaitFrame(5000);
  EXPECT_EQ(waited, COrvaneR3O5Base::kWaitNewFrame);
  device->StopTransfer(0);
  device.reset();
  bus.reset();
  ASSERT_TRUE(olog::Configure("error:"));

  const std::string text = ReadFile(path);
  const char* expected[] = {
      "orvane info device",  "open camera 0",        "open: camera 0 is device table entry",
      "open: controller info read, firmware 0x", "open: checking the sensor", "open camera 0: ready",
      "orvane debug usb",    "frame header attempt 1 of", "failed, retrying",
      "orvane warn usb",     "frame header read failed", "orvane warn device", "frame transfer failed (attempt 1 of",
  };
  for (const char* line : expected) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  // The open sequence comes before the first failure.
  EXPECT_LT(text.find("open camera 0: ready"), text.find("frame header attempt 1 of"));
  std::filesystem::remove(path);
}

}  // namespace
