// The exported API of a handle as an application meets it before a camera is connected.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OrvaneSdk.h"
#include "test_settings.h"
#include "test_window.h"

namespace {

class Handle {
 public:
  explicit Handle(HWND window) : handle_((UseFreshSettingsStore(), Orvane_Initialize(window))) {}
  ~Handle() {
    if (handle_ != 0) Orvane_Release(handle_);
  }
  int get() const { return handle_; }
  int release() {
    int result = Orvane_Release(handle_);
    handle_ = 0;
    return result;
  }

 private:
  int handle_;
};

const ORVANE_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const ORVANE_WCHAR*>(s.c_str()); }

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
  EXPECT_EQ(Orvane_ReceiveText(h.get(), nullptr, -5), 0);  // arguments ignored
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
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
  int value = 77;
  EXPECT_EQ(Orvane_GetSamplingRate(h.get(), &value), 0);
  EXPECT_EQ(value, 0);
  value = 77;
  EXPECT_EQ(Orvane_GetVideoFormat(h.get(), &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Orvane_GetVideoFormat(h.get(), nullptr), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_TRUE(window.Empty());
}

TEST(Exports, HistoryIsAStackOfTheTwentyNewestCodes) {
  TestWindow window;
  Handle h(window.handle());
  // 9, 11 and 2 are recorded by calls that need no camera.
  EXPECT_EQ(Orvane_SetColorMode(h.get(), 7), 0);           // 9
  EXPECT_EQ(Orvane_SendText(h.get(), "x"), 0);             // 11
  char name[64];
  EXPECT_EQ(Orvane_GetDeviceName(h.get(), 40, name, 64), 0);  // 2: no such camera number
  EXPECT_EQ(Orvane_GetLastError(h.get()), 2);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);

  EXPECT_EQ(Orvane_SetColorMode(h.get(), 7), 0);  // the oldest: falls out
  for (int i = 0; i < 20; ++i) Orvane_SendText(h.get(), "x");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Orvane_GetLastError(h.get()), 11) << i;
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
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
  EXPECT_EQ(Orvane_SetAutoIris(h.get(), 3), 0);
  TakenMessage m;
  ASSERT_TRUE(window.Take(&m));
  EXPECT_EQ(m.lParam, 9);
  EXPECT_EQ(Orvane_GetIOPort(h.get(), nullptr), 0);  // notify-only 9
  ASSERT_TRUE(window.Take(&m));
  EXPECT_EQ(m.lParam, 9);
  int ok = 5;
  EXPECT_EQ(Orvane_ReadSromID(h.get(), 0x10, &ok), 0);  // no camera: notify-only 1
  EXPECT_EQ(ok, 0);
  ASSERT_TRUE(window.Take(&m));
  EXPECT_EQ(m.lParam, 1);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_EQ(Orvane_SetAutoIris(h.get(), 2), 1);
  ok = 0;
  EXPECT_EQ(Orvane_GetAutoIris(h.get(), &ok), 2);
  EXPECT_EQ(ok, 1);
}

TEST(Exports, ReleaseEndsTheHandle) {
  Handle h(nullptr);
  int handle = h.get();
  EXPECT_EQ(Orvane_GetColorMode(handle), 24);  // a fresh store's colour mode
  EXPECT_EQ(h.release(), 1);
  EXPECT_EQ(Orvane_Release(handle), 0);
  EXPECT_EQ(Orvane_GetColorMode(handle), -1);
}

TEST(Exports, SettingsThatNeedNoCamera) {
  Handle h(nullptr);
  EXPECT_EQ(Orvane_GetWaitTime(h.get()), 1);  // a fresh store's wait time
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
  EXPECT_EQ(Orvane_SetColorMode(h.get(), 12), 0);
  EXPECT_EQ(Orvane_GetColorMode(h.get()), 64);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);

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
  EXPECT_EQ(Orvane_StartPreview(h.get()), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 2);
  EXPECT_EQ(Orvane_GetBrightness(h.get(), &ok), 0);  // stored settings still answer
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Orvane_GetGamma(h.get(), &ok), 100);
  // Preview fails to start: the preparation's failure (2) and then the preview failure (8).
  EXPECT_EQ(Orvane_Preview(h.get()), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 8);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 2);
  EXPECT_EQ(Orvane_Close(h.get()), 1);
  unsigned char buffer[16];
  EXPECT_EQ(Orvane_SnapShot(h.get(), buffer, sizeof(buffer), 1), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 2);
  EXPECT_EQ(Orvane_SaveImage(h.get(), "never.bmp", ORVANE_FILE_BMP), 0);  // no frame yet
  EXPECT_EQ(Orvane_GetLastError(h.get()), 1);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
}

TEST(Exports, BadArgumentsGetError9AndTouchNothing) {
  Handle h(nullptr);
  char small[19];
  std::memset(small, '#', sizeof(small));
  EXPECT_EQ(Orvane_GetDeviceName(h.get(), 0, small, 19), 0);  // cannot hold "OrvaneKD7-USB3-R5_01"
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(small[0], '#');
  char large[256];
  EXPECT_EQ(Orvane_GetDeviceName(h.get(), 32, large, 256), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 2);
  EXPECT_EQ(Orvane_GetDeviceName(h.get(), 0, nullptr, 256), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_EnumDevice(h.get(), nullptr), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  char serial[31];
  EXPECT_EQ(Orvane_ReadSerialNumberA(h.get(), serial, 31), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_ReadSerialNumberA(h.get(), serial, -1), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  unsigned char buffer[16];
  EXPECT_EQ(Orvane_CallBackPreview(h.get(), nullptr, buffer, -1, 1), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_CallBackPreview(h.get(), nullptr, nullptr, 100, 1), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_SnapShot(h.get(), nullptr, 100, 1), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_Record(h.get(), "", 1000, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_Record(h.get(), nullptr, 1000, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_SaveImage(h.get(), nullptr, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_LoadConfigFileA(h.get(), nullptr), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
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
  EXPECT_EQ(Orvane_SaveImageW(h.get(), nullptr, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
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

TEST(Exports, HandlesAreDistinctAndNonZero) {
  std::vector<int> handles;
  for (int i = 0; i < 50; ++i) {
    handles.push_back(Orvane_Initialize(nullptr));
    ASSERT_NE(handles.back(), 0);
  }
  for (size_t i = 0; i < handles.size(); ++i)
    for (size_t j = i + 1; j < handles.size(); ++j) ASSERT_NE(handles[i], handles[j]);
  for (int handle : handles) EXPECT_EQ(Orvane_Release(handle), 1);
}

}  // namespace
