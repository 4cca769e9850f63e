// The exported API of a handle as an application meets it before a camera is connected.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
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

TEST(Exports, NotificationsAndTheHistoryOfAHandle) {
  TestWindow window;
  Handle h(window.handle());
  ASSERT_NE(h.get(), 0);
  EXPECT_EQ(Orvane_SendText(h.get(), "hello"), 0);
  TakenMessage m;
  ASSERT_TRUE(window.Take(&m));
  EXPECT_EQ(std::make_tuple(m.message, m.wParam, m.lParam),
            std::make_tuple(static_cast<unsigned>(ORVANE_WM_ERROR), uintptr_t{0}, intptr_t{11}));
  EXPECT_EQ(Orvane_GetLastError(h.get()), 11);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
  EXPECT_TRUE(window.Empty());  // popping the history posts nothing

  // Recorded and posted: 9. Posted only: the trigger family (11) and the notify-only failures.
  EXPECT_EQ(Orvane_SetColorMode(h.get(), 12), 0);
  int ok = 5;
  EXPECT_EQ(Orvane_Fps(h.get()), 0);
  EXPECT_EQ(Orvane_GetHalfClock(h.get()), 0);
  EXPECT_EQ(Orvane_SetCrossbar(h.get(), 1), 0);
  EXPECT_EQ(Orvane_SetHalfClock(h.get(), 1), 0);
  EXPECT_EQ(Orvane_Trigger(h.get()), 0);
  EXPECT_EQ(Orvane_SetAutoIris(h.get(), 3), 0);
  EXPECT_EQ(Orvane_GetIOPort(h.get(), nullptr), 0);
  EXPECT_EQ(Orvane_ReadSromID(h.get(), 0x10, &ok), 0);  // no camera: 1
  EXPECT_EQ(ok, 0);
  for (int code : {9, 11, 11, 11, 11, 11, 9, 9, 1}) {
    ASSERT_TRUE(window.Take(&m)) << code;
    EXPECT_EQ(m.message, static_cast<unsigned>(ORVANE_WM_ERROR));
    EXPECT_EQ(m.lParam, code);
  }
  EXPECT_EQ(Orvane_GetLastError(h.get()), 9);
  EXPECT_EQ(Orvane_GetLastError(h.get()), 0);
}

#ifndef _WIN32
// No windowing system is assumed on Linux: the three settings dialogs answer error 11 and change
// nothing.
TEST(Exports, SettingsDialogsAnswerNotSupportedOnLinux) {
  Handle h(nullptr);
  const int k = h.get();
  ASSERT_EQ(Orvane_SetBrightness(k, 12), 1);
  EXPECT_EQ(Outcome(k, Orvane_SetCameraDlg(k, nullptr)), Failed(11));
  EXPECT_EQ(Outcome(k, Orvane_SetAnalogDlg(k, nullptr)), Failed(11));
  EXPECT_EQ(Outcome(k, Orvane_SetImageDlg(k, nullptr)), Failed(11));
  int ok = 0;
  EXPECT_EQ(Orvane_GetBrightness(k, &ok), 12);
}
#endif

TEST(Exports, BadArgumentsAndMissingCameraFailAndTouchNothing) {
  Handle h(nullptr);
  const int k = h.get();
  char small[19];
  std::memset(small, '#', sizeof(small));
  EXPECT_EQ(Outcome(k, Orvane_GetDeviceName(k, 0, small, 19)), Failed(9));  // cannot hold "OrvaneKD7-USB3-R5_01"
  EXPECT_EQ(small[0], '#');
  char large[256], serial[31];
  unsigned char buffer[16];
  const std::u16string lone{u'a', char16_t(0xDC00), u'.', u'b'};
  const std::pair<int, int> cases[] = {
      Outcome(k, Orvane_GetDeviceName(k, 32, large, 256)), Failed(2),
      Outcome(k, Orvane_GetDeviceName(k, 0, nullptr, 256)), Failed(9),
      Outcome(k, Orvane_EnumDevice(k, nullptr)), Failed(9),
      Outcome(k, Orvane_ReadSerialNumberA(k, serial, 31)), Failed(9),
      Outcome(k, Orvane_ReadSerialNumberA(k, serial, -1)), Failed(9),
      Outcome(k, Orvane_CallBackPreview(k, nullptr, buffer, -1, 1)), Failed(9),
      Outcome(k, Orvane_CallBackPreview(k, nullptr, nullptr, 100, 1)), Failed(9),
      Outcome(k, Orvane_SnapShot(k, nullptr, 100, 1)), Failed(9),
      Outcome(k, Orvane_Record(k, "", 1000, 0)), Failed(9),
      Outcome(k, Orvane_Record(k, nullptr, 1000, 0)), Failed(9),
      Outcome(k, Orvane_SaveImage(k, nullptr, 0)), Failed(9),
      Outcome(k, Orvane_LoadConfigFileA(k, nullptr)), Failed(9),
      Outcome(k, Orvane_SaveImageW(k, nullptr, 0)), Failed(9),
      Outcome(k, Orvane_SaveImageW(k, W(lone), 0)), Failed(12),  // wide names that cannot be converted
      Outcome(k, Orvane_RecordW(k, W(lone), 100, 0)), Failed(12),
      Outcome(k, Orvane_LoadMaskFileW(k, W(lone))), Failed(12),
      Outcome(k, Orvane_SaveMaskFileW(k, W(lone))), Failed(12),
      Outcome(k, Orvane_LoadConfigFileW(k, W(lone))), Failed(12),
      Outcome(k, Orvane_StartPreview(k)), Failed(2),
      Outcome(k, Orvane_SnapShot(k, buffer, sizeof(buffer), 1)), Failed(2),
      Outcome(k, Orvane_SaveImage(k, "never.bmp", ORVANE_FILE_BMP)), Failed(1),  // no frame
      Outcome(k, Orvane_Preview(k)), Failed(8),  // after the preparation's failure, 2
      Outcome(k, 0), Failed(2),
  };
  for (size_t i = 0; i < std::size(cases); i += 2) EXPECT_EQ(cases[i], cases[i + 1]) << "row " << i / 2;
  EXPECT_EQ(Orvane_GetLastError(k), 0);
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
