// An application that loads the DLL at run time, as many camera applications do: every export is
// found by its plain name, and the instance calls and the error message work with a real window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "OrvaneSdk.h"

namespace {

const char* const kDefExports[] = {
#include "def_exports.inc"
};

const char* const kDefExtensionExports[] = {
#include "def_extension_exports.inc"
};

class Dll : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA("OrvaneSdk_KD7_USB3_R5.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  template <typename F>
  F Get(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  HMODULE module_ = nullptr;
};

// Takes the next SDK message for `window` (null: the thread's own queue) within a few seconds.
bool TakeMessage(HWND window, MSG* msg) {
  for (int i = 0; i < 200; ++i) {
    while (PeekMessageA(msg, window, 0, 0, PM_REMOVE)) {
      if (msg->message >= WM_APP) return true;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 25, QS_ALLINPUT);
  }
  return false;
}

TEST_F(Dll, EveryExportIsFoundByItsPlainName) {
  ASSERT_EQ(std::size(kDefExports), 149u);
  for (const char* name : kDefExports) EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
  EXPECT_EQ(GetProcAddress(module_, "Orvane_CreateMessageQueue"), nullptr);  // Linux only
}

TEST_F(Dll, EveryExtensionIsFoundByItsPlainNameAndAnswersWithoutACamera) {
  ASSERT_EQ(std::size(kDefExtensionExports), 5u);
  for (const char* name : kDefExtensionExports) EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
  auto errorName = Get<const char*(WINAPI*)(int)>("OrvaneEx_GetErrorName");
  auto queueFd = Get<int(WINAPI*)(HWND)>("OrvaneEx_GetMessageQueueFd");
  auto stats = Get<int(WINAPI*)(int, void*)>("OrvaneEx_GetStreamStats");
  ASSERT_TRUE(errorName && queueFd && stats);
  EXPECT_STREQ(errorName(13), "ORVANE_ERR_STREAM");
  EXPECT_STREQ(errorName(-3), "unknown");
  EXPECT_EQ(queueFd(nullptr), -1);
  EXPECT_EQ(stats(0, nullptr), 0);  // no such handle
}

TEST_F(Dll, InstanceCallsAndErrorMessagesWithARealWindow) {
  auto version = Get<int(WINAPI*)()>("Orvane_GetDllVersion");
  auto initialize = Get<int(WINAPI*)(HWND)>("Orvane_Initialize");
  auto release = Get<int(WINAPI*)(int)>("Orvane_Release");
  auto lastError = Get<int(WINAPI*)(int)>("Orvane_GetLastError");
  auto sendText = Get<int(WINAPI*)(int, const char*)>("Orvane_SendText");
  auto trigger = Get<int(WINAPI*)(int)>("Orvane_Trigger");
  ASSERT_TRUE(version && initialize && release && lastError && sendText && trigger);
  EXPECT_EQ(version(), 34604321);

  HWND window = CreateWindowExA(0, "STATIC", "notify", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  int handle = initialize(window);
  ASSERT_NE(handle, 0);

  MSG msg;
  EXPECT_EQ(sendText(handle, "text"), 0);
  EXPECT_EQ(lastError(handle), 11);
  ASSERT_TRUE(TakeMessage(window, &msg));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 3));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(msg.lParam, 11);

  EXPECT_EQ(trigger(handle), 0);
  ASSERT_TRUE(TakeMessage(window, &msg));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 3));
  EXPECT_EQ(msg.lParam, 11);
  EXPECT_EQ(lastError(handle), 0);  // posted only

  EXPECT_EQ(release(handle), 1);
  EXPECT_EQ(release(handle), 0);
  DestroyWindow(window);
}

TEST_F(Dll, NotifyOnlyWithoutAWindowGoesToTheCallingThreadsQueue) {
  auto initialize = Get<int(WINAPI*)(HWND)>("Orvane_Initialize");
  auto release = Get<int(WINAPI*)(int)>("Orvane_Release");
  auto trigger = Get<int(WINAPI*)(int)>("Orvane_Trigger");
  int handle = initialize(nullptr);
  ASSERT_NE(handle, 0);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make sure this thread has a queue
  EXPECT_EQ(trigger(handle), 0);
  ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), WM_APP + 3, WM_APP + 3, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.lParam, 11);
  EXPECT_EQ(release(handle), 1);
}

}  // namespace
