// The exported API of a handle as an application meets it before a camera is connected.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "OrvaneSdk.h"
#include "test_settings.h"
#include "test_window.h"

namespace {

class Handle {
 public:
  explicit Handle(HWND window) : handle_((UseFreshSettingsStore(), Orvane_Initialize(window))) {}
  ~Handle() { Orvane_Release(handle_); }
  int get() const { return handle_; }

 private:
  int handle_;
};

const ORVANE_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const ORVANE_WCHAR*>(s.c_str()); }

// A call's result and the newest code in the handle's history (popped), compared with Failed(code).
std::pair<int, int> Outcome(int handle, int result) { return {result, Orvane_GetLastError(handle)}; }
std::pair<int, int> Failed(int code) { return {0, code}; }

TEST(Exports, DllVersionNeedsNoHandle) { EXPECT_EQ(Orvane_GetDllVersion(), 34604321); }

TEST(Exports, SendTextRecords11AndPostsTheErrorMessage) {
  TestWindow window;
  Handle h(window.handle());
  ASSERT_NE(h.get(), 0);
  EXPECT_EQ(Orvane_SendText(h.get(), "hello"), 0);
  TakenMessage m;
  ASSERT_TRUE(window.Take(&m));
  EXPECT_EQ(m.message, static_cast<unsigned>(ORVANE_WM_ERROR));
  EXPECT_EQ(m.wParam, 0u);
  EXPECT_EQ(m.lParam, 11);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_TRUE(window.Empty());  // popping the history posts nothing
  EXPECT_EQ(Outcome(h.get(), Orvane_ReceiveText(h.get(), nullptr, -5)), Failed(11));  // arguments ignored
}

TEST(Exports, TriggerFamilyPostsNotSupportedWithoutRecording) {
  TestWindow window;
  Handle h(window.handle());
  EXPECT_EQ(Orvane_SetColorMode(h.get(), 12), 0);  // something in the history to keep
  TakenMessage m;
  ASSERT_TRUE(window.Take(&m));
  EXPECT_EQ(m.lParam, 9);
  EXPECT_EQ(Orvane_Fps(h.get()), 0);
  EXPECT_EQ(Orvane_GetHalfClock(h.get()), 0);
  EXPECT_EQ(Orvane_SetCrossbar(h.get(), 1), 0);
  EXPECT_EQ(Orvane_SetHalfClock(h.get(), 1), 0);
  EXPECT_EQ(Orvane_Trigger(h.get()), 0);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(window.Take(&m)) << i;
    EXPECT_EQ(m.message, static_cast<unsigned>(ORVANE_WM_ERROR));
    EXPECT_EQ(m.lParam, 11);
  }
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
}

TEST(Exports, SamplingRateAndVideoFormatAnswerZeroSilently) {
  TestWindow window;
  Handle h(window.handle());
  int rate = 77, format = 77;
  EXPECT_EQ(Orvane_GetSamplingRate(h.get(), &rate), 0);
  EXPECT_EQ(Orvane_GetVideoFormat(h.get(), &format), 0);
  EXPECT_EQ(Orvane_GetVideoFormat(h.get(), nullptr), 0);
  EXPECT_EQ(std::make_pair(rate, format), std::make_pair(0, 0));
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_TRUE(window.Empty());
}

// The history's capacity and ring order are the error history's own unit tests; here each handle
// records the codes of its calls, newest first.
TEST(Exports, HistoryIsAStackOfTheHandlesCodes) {
  TestWindow window;
  Handle h(window.handle());
  EXPECT_EQ(Orvane_SetColorMode(h.get(), 7), 0);  // 9
  EXPECT_EQ(Orvane_SendText(h.get(), "x"), 0);    // 11
  char name[64];
  EXPECT_EQ(Orvane_GetDeviceName(h.get(), 40, name, 64), 0);  // 2: no such camera number
  for (int code : {2, 11, 9, 0}) EXPECT_EQ(Orvane_GetLastError(h.get()), code);
}

TEST(Exports, WithoutNotificationWindowErrorsAreStillRecorded) {
  Handle h(nullptr);
  ASSERT_NE(h.get(), 0);
  EXPECT_EQ(Orvane_SendText(h.get(), "x"), 0);
  EXPECT_EQ(Orvane_SetAutoIris(h.get(), 3), 0);  // notify-only: nowhere to go, nothing recorded
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
}

TEST(Exports, NotifyOnlyFailuresLeaveTheHistory) {
  TestWindow window;
  Handle h(window.handle());
  int ok = 5;
  EXPECT_EQ(Orvane_SetAutoIris(h.get(), 3), 0);
  EXPECT_EQ(Orvane_GetIOPort(h.get(), nullptr), 0);     // 9
  EXPECT_EQ(Orvane_ReadSromID(h.get(), 0x10, &ok), 0);  // no camera: 1
  EXPECT_EQ(ok, 0);
  for (int code : {9, 9, 1}) {
    TakenMessage m;
    ASSERT_TRUE(window.Take(&m));
    EXPECT_EQ(m.lParam, code);
  }
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_EQ(Orvane_SetAutoIris(h.get(), 2), 1);
  EXPECT_EQ(Orvane_GetAutoIris(h.get(), &ok), 2);
  EXPECT_EQ(ok, 1);
}

TEST(Exports, SettingsThatNeedNoCamera) {
  Handle h(nullptr);
  EXPECT_EQ(Orvane_GetColorMode(h.get()), 24);  // a fresh store's colour mode
  EXPECT_EQ(Orvane_GetWaitTime(h.get()), 1);    // and wait time
  EXPECT_EQ(Orvane_SetWaitTime(h.get(), -1), 0);
  EXPECT_EQ(Orvane_GetWaitTime(h.get()), 1);
  EXPECT_EQ(Orvane_SetWaitTime(h.get(), 25), 1);
  EXPECT_EQ(Orvane_GetWaitTime(h.get()), 25);
  EXPECT_EQ(Orvane_SetSubSample(h.get(), 1), 0);
  EXPECT_EQ(Orvane_GetSubSample(h.get()), 0);
  EXPECT_EQ(Orvane_SetSubSample(h.get(), 17), 1);
  EXPECT_EQ(Orvane_GetSubSample(h.get()), 17);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);  // none of the refusals is recorded

  for (int bits : {8, 16, 24, 32, 48, 64}) {
    EXPECT_EQ(Orvane_SetColorMode(h.get(), bits), 1);
    EXPECT_EQ(Orvane_GetColorMode(h.get()), bits);
  }
  EXPECT_EQ(Outcome(h.get(), Orvane_SetColorMode(h.get(), 12)), Failed(9));
  EXPECT_EQ(Orvane_GetColorMode(h.get()), 64);

  EXPECT_EQ(Orvane_Width(h.get()), 4000);
  EXPECT_EQ(Orvane_Height(h.get()), 3000);
  int th = -1, ehs = -1, eh = -1, tv = -1, evs = -1, ev = -1;
  EXPECT_EQ(Orvane_GetCaptureWindowEx(h.get(), &th, &ehs, &eh, &tv, &evs, &ev), 1);
  EXPECT_EQ(std::vector<int>({th, ehs, eh, tv, evs, ev}), std::vector<int>({4000, 0, 4000, 3000, 0, 3000}));
  EXPECT_EQ(Orvane_GetCaptureWindowEx(h.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(Orvane_GetStatus(h.get()), 0);
  EXPECT_EQ(Orvane_GetConfigFilter(h.get()), -1);
  EXPECT_EQ(Orvane_SetConfigFilter(h.get(), 1, 2), -1);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
}

TEST(Exports, WithoutACameraAcquisitionFailsWithError2) {
  Handle h(nullptr);
  int ok = 5;
  EXPECT_EQ(Outcome(h.get(), Orvane_StartPreview(h.get())), Failed(2));
  EXPECT_EQ(Orvane_GetBrightness(h.get(), &ok), 0);  // stored settings still answer
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Orvane_GetGamma(h.get(), &ok), 100);
  // Preview fails to start: the preparation's failure (2) and then the preview failure (8).
  EXPECT_EQ(Outcome(h.get(), Orvane_Preview(h.get())), Failed(8));
  EXPECT_EQ(Orvane_GetLastError(h.get()), 2);
  EXPECT_EQ(Orvane_Close(h.get()), 1);
  unsigned char buffer[16];
  EXPECT_EQ(Outcome(h.get(), Orvane_SnapShot(h.get(), buffer, sizeof(buffer), 1)), Failed(2));
  EXPECT_EQ(Outcome(h.get(), Orvane_SaveImage(h.get(), "never.bmp", ORVANE_FILE_BMP)), Failed(1));  // no frame
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
}

TEST(Exports, BadArgumentsGetError9AndTouchNothing) {
  Handle h(nullptr);
  const int k = h.get();
  char small[19];
  std::memset(small, '#', sizeof(small));
  EXPECT_EQ(Outcome(k, Orvane_GetDeviceName(k, 0, small, 19)), Failed(9));  // cannot hold "OrvaneKD7-USB3-R5_01"
  EXPECT_EQ(small[0], '#');
  char large[256], serial[31];
  unsigned char buffer[16];
  EXPECT_EQ(Outcome(k, Orvane_GetDeviceName(k, 32, large, 256)), Failed(2));
  EXPECT_EQ(Outcome(k, Orvane_GetDeviceName(k, 0, nullptr, 256)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_EnumDevice(k, nullptr)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_ReadSerialNumberA(k, serial, 31)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_ReadSerialNumberA(k, serial, -1)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_CallBackPreview(k, nullptr, buffer, -1, 1)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_CallBackPreview(k, nullptr, nullptr, 100, 1)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_SnapShot(k, nullptr, 100, 1)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_Record(k, "", 1000, 0)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_Record(k, nullptr, 1000, 0)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_SaveImage(k, nullptr, 0)), Failed(9));
  EXPECT_EQ(Outcome(k, Orvane_LoadConfigFileA(k, nullptr)), Failed(9));
  EXPECT_EQ(Orvane_GetLastError(k), 0);
}

TEST(Exports, WideNamesThatCannotBeConvertedAreError12) {
  Handle h(nullptr);
  const std::u16string lone{u'a', char16_t(0xDC00), u'.', u'b'};
  EXPECT_EQ(Orvane_SaveImageW(h.get(), W(lone), 0), 0);
  EXPECT_EQ(Orvane_RecordW(h.get(), W(lone), 100, 0), 0);
  EXPECT_EQ(Orvane_LoadMaskFileW(h.get(), W(lone)), 0);
  EXPECT_EQ(Orvane_SaveMaskFileW(h.get(), W(lone)), 0);
  EXPECT_EQ(Orvane_LoadConfigFileW(h.get(), W(lone)), 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Orvane_GetLastError(h.get()), 12) << i;
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_EQ(Outcome(h.get(), Orvane_SaveImageW(h.get(), nullptr, 0)), Failed(9));
}

TEST(Exports, ReleaseDuringCallsOnOtherThreadsIsSafe) {
  for (int round = 0; round < 20; ++round) {
    int handle = Orvane_Initialize(nullptr);
    ASSERT_NE(handle, 0);
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
      callers.emplace_back([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 200; ++i) {
          Orvane_SendText(handle, "x");
          Orvane_GetLastError(handle);
          Orvane_SetWaitTime(handle, i);
          Orvane_GetColorMode(handle);
        }
      });
    }
    go = true;
    EXPECT_EQ(Orvane_Release(handle), 1);
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(Orvane_GetWaitTime(handle), -1);
  }
}

}  // namespace
