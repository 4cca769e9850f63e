// Opens the SDK's three settings dialogs one after the other against the virtual camera, as an
// application does, while a second thread plays the user: it moves a few controls, announces the
// dialog's place on the screen so that a screenshot can be taken, waits for the go-ahead, and
// cancels. Used by `scripts/demo --windows --dialogs`.
//
//   orvane_dialogs_demo.exe        prints "SHOT <name> <x> <y> <width> <height>" per dialog on stdout
//                                  and reads one line from stdin before it cancels the dialog
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <thread>
#include <vector>

#include "OrvaneSdk.h"

namespace {

// The visible top-level dialog of thread `thread`, waited for up to a minute.
HWND WaitForDialog(DWORD thread) {
  for (int tries = 0; tries < 6000; ++tries) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM param) -> BOOL {
          wchar_t name[16] = {};
          GetClassNameW(window, name, 16);
          if (std::wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
          *reinterpret_cast<HWND*>(param) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) return found;
    Sleep(10);
  }
  return nullptr;
}

// The visible, enabled controls of class `className` inside the dialog, in window order.
std::vector<HWND> Controls(HWND dialog, const wchar_t* className) {
  struct Search {
    const wchar_t* className;
    std::vector<HWND> found;
  } search{className, {}};
  EnumChildWindows(
      dialog,
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (_wcsicmp(name, s->className) == 0 && IsWindowVisible(window) && IsWindowEnabled(window)) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// What a user would do first: move some trackbars a page or two, pick another list entry.
void PlayWith(HWND dialog) {
  std::vector<HWND> trackbars = Controls(dialog, TRACKBAR_CLASSW);
  for (size_t i = 0; i < trackbars.size() && i < 4; ++i) {
    for (size_t n = 0; n <= i % 2; ++n) {
      SendMessageW(trackbars[i], WM_KEYDOWN, VK_NEXT, 0);
      SendMessageW(trackbars[i], WM_KEYUP, VK_NEXT, 0);
    }
  }
  std::vector<HWND> lists = Controls(dialog, WC_COMBOBOXW);
  if (!lists.empty()) {
    SendMessageW(lists[0], CB_SETCURSEL, 1, 0);
    SendMessageW(GetParent(lists[0]), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(lists[0]), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(lists[0]));
  }
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Drive(DWORD thread, const char* name) {
  HWND dialog = WaitForDialog(thread);
  if (dialog == nullptr) {
    std::fprintf(stderr, "the %s dialog did not open\n", name);
    return;
  }
  PlayWith(dialog);
  RECT rect{};
  GetWindowRect(dialog, &rect);
  std::printf("SHOT %s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  std::fflush(stdout);
  char line[16];
  if (std::fgets(line, sizeof(line), stdin) == nullptr) std::fprintf(stderr, "no go-ahead; cancelling\n");
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

int main() {
  int handle = Orvane_Initialize(nullptr);
  if (handle == 0) {
    std::fprintf(stderr, "Orvane_Initialize failed\n");
    return 1;
  }
  Orvane_SetColorMode(handle, 24);
  struct {
    const char* name;
    int (*open)(int, HWND);
  } dialogs[] = {{"image", Orvane_SetImageDlg}, {"analog", Orvane_SetAnalogDlg}, {"camera", Orvane_SetCameraDlg}};
  int failed = 0;
  for (const auto& d : dialogs) {
    std::thread user(Drive, GetCurrentThreadId(), d.name);
    if (d.open(handle, nullptr) != 1) {
      std::fprintf(stderr, "the %s dialog failed: error %d\n", d.name, Orvane_GetLastError(handle));
      ++failed;
    }
    user.join();
  }
  Orvane_Release(handle);
  return failed == 0 ? 0 : 1;
}
