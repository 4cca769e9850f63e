// Drives the SDK's settings dialogs as a user would, from a second thread of the test program: the
// dialog runs modally on the test's own thread (inside the Orvane_Set*Dlg call), and the driver
// finds it among that thread's windows and works its controls with the messages that mouse and
// keyboard would produce. Every message is sent, not posted, so it has been handled when the call
// returns and the settings can be checked at once.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "ui/win32/dialog_ids.h"

namespace dialog_test {

// Limit of every wait for something the dialog or the stream does (generous: a loaded machine).
constexpr DWORD kWaitLimitMs = 60000;

// Waits until `done` holds, checking every few milliseconds; false when the limit passed first.
inline bool WaitFor(const std::function<bool()>& done, DWORD limitMs = kWaitLimitMs) {
  for (DWORD start = GetTickCount(); !done();) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(10);
  }
  return true;
}

// The visible dialog frame among the windows of thread `thread`.
inline HWND FindDialog(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM param) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The control `id` anywhere inside the dialog (its pages are child dialogs).
inline HWND Control(HWND dialog, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      dialog,
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (GetDlgCtrlID(window) != s->id) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline std::wstring Text(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

// The key presses a user makes on a focused trackbar: Page Down moves it one page to the right.
inline void PageRight(HWND dialog, int tripleBase) {
  HWND trackbar = Control(dialog, tripleBase + TRIPLE_TRACKBAR);
  ASSERT_NE(trackbar, nullptr) << tripleBase;
  SendMessageW(trackbar, WM_KEYDOWN, VK_NEXT, 0);
  SendMessageW(trackbar, WM_KEYUP, VK_NEXT, 0);
}

inline int TrackbarPos(HWND dialog, int tripleBase) {
  return static_cast<int>(SendMessageW(Control(dialog, tripleBase + TRIPLE_TRACKBAR), TBM_GETPOS, 0, 0));
}

inline std::wstring EditText(HWND dialog, int tripleBase) { return Text(Control(dialog, tripleBase + TRIPLE_EDIT)); }

inline void Type(HWND dialog, int id, const wchar_t* text) {
  HWND edit = Control(dialog, id);
  ASSERT_NE(edit, nullptr) << id;
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

inline void Click(HWND dialog, int id) {
  HWND button = Control(dialog, id);
  ASSERT_NE(button, nullptr) << id;
  SendMessageW(button, BM_CLICK, 0, 0);
}

inline bool IsChecked(HWND dialog, int id) { return SendMessageW(Control(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Chooses list entry `index` as a user does: the selection, then its notification to the page.
inline void Choose(HWND dialog, int id, int index) {
  HWND list = Control(dialog, id);
  ASSERT_NE(list, nullptr) << id;
  SendMessageW(list, CB_SETCURSEL, index, 0);
  SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// The index of the list entry with text `text`, or -1.
inline int FindEntry(HWND dialog, int id, const wchar_t* text) {
  return static_cast<int>(SendMessageW(Control(dialog, id), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text)));
}

inline std::wstring TabText(HWND dialog, int index) {
  wchar_t text[64] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = text;
  item.cchTextMax = 64;
  SendMessageW(Control(dialog, IDC_TAB), TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item));
  return text;
}

// Runs `open` (an Orvane_Set*Dlg call) on this thread while `drive` works the dialog from a second
// thread. `drive` ends the dialog; if it returns with the dialog still open (a failed assertion),
// the dialog is cancelled so the test goes on. Returns what `open` returned.
inline int RunDialog(const std::function<int()>& open, const std::function<void(HWND)>& drive) {
  const DWORD thread = GetCurrentThreadId();
  std::thread driver([&] {
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindDialog(thread)) != nullptr; })) {
      ADD_FAILURE() << "the dialog did not open";
      return;
    }
    drive(dialog);
    if (IsWindow(dialog)) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  const int result = open();
  driver.join();
  return result;
}

}  // namespace dialog_test
