// The SDK's exports on the libusb backend, against a virtual camera on emulated usbfs: the open
// sequence, previews at 8 and 16 bits, unplug during preview and replug.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "returns_within.h"
#include "test_settings.h"
#include "test_window.h"
#include "usb_test_bed.h"

namespace {

using orvane::test::UsbTestBed;
using namespace std::chrono_literals;

constexpr unsigned kWmDeviceChange = 0x0219;
constexpr uintptr_t kDbtDeviceArrival = 0x8000;
constexpr int kReducedMode = 17;  // 2048 x 1080: a frame is still several 512 KiB pieces

// Every export must return within 2 s of a fault; the watchdog is generous so a loaded machine never
// trips it, and a hang still ends the test.
template <typename F>
int Returns(F call) {
  return ReturnsWithin(30s, call);
}

class SdkOnLibusb : public ::testing::Test {
 protected:
  void SetUp() override {
    UseFreshSettingsStore();
    bed_.Plug(2);
    handle_ = Orvane_Initialize(window_.handle());
    ASSERT_NE(handle_, 0);
    // Other programs' cameras may hold the first numbers of the machine's table: choose ours.
    ASSERT_EQ(Orvane_SetDeviceNumber(handle_, Number()), 1);
    ASSERT_EQ(Orvane_SetPreviewWindow(handle_, nullptr, 0, 0, 0, 0), 1);
    ASSERT_EQ(Orvane_SetSubSample(handle_, kReducedMode), 1);
    while (Orvane_GetLastError(handle_) != 0) {
    }
  }
  void TearDown() override { EXPECT_EQ(Returns([&] { return Orvane_Release(handle_); }), 1); }

  // The camera's number: the only table entry this process can open.
  int Number() {
    char name[64];
    for (int n = 0; n < 32; ++n) {
      if (Orvane_GetDeviceName(handle_, n, name, sizeof(name)) == 1) return n;
    }
    return -1;
  }

  // The next message `message` (skipping others); false when none came within a generous limit.
  bool Next(unsigned message, TakenMessage* m) {
    while (window_.Take(m, 30000)) {
      if (m->message == message) return true;
    }
    return false;
  }

  // Previews `frames` frames into the application's buffer.
  void Preview(int bits, int frames) {
    SCOPED_TRACE(bits);
    ASSERT_EQ(Orvane_SetColorMode(handle_, bits), 1);
    std::vector<unsigned char> buffer(2048 * 1080 * 2);
    ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
    for (int i = 0; i < frames; ++i) {
      TakenMessage m;
      ASSERT_TRUE(Next(ORVANE_WM_FRAME, &m)) << "frame " << i;
      ASSERT_NE(m.wParam, 0u) << "frame " << i << " failed with " << m.lParam;
      // The SDK publishes the record's fields atomically.
      auto* info = reinterpret_cast<OrvaneFrameInfo*>(m.wParam);
      EXPECT_EQ(std::atomic_ref<unsigned char*>(info->buffer).load(), buffer.data());
    }
    EXPECT_EQ(Orvane_StopPreview(handle_), 1);
    // The scene has bright patches: the frame is not left blank.
    EXPECT_NE(std::count(buffer.begin(), buffer.begin() + 2048 * 1080 * bits / 8, 0), 2048 * 1080 * bits / 8);
  }

  UsbTestBed bed_;
  TestWindow window_;
  int handle_ = 0;
};

TEST_F(SdkOnLibusb, OpenSequenceFindsTheCamera) {
  char serial[32] = {};
  EXPECT_EQ(Orvane_ReadSerialNumberA(handle_, serial, sizeof(serial)), 1);
  EXPECT_STREQ(serial, "UMD00002");
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

TEST_F(SdkOnLibusb, HundredFramesAt8And16Bits) {
  Preview(8, 100);
  Preview(16, 100);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

TEST_F(SdkOnLibusb, UnplugDuringPreviewEndsTheStreamAndReplugKeepsTheNumber) {
  const int number = Number();
  ASSERT_GE(number, 0);
  Preview(8, 3);
  std::vector<unsigned char> buffer(2048 * 1080);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  TakenMessage m;
  ASSERT_TRUE(Next(ORVANE_WM_FRAME, &m));

  bed_.Unplug(2);
  do {
    ASSERT_TRUE(Next(ORVANE_WM_FRAME, &m)) << "no failure message after the unplug";
  } while (m.wParam != 0);
  EXPECT_EQ(m.lParam, ORVANE_ERR_STREAM);
  EXPECT_EQ(Returns([&] { return Orvane_StopPreview(handle_); }), 1);
  EXPECT_EQ(Returns([&] { return Orvane_SetDeviceNumber(handle_, number); }), 0);
  EXPECT_NE(Orvane_GetLastError(handle_), 0);

  bed_.Replug(2);
  do {
    ASSERT_TRUE(Next(kWmDeviceChange, &m)) << "no arrival";
  } while (m.wParam != kDbtDeviceArrival);
  EXPECT_EQ(Number(), number);
  ASSERT_EQ(Returns([&] { return Orvane_SetDeviceNumber(handle_, number); }), 1);
  Preview(8, 3);
}

}  // namespace
