#include "ui/win32/dialog_frame.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/win32/dialog_ids.h"
#include "ui/win32/dialog_resources.h"

namespace orvane::ui {

namespace {

constexpr UINT kRefreshMessage = WM_APP + 1;

// Frame geometry in dialog units: margin, button size and gap.
constexpr int kMargin = 5;
constexpr int kButtonWidth = 56;
constexpr int kButtonHeight = 14;
constexpr int kButtonGap = 4;

RECT DialogUnits(HWND window, int x, int y, int width, int height) {
  RECT rect{x, y, x + width, y + height};
  MapDialogRect(window, &rect);
  return rect;
}

void Place(HWND control, const RECT& rect) {
  SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// Centres `window` on its owner, or on the work area of its monitor when it has none.
void Centre(HWND window) {
  RECT own{}, area{};
  GetWindowRect(window, &own);
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    area = info.rcWork;
  }
  int width = own.right - own.left, height = own.bottom - own.top;
  int x = std::max(0L, area.left + (area.right - area.left - width) / 2);
  int y = std::max(0L, area.top + (area.bottom - area.top - height) / 2);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR DialogFrame::Run(HWND owner) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  const DLGTEMPLATE* frame = LoadDialogTemplate(IDD_FRAME);
  if (frame == nullptr) return -1;
  INT_PTR result = DialogBoxIndirectParamW(DialogModule(), frame, owner, FrameProc, reinterpret_cast<LPARAM>(this));
  refresh_->window_ = nullptr;
  return result;
}

void DialogFrame::RefreshTarget::Request() {
  HWND window = window_;
  if (window != nullptr && !pending_.exchange(true)) PostMessageW(window, kRefreshMessage, 0, 0);
}

INT_PTR CALLBACK DialogFrame::FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* frame = reinterpret_cast<DialogFrame*>(lParam);
    if (!frame->OnInit(window)) EndDialog(window, -1);
    return TRUE;  // the focus goes to the tab control
  }
  auto* frame = reinterpret_cast<DialogFrame*>(GetWindowLongPtrW(window, DWLP_USER));
  if (frame == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      frame->OnFrameCommand(LOWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_TAB && header->code == TCN_SELCHANGE) {
        frame->ShowPage(TabCtrl_GetCurSel(header->hwndFrom));
      }
      return TRUE;
    }
    case kRefreshMessage:
      frame->refresh_->pending_ = false;
      for (Page* page : frame->pages_) page->Refresh();
      return TRUE;
    case WM_DESTROY:
      frame->refresh_->window_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK DialogFrame::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* page = reinterpret_cast<Page*>(lParam);
    page->SetWindow(window);
    page->Init();
    return FALSE;
  }
  auto* page = reinterpret_cast<Page*>(GetWindowLongPtrW(window, DWLP_USER));
  if (page == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      page->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_HSCROLL:
      page->OnScroll(reinterpret_cast<HWND>(lParam));
      return TRUE;
    default:
      return FALSE;
  }
}

bool DialogFrame::OnInit(HWND window) {
  window_ = window;
  SetWindowTextW(window, LoadText(options_.captionId).c_str());
  HWND tab = GetDlgItem(window, IDC_TAB);
  for (size_t i = 0; i < pages_.size(); ++i) {
    std::wstring text = LoadText(pages_[i]->TabTextId());
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    const DLGTEMPLATE* page = LoadDialogTemplate(pages_[i]->TemplateId());
    if (page == nullptr) return false;
    if (CreateDialogIndirectParamW(DialogModule(), page, window, PageProc, reinterpret_cast<LPARAM>(pages_[i])) == nullptr) {
      return false;
    }
  }
  ShowWindow(GetDlgItem(window, IDC_DEFAULT), options_.defaultButton ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(window, IDC_APPLY), options_.applyButton ? SW_SHOW : SW_HIDE);
  EnableWindow(GetDlgItem(window, IDC_APPLY), FALSE);
  Layout();
  ShowPage(0);
  refresh_->window_ = window;
  return true;
}

void DialogFrame::Layout() {
  HWND tab = GetDlgItem(window_, IDC_TAB);
  RECT display{0, 0, 0, 0};
  for (Page* page : pages_) {
    RECT client{};
    GetClientRect(page->Window(), &client);
    display.right = std::max(display.right, client.right);
    display.bottom = std::max(display.bottom, client.bottom);
  }
  RECT margin = DialogUnits(window_, 0, 0, kMargin, kMargin);
  RECT tabRect = display;
  TabCtrl_AdjustRect(tab, TRUE, &tabRect);
  OffsetRect(&tabRect, margin.right - tabRect.left, margin.bottom - tabRect.top);
  Place(tab, tabRect);
  RECT pageRect = tabRect;
  TabCtrl_AdjustRect(tab, FALSE, &pageRect);
  for (Page* page : pages_) {
    SetWindowPos(page->Window(), HWND_TOP, pageRect.left, pageRect.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  }
  // Buttons under the tab control: Default at the left, OK, Cancel and Apply at the right.
  RECT button = DialogUnits(window_, 0, 0, kButtonWidth, kButtonHeight);
  RECT gap = DialogUnits(window_, 0, 0, kButtonGap, kButtonGap);
  const int top = tabRect.bottom + margin.bottom;
  int right = tabRect.right;
  for (int id : {IDC_APPLY, IDCANCEL, IDOK}) {
    HWND control = GetDlgItem(window_, id);
    if (id == IDC_APPLY && !options_.applyButton) continue;
    Place(control, RECT{right - button.right, top, right, top + button.bottom});
    right -= button.right + gap.right;
  }
  Place(GetDlgItem(window_, IDC_DEFAULT), RECT{tabRect.left, top, tabRect.left + button.right, top + button.bottom});
  RECT frame{0, 0, tabRect.right + margin.right, top + button.bottom + margin.bottom};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(window_, GWL_EXSTYLE)));
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOMOVE);
  Centre(window_);
}

void DialogFrame::ShowPage(int index) {
  for (size_t i = 0; i < pages_.size(); ++i) {
    ShowWindow(pages_[i]->Window(), static_cast<int>(i) == index ? SW_SHOW : SW_HIDE);
  }
  TabCtrl_SetCurSel(GetDlgItem(window_, IDC_TAB), index);
}

void DialogFrame::OnFrameCommand(int id) {
  switch (id) {
    case IDOK:
      if (options_.onApply && !options_.onApply()) return;
      EndDialog(window_, IDOK);
      return;
    case IDCANCEL:
      EndDialog(window_, IDCANCEL);
      return;
    case IDC_APPLY:
      if (options_.onApply && options_.onApply()) EnableWindow(GetDlgItem(window_, IDC_APPLY), FALSE);
      return;
    case IDC_DEFAULT:
      if (options_.onDefault) options_.onDefault();
      for (Page* page : pages_) page->Refresh();
      return;
    case Page::kChangedId:
      EnableWindow(GetDlgItem(window_, IDC_APPLY), TRUE);
      return;
    default:
      return;
  }
}

}  // namespace orvane::ui
