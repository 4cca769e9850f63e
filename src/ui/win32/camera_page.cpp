#include "ui/win32/camera_page.h"

#include "platform/settings_store.h"
#include "ui/win32/dialog_ids.h"
#include "ui/win32/dialog_resources.h"
#include "ui/win32/value_triple.h"

namespace orvane::ui {

namespace {

// The six size edits in the order of their ids, with the size member each shows.
constexpr int32_t persistence::SizeSettings::*kSizeMembers[] = {
    &persistence::SizeSettings::th, &persistence::SizeSettings::tv,  &persistence::SizeSettings::eh,
    &persistence::SizeSettings::ev, &persistence::SizeSettings::ehs, &persistence::SizeSettings::evs,
};
constexpr bool kHorizontal[] = {true, false, true, false, true, false};

// The sensor clock list: normal, half and high clock; the high clock is the one in force.
constexpr int kHighClockMHz = 54;
constexpr int kClockInForce = 2;

void AddItem(HWND list, const std::wstring& text, int data) {
  int index = static_cast<int>(SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  SendMessageW(list, CB_SETITEMDATA, index, data);
}

void SelectData(HWND list, int data) {
  int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    if (SendMessageW(list, CB_GETITEMDATA, i, 0) == data) {
      SendMessageW(list, CB_SETCURSEL, i, 0);
      return;
    }
  }
  SendMessageW(list, CB_SETCURSEL, 0, 0);
}

int ColourMode(int bitsPerPixel) {
  constexpr int kBits[] = {8, 16, 24, 32, 48, 64};
  for (int mode = 0; mode < 6; ++mode) {
    if (kBits[mode] == bitsPerPixel) return mode;
  }
  return 2;
}

}  // namespace

int CameraPage::TemplateId() const { return IDD_PAGE_CAMERA; }
int CameraPage::TabTextId() const { return IDS_TAB_CAMERA; }

void CameraPage::Init() {
  filling_ = true;
  FillLists();
  // Each direction of the window is editable only where the device lets it change.
  const bool horizontal = sdk_.QueryDevice(&COrvaneR3O5Base::AllowsNarrowWindow);
  const bool vertical = sdk_.QueryDevice(&COrvaneR3O5Base::AllowsLowWindow);
  for (int i = 0; i < 6; ++i) {
    const bool on = kHorizontal[i] ? horizontal : vertical;
    Enable(IDC_H_TOTAL + i, on);
    Enable(IDC_SIZE_LABEL_0 + i, on);
  }
  SetWindowTextW(Item(IDC_WAIT_TIME), std::to_wstring(sdk_.GetWaitTime()).c_str());
  filling_ = false;
}

void CameraPage::FillColourList() {
  HWND colour = Item(IDC_COLOR);
  if (sdk_.QueryDevice(&COrvaneR3O5Base::AllowsGray8AndBgrx)) AddItem(colour, LoadText(IDS_MONO8), 0);
  if (sdk_.QueryDevice(&COrvaneR3O5Base::AllowsGray16)) AddItem(colour, FormatText(IDS_MONO_FORMAT, {16}), 1);
  if (sdk_.QueryDevice(&COrvaneR3O5Base::AllowsColorModes)) {
    AddItem(colour, LoadText(IDS_COLOR24), 2);
    AddItem(colour, LoadText(IDS_COLOR32), 3);
    AddItem(colour, LoadText(IDS_COLOR48), 4);
    AddItem(colour, LoadText(IDS_COLOR64), 5);
  }
  SelectData(colour, ColourMode(sdk_.GetColorMode()));
}

void CameraPage::FillSizeList() {
  {
    platform::SettingsSession session;
    persistence::SettingsPersistence store(session);
    entries_ = store.ReadCameraSizeEntries(sdk_.SettingsCameraNumber());
  }
  // The entry in force is the first whose window is the SDK object's; with none, a custom size.
  persistence::SizeSettings current;
  sdk_.GetCaptureWindowEx(&current.th, &current.ehs, &current.eh, &current.tv, &current.evs, &current.ev);
  HWND size = Item(IDC_SIZE_LIST);
  int chosen = -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    AddItem(size, FormatText(IDS_SIZE_FORMAT, {entries_[i].eh, entries_[i].ev}), static_cast<int>(i));
    const persistence::SizeSettings& e = entries_[i];
    if (chosen < 0 && e.th == current.th && e.tv == current.tv && e.eh == current.eh && e.ev == current.ev &&
        e.ehs == current.ehs && e.evs == current.evs) {
      chosen = static_cast<int>(i);
    }
  }
  AddItem(size, LoadText(IDS_CUSTOM), -1);
  SelectData(size, chosen);
  if (chosen < 0) SendMessageW(size, CB_SETCURSEL, entries_.size(), 0);
  ShowSize(chosen < 0 ? current : entries_[chosen]);
}

void CameraPage::FillLists() {
  FillColourList();
  FillSizeList();
  HWND subSample = Item(IDC_SUBSAMPLE);
  AddItem(subSample, LoadText(IDS_SUB_FULL), 0);
  AddItem(subSample, LoadText(IDS_SUB_BIN), 17);
  SelectData(subSample, sdk_.GetSubSample() == 17 ? 17 : 0);
  HWND clock = Item(IDC_CLOCK);
  AddItem(clock, LoadText(IDS_CLOCK_NORMAL), 0);
  AddItem(clock, LoadText(IDS_CLOCK_HALF), 1);
  AddItem(clock, FormatText(IDS_CLOCK_HIGH_FORMAT, {kHighClockMHz}), 2);
  SendMessageW(clock, CB_SETCURSEL, kClockInForce, 0);
  EnableWindow(clock, FALSE);
}

void CameraPage::ShowSize(const persistence::SizeSettings& size) {
  const bool filling = filling_;
  filling_ = true;
  for (int i = 0; i < 6; ++i) SetWindowTextW(Item(IDC_H_TOTAL + i), std::to_wstring(size.*kSizeMembers[i]).c_str());
  filling_ = filling;
}

persistence::SizeSettings CameraPage::EditedSize() const {
  persistence::SizeSettings size;
  for (int i = 0; i < 6; ++i) size.*kSizeMembers[i] = ReadInteger(Item(IDC_H_TOTAL + i)).value_or(-1);
  return size;
}

int CameraPage::Selected(int listId) const {
  HWND list = Item(listId);
  int index = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
  return index < 0 ? -1 : static_cast<int>(SendMessageW(list, CB_GETITEMDATA, index, 0));
}

bool CameraPage::IsCustom() const { return Selected(IDC_SIZE_LIST) < 0; }

void CameraPage::OnCommand(int id, int code, HWND) {
  if (filling_) return;
  if (code == CBN_SELCHANGE) {
    if (id == IDC_SIZE_LIST && !IsCustom()) ShowSize(entries_[Selected(IDC_SIZE_LIST)]);
    Changed();
  } else if (code == EN_CHANGE) {
    if (id >= IDC_H_TOTAL && id <= IDC_V_START && !IsCustom()) {
      // Editing an entry's window makes it a custom size.
      filling_ = true;
      SendMessageW(Item(IDC_SIZE_LIST), CB_SETCURSEL, entries_.size(), 0);
      filling_ = false;
    }
    Changed();
  }
}

bool CameraPage::Save() {
  const int camera = sdk_.SettingsCameraNumber();
  platform::SettingsSession session;
  persistence::SettingsPersistence store(session);
  int sizeIndex = Selected(IDC_SIZE_LIST);
  if (sizeIndex < 0) {
    persistence::SizeSettings size = EditedSize();
    if (!persistence::WindowWithinSensor(size) || size.th < size.ehs + size.eh || size.tv < size.evs + size.ev) {
      MessageBeep(MB_ICONWARNING);
      return false;
    }
    // A custom size becomes a new entry after the existing ones, unless one of them has its window.
    sizeIndex = static_cast<int>(std::min<size_t>(entries_.size(), persistence::kMaxSizeEntries - 1));
    for (size_t i = 0; i < entries_.size(); ++i) {
      const persistence::SizeSettings& e = entries_[i];
      if (e.th == size.th && e.tv == size.tv && e.eh == size.eh && e.ev == size.ev && e.ehs == size.ehs &&
          e.evs == size.evs) {
        sizeIndex = static_cast<int>(i);
        break;
      }
    }
    filling_ = true;
    HWND list = Item(IDC_SIZE_LIST);
    if (static_cast<size_t>(sizeIndex) == entries_.size()) {
      if (!store.SaveSizeEntry(camera, sizeIndex, size)) {
        filling_ = false;
        return false;
      }
      entries_.push_back(size);
      SendMessageW(list, CB_DELETESTRING, SendMessageW(list, CB_GETCOUNT, 0, 0) - 1, 0);
      AddItem(list, FormatText(IDS_SIZE_FORMAT, {size.eh, size.ev}), sizeIndex);
      AddItem(list, LoadText(IDS_CUSTOM), -1);
    }
    SelectData(list, sizeIndex);
    filling_ = false;
  }
  persistence::StreamSettings stream;
  stream.color = Selected(IDC_COLOR);
  stream.subSample = Selected(IDC_SUBSAMPLE);
  stream.waitTime = ReadInteger(Item(IDC_WAIT_TIME)).value_or(sdk_.GetWaitTime());
  stream.clock = kClockInForce;
  return store.SaveStream(camera, stream, sizeIndex);
}

}  // namespace orvane::ui
