#include "ui/win32/value_triple.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <iterator>

#include "ui/win32/dialog_ids.h"

namespace orvane::ui {

std::optional<int> ReadInteger(HWND edit) {
  wchar_t text[32] = {};
  GetWindowTextW(edit, text, static_cast<int>(std::size(text)));
  wchar_t* end = nullptr;
  long value = std::wcstol(text, &end, 10);
  if (end == text) return std::nullopt;
  while (*end == L' ') ++end;
  if (*end != 0) return std::nullopt;
  return static_cast<int>(std::clamp<long>(value, INT32_MIN / 2, INT32_MAX / 2));
}

void ValueTriple::Attach(HWND page, int baseId, int min, int max, int pageStep) {
  page_ = page;
  baseId_ = baseId;
  SendMessageW(Edit(), EM_SETLIMITTEXT, 12, 0);
  SetRange(min, max, pageStep);
}

void ValueTriple::SetRange(int min, int max, int pageStep) {
  min_ = min;
  max_ = std::max(min, max);
  showing_ = true;
  HWND trackbar = Trackbar();
  SendMessageW(trackbar, TBM_SETRANGEMIN, FALSE, min_);
  SendMessageW(trackbar, TBM_SETRANGEMAX, TRUE, max_);
  SendMessageW(trackbar, TBM_SETPAGESIZE, 0, std::max(1, pageStep));
  SendMessageW(trackbar, TBM_SETLINESIZE, 0, 1);
  SendMessageW(trackbar, TBM_SETTICFREQ, std::max(1, pageStep), 0);
  SendDlgItemMessageW(page_, baseId_ + TRIPLE_UPDOWN, UDM_SETRANGE32, min_, max_);
  showing_ = false;
}

HWND ValueTriple::Trackbar() const { return GetDlgItem(page_, baseId_ + TRIPLE_TRACKBAR); }
HWND ValueTriple::Edit() const { return GetDlgItem(page_, baseId_ + TRIPLE_EDIT); }

void ValueTriple::WriteEdit(int value) {
  showing_ = true;
  SetWindowTextW(Edit(), std::to_wstring(value).c_str());
  SendDlgItemMessageW(page_, baseId_ + TRIPLE_UPDOWN, UDM_SETPOS32, 0, value);
  showing_ = false;
}

void ValueTriple::Show(int value) {
  showing_ = true;
  SendMessageW(Trackbar(), TBM_SETPOS, TRUE, value);
  showing_ = false;
  // A value being typed stays as typed; only another value replaces the text.
  if (ReadInteger(Edit()) != value || GetFocus() != Edit()) WriteEdit(value);
}

void ValueTriple::Enable(bool on) const {
  for (int i = TRIPLE_LABEL; i <= TRIPLE_UPDOWN; ++i) EnableWindow(GetDlgItem(page_, baseId_ + i), on);
}

void ValueTriple::ShowRow(bool on) const {
  for (int i = TRIPLE_LABEL; i <= TRIPLE_UPDOWN; ++i) ShowWindow(GetDlgItem(page_, baseId_ + i), on ? SW_SHOW : SW_HIDE);
}

std::optional<int> ValueTriple::OnScroll(HWND control) {
  if (control == nullptr || control != Trackbar() || showing_) return std::nullopt;
  int value = static_cast<int>(SendMessageW(control, TBM_GETPOS, 0, 0));
  WriteEdit(value);
  return value;
}

std::optional<int> ValueTriple::OnCommand(int id, int code) {
  if (id != baseId_ + TRIPLE_EDIT || showing_) return std::nullopt;
  std::optional<int> typed = ReadInteger(Edit());
  if (code == EN_KILLFOCUS) {
    // Leaving the box: it shows the value in force (typed values outside the range were limited).
    int value = static_cast<int>(SendMessageW(Trackbar(), TBM_GETPOS, 0, 0));
    if (typed != value) WriteEdit(value);
    return std::nullopt;
  }
  if (code != EN_CHANGE || !typed) return std::nullopt;
  int value = std::clamp(*typed, min_, max_);
  showing_ = true;
  SendMessageW(Trackbar(), TBM_SETPOS, TRUE, value);
  SendDlgItemMessageW(page_, baseId_ + TRIPLE_UPDOWN, UDM_SETPOS32, 0, value);
  showing_ = false;
  return value;
}

}  // namespace orvane::ui
