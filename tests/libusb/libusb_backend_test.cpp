// The libusb backend through the controller, against virtual cameras on emulated usbfs: numbering,
// hot-plug notifications, reads that time out or are aborted, and the device's bad answers.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/device_notification.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "returns_within.h"
#include "usb/orv_cy3_cam.h"
#include "usb/posix/libusb_backend.h"
#include "usb_test_bed.h"

namespace {

using orvane::test::ControlFault;
using orvane::test::UsbTestBed;
using namespace std::chrono_literals;

// Lines of the library's log, kept for assertions.
class LogCapture {
 public:
  LogCapture() {
    EXPECT_TRUE(orvane::log::Configure("usb:debug"));
    orvane::platform::SetDebugSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      text_ += line;
    });
  }
  ~LogCapture() { orvane::platform::SetDebugSink({}); }
  bool Contains(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.find(part) != std::string::npos;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

// A controller on a section of its own, so that other programs' cameras do not shift the numbers.
orvane::usb::ControllerOptions PrivateTable() {
  orvane::usb::ControllerOptions options;
  options.sectionName = "orvane-libusb-test-" + std::to_string(getpid());
  return options;
}

// Runs `call` and fails the test if it has not returned within a generous limit: "does not hang".
template <typename F>
auto Returns(F call) {
  return ReturnsWithin(20s, call);
}

// Waits for `condition` with a generous limit.
bool Eventually(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The next device-change event posted to `queue` (0 when none came in time).
uintptr_t NextDeviceChange(HWND queue, std::string* path) {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  while (orvane::platform::GetQueuedMessage(queue, &message, &wParam, &lParam, 20000)) {
    if (message != orvane::platform::kWmDeviceChange) continue;
    *path = reinterpret_cast<const orvane::platform::DeviceInterfaceBroadcast*>(lParam)->name;
    return wParam;
  }
  return 0;
}

int IndexOf(COrvCy3Cam& cam, const std::string& path) {
  for (int i = 0; i < cam.DeviceCount(); ++i) {
    if (cam.GetDeviceEntry(i)->devicePath == path) return i;
  }
  return -1;
}

// Clears CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from this thread's effective set (root ignores file
// modes otherwise), and restores them on destruction.
class NoFileOverride {
 public:
  NoFileOverride() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    syscall(SYS_capset, &header_, reduced);
  }
  ~NoFileOverride() { syscall(SYS_capset, &header_, saved_); }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
};

TEST(LibusbBackend, NoCameraEnumeratesNothingAndSaysWhy) {
  UsbTestBed bed;
  LogCapture log;
  COrvCy3Cam cam(PrivateTable());
  EXPECT_EQ(cam.EnumerateDevices(), 0);
  EXPECT_FALSE(cam.IsDeviceOpenable(0));
  EXPECT_TRUE(log.Contains("no device with product ID 0x31F0 was found"));
}

TEST(LibusbBackend, TwoCamerasKeepTheirNumbersAcrossControllersAndReplug) {
  UsbTestBed bed;
  bed.Plug(2);
  bed.Plug(3);
  HWND queue = orvane::platform::CreateMessageQueue();
  orvane::platform::DeviceNotification notification;
  ASSERT_TRUE(notification.Register(queue, orvane::platform::kCameraInterfaceGuid));

  COrvCy3Cam first(PrivateTable());
  ASSERT_EQ(first.EnumerateDevices(), 2);
  const int a = IndexOf(first, UsbTestBed::PathOf(2));
  const int b = IndexOf(first, UsbTestBed::PathOf(3));
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(std::set<int>({first.GetDeviceEntry(a)->ordinal, first.GetDeviceEntry(b)->ordinal}), std::set<int>({0, 1}));
  EXPECT_EQ(first.GetDeviceEntry(a)->vendorId, orvane::test::kBedVendorId);
  EXPECT_EQ(first.GetDeviceEntry(a)->productId, 0x31F0);

  bed.Unplug(2);
  std::string path;
  EXPECT_EQ(NextDeviceChange(queue, &path), orvane::platform::kDbtDeviceRemoveComplete);
  EXPECT_EQ(path, UsbTestBed::PathOf(2));
  EXPECT_FALSE(first.IsDeviceOpenable(a));
  bed.Replug(2);  // under a new device address, into the same port
  EXPECT_EQ(NextDeviceChange(queue, &path), orvane::platform::kDbtDeviceArrival);
  EXPECT_EQ(path, UsbTestBed::PathOf(2));

  COrvCy3Cam second(PrivateTable());
  EXPECT_EQ(second.EnumerateDevices(), 2);
  EXPECT_EQ(IndexOf(second, UsbTestBed::PathOf(2)), a);
  EXPECT_EQ(IndexOf(second, UsbTestBed::PathOf(3)), b);
  ASSERT_TRUE(second.SelectDevice(a));
  uint8_t info[64] = {};
  EXPECT_TRUE(second.ReadControllerInfo(info));
  orvane::platform::DestroyMessageQueue(queue);
}

class OneCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    bed_.Plug(2);
    bed_.Plug(3);
    ASSERT_EQ(cam_.EnumerateDevices(), 2);
    index_ = IndexOf(cam_, UsbTestBed::PathOf(2));
    ASSERT_TRUE(cam_.SelectDevice(index_));
  }
  // The camera still answers and the other one still opens: nothing was left behind.
  void ExpectRecovered() {
    uint8_t level = 0;
    EXPECT_TRUE(Returns([&] { return cam_.ReadGpio25(&level); }));
    EXPECT_EQ(cam_.EnumerateDevices(), 2);
    EXPECT_TRUE(cam_.IsDeviceOpenable(IndexOf(cam_, UsbTestBed::PathOf(3))));
  }

  UsbTestBed bed_;
  COrvCy3Cam cam_{PrivateTable()};
  int index_ = -1;
};

TEST_F(OneCamera, OpenRequestsAndSpeed) {
  uint8_t info[64] = {};
  ASSERT_TRUE(cam_.ReadControllerInfo(info));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info), 14), "FX3 ORVANE-SIM");
  uint32_t speed = 0;
  EXPECT_TRUE(cam_.GetLinkSpeed(&speed));
  EXPECT_EQ(speed, 4u);
  EXPECT_TRUE(cam_.PrepareStreaming());
  EXPECT_TRUE(cam_.ResetPipe(0x81));
  uint8_t serial[8] = {};
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(cam_.EepromRead(static_cast<uint16_t>(0x1040 + i), &serial[i]));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), 8), "UMD00002");
}

TEST_F(OneCamera, ReadThatTimesOutAndReadThatIsAbortedGiveTheBufferBack) {
  ASSERT_TRUE(cam_.PrepareStreaming());
  auto handle = cam_.OpenDeviceHandle(index_, true);
  ASSERT_TRUE(handle);
  std::vector<uint8_t> buffer(512 * 1024);
  uint32_t count = 0;
  // Not armed: the camera sends nothing.
  EXPECT_FALSE(Returns([&] { return cam_.DirectBulkTransfer(handle.get(), buffer.data(), buffer.size(), 0x81, &count, 200); }));
  EXPECT_EQ(cam_.LastDriverError(), orvane::usb::kErrorIoPending);
  EXPECT_EQ(bed_.UrbsInFlight(2), 0u);
  EXPECT_EQ(bed_.DiscardedUrbs(2), 1u);

  auto read = std::async(std::launch::async, [&] {
    return cam_.DirectBulkTransfer(handle.get(), buffer.data(), buffer.size(), 0x81, &count, orvane::usb::kInfinite);
  });
  ASSERT_TRUE(Eventually([&] { return bed_.UrbsInFlight(2) == 1; }));
  uint8_t endpoint = 0x81;
  EXPECT_EQ(handle->Control(orvane::usb::IoCode::kAbortPipe, &endpoint, 1, nullptr, 0).error, 0u);
  ASSERT_EQ(read.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(read.get());
  EXPECT_EQ(bed_.UrbsInFlight(2), 0u);
  EXPECT_EQ(bed_.DiscardedUrbs(2), 2u);
  handle.reset();
  ExpectRecovered();
}

TEST_F(OneCamera, StalledShortAndOversizedRepliesFailCleanly) {
  struct Case {
    ControlFault fault;
    bool callSucceeds;  // a short reply is delivered: the caller sees the count
  };
  for (Case c : {Case{ControlFault::kStall, false}, Case{ControlFault::kOversized, false}, Case{ControlFault::kShort, true}}) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    bed_.SetControlFault(2, c.fault, 1);
    uint8_t info[64];
    std::memset(info, 0xEE, sizeof(info));
    EXPECT_EQ(Returns([&] { return cam_.ReadControllerInfo(info); }), c.callSucceeds);
    EXPECT_EQ(info[0], 0xEE) << "a bad reply must not reach the caller's block";
    ExpectRecovered();
  }
}

TEST_F(OneCamera, VanishedDeniedAndBusyCamerasAreRefusedWithAClearCode) {
  LogCapture log;
  const std::string path = UsbTestBed::PathOf(2);
  orvane::usb::DriverBackend& driver = orvane::usb::PlatformDriver();
  uint32_t error = 0;

  bed_.BindKernelDriver(2, true);
  EXPECT_FALSE(driver.Open(path, true, &error));
  EXPECT_EQ(error, 170u);  // ERROR_BUSY
  EXPECT_TRUE(log.Contains("kernel driver"));
  bed_.BindKernelDriver(2, false);
  ExpectRecovered();

  bed_.DenyAccess(2);
  {
    NoFileOverride asUser;
    EXPECT_FALSE(driver.Open(path, false, &error));
  }
  EXPECT_EQ(error, 5u);  // ERROR_ACCESS_DENIED
  EXPECT_TRUE(log.Contains("70-orvane-kd7.rules"));

  bed_.Unplug(2);  // enumerated, then gone before the open
  EXPECT_FALSE(Returns([&] { return cam_.SelectDevice(index_); }));
  EXPECT_FALSE(driver.Open(path, false, &error));
  EXPECT_EQ(error, orvane::usb::kErrorFileNotFound);
  EXPECT_EQ(cam_.EnumerateDevices(), 2);
  EXPECT_TRUE(cam_.IsDeviceOpenable(IndexOf(cam_, UsbTestBed::PathOf(3))));
}

TEST(LibusbPaths, ExtraIdsAndInstanceNames) {
  using orvane::usb::posix::IdPair;
  EXPECT_EQ(orvane::usb::posix::ParseExtraIds("1209:0001,zz:1,04b4:00f3,12345:1,"),
            (std::vector<IdPair>{{0x1209, 0x0001}, {0x04B4, 0x00F3}}));
  EXPECT_TRUE(orvane::usb::posix::ParseExtraIds(nullptr).empty());
  const uint8_t ports[] = {2, 4};
  const std::string path = orvane::usb::posix::DevicePathOf(0x04B4, 0x31F0, 3, ports, 2);
  EXPECT_EQ(path, "\\\\?\\usb#vid_04b4&pid_31f0#3-2.4#{328184c5-93e6-49b7-94b8-2ada13aabb39}");
  const orvane::usb::PathIds ids = orvane::usb::ParseDevicePath(path);
  EXPECT_EQ(ids.vendorId, 0x04B4);
  EXPECT_EQ(ids.productId, 0x31F0);
}

}  // namespace
