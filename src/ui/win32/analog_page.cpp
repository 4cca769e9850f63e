#include "ui/win32/analog_page.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>

#include "ui/win32/dialog_ids.h"
#include "ui/win32/dialog_resources.h"

namespace orvane::ui {

namespace {

// The triples in the order of AnalogPage::triples_, with the filter id each edits.
struct AnalogControl {
  int baseId;
  int filterId;
};
constexpr AnalogControl kControls[] = {
    {IDC_GLOBAL_GAIN, ORVANE_FILTER_GLOBAL_GAIN},      {IDC_COLOR_GAIN_G1, ORVANE_FILTER_COLOR_GAIN_GREEN1},
    {IDC_COLOR_GAIN_R, ORVANE_FILTER_COLOR_GAIN_RED},  {IDC_COLOR_GAIN_B, ORVANE_FILTER_COLOR_GAIN_BLUE},
    {IDC_COLOR_GAIN_G2, ORVANE_FILTER_COLOR_GAIN_GREEN2}, {IDC_EXPOSURE, ORVANE_FILTER_EXPOSURE_TIME},
    {IDC_BLACK_LEVEL, ORVANE_FILTER_BLACK_LEVEL},
};
constexpr size_t kGlobal = 0, kExposure = 5, kBlackLevel = 6;

// The units of the ExposureEx box: text id and seconds per unit.
struct TimeUnit {
  int textId;
  double seconds;
};
constexpr TimeUnit kUnits[] = {{IDS_UNIT_NS, 1e-9}, {IDS_UNIT_US, 1e-6}, {IDS_UNIT_MS, 1e-3}, {IDS_UNIT_SEC, 1.0}};

int PageStep(int min, int max) { return std::max(1, (max - min) / 8); }

// A time in the unit: "%.3f" when its fraction is at least 0.001, "%.6f" when at least 0.000001,
// else a whole number.
std::wstring TimeText(double value) {
  wchar_t text[48] = {};
  double fraction = value - std::floor(value);
  if (fraction >= 0.001) {
    std::swprintf(text, std::size(text), L"%.3f", value);
  } else if (fraction >= 0.000001) {
    std::swprintf(text, std::size(text), L"%.6f", value);
  } else {
    std::swprintf(text, std::size(text), L"%d", static_cast<int>(value));
  }
  return text;
}

}  // namespace

AnalogFeatures AnalogFeatures::Of(COrvane& sdk) {
  AnalogFeatures f;
  f.channelGains = sdk.QueryDevice(&COrvaneR3O5Base::AllowsColorModes);
  f.exposureSeconds = sdk.QueryDevice(&COrvaneR3O5Base::HasExposureTimeEx);
  f.blackLevel = sdk.QueryDevice(&COrvaneR3O5Base::HasBlackLevel);
  f.peltier = sdk.QueryDevice(&COrvaneR3O5Base::HasPeltier);
  f.shortExposure = sdk.QueryDevice(&COrvaneR3O5Base::HasShortExposureMode);
  f.gainMode = sdk.QueryDevice(&COrvaneR3O5Base::HasGainMode);
  return f;
}

int AnalogPage::TemplateId() const { return IDD_PAGE_ANALOG; }
int AnalogPage::TabTextId() const { return IDS_TAB_ANALOG; }

void AnalogPage::Init() {
  InitRanges();
  ShowFeatures();
  if (features_.exposureSeconds) InitExposureUnits();
  if (features_.gainMode) {
    HWND list = Item(IDC_GAIN_MODE);
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadText(IDS_HIGH_GAIN).c_str()));
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadText(IDS_LOW_GAIN).c_str()));
  }
  // The black level and short exposure are read once: their getters report to the application.
  int ok = 0;
  if (features_.blackLevel) triples_[kBlackLevel].Show(sdk_.GetFilterValue(ORVANE_FILTER_BLACK_LEVEL, &ok));
  if (features_.shortExposure) Check(IDC_SHORT_EXPOSURE, sdk_.GetFilterValue(ORVANE_FILTER_SHORT_EXPOSURE, &ok) > 0);
  Refresh();
}

void AnalogPage::InitRanges() {
  info_.size = sizeof(info_);
  sdk_.GetCameraInfo(&info_);
  const int ranges[][2] = {{info_.globalGainMin, info_.globalGainMax}, {info_.colorGainMin, info_.colorGainMax},
                           {info_.exposureMin, info_.exposureMax}};
  for (size_t i = 0; i < std::size(kControls); ++i) {
    const int* range = i == kGlobal ? ranges[0] : i == kExposure ? ranges[2] : ranges[1];
    int min = range[0], max = range[1];
    if (i == kBlackLevel) min = 0, max = 255;
    triples_[i].Attach(Window(), kControls[i].baseId, min, max, PageStep(min, max));
  }
}

void AnalogPage::ShowFeatures() {
  for (size_t i = 1; i <= 4; ++i) triples_[i].ShowRow(features_.channelGains);
  triples_[kBlackLevel].ShowRow(features_.blackLevel);
  ShowWindow(Item(IDC_EXPOSURE_MS), features_.exposureSeconds ? SW_HIDE : SW_SHOW);
  for (int id : {IDC_EXPOSURE_EX_LABEL, IDC_EXPOSURE_EX, IDC_EXPOSURE_UNIT, IDC_EXPOSURE_RANGE}) {
    ShowWindow(Item(id), features_.exposureSeconds ? SW_SHOW : SW_HIDE);
  }
  ShowWindow(Item(IDC_PELTIER), features_.peltier ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_SHORT_EXPOSURE), features_.shortExposure ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_GAIN_MODE), features_.gainMode ? SW_SHOW : SW_HIDE);
}

void AnalogPage::InitExposureUnits() {
  // Only the units between the device's shortest and longest time are offered; the range text names
  // the limits in the smallest and largest of them.
  const double min = info_.exposureTimeExMin, max = info_.exposureTimeExMax;
  HWND list = Item(IDC_EXPOSURE_UNIT);
  const TimeUnit* first = nullptr;
  const TimeUnit* last = nullptr;
  for (const TimeUnit& unit : kUnits) {
    if (unit.seconds > max || unit.seconds * 1000.0 <= min) continue;
    int index = static_cast<int>(SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadText(unit.textId).c_str())));
    SendMessageW(list, CB_SETITEMDATA, index, static_cast<LPARAM>(&unit - kUnits));
    if (first == nullptr) first = &unit;
    last = &unit;
  }
  if (first == nullptr) return;
  SetWindowTextW(Item(IDC_EXPOSURE_RANGE),
                 FormatText(IDS_RANGE_FORMAT, {static_cast<int>(std::lround(min / first->seconds)), LoadText(first->textId),
                                               static_cast<int>(max / last->seconds), LoadText(last->textId)})
                     .c_str());
  // The box starts in the largest unit that is not above the current time.
  int ok = 0;
  const double now = sdk_.GetExposureTimeEx(&ok);
  int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0)), chosen = 0;
  for (int i = 0; i < count; ++i) {
    if (kUnits[SendMessageW(list, CB_GETITEMDATA, i, 0)].seconds <= now) chosen = i;
  }
  SendMessageW(list, CB_SETCURSEL, chosen, 0);
  exposureUnit_ = kUnits[SendMessageW(list, CB_GETITEMDATA, chosen, 0)].seconds;
}

void AnalogPage::Refresh() {
  // The SDK object's cached settings: what the device was last given, by this page, an export or
  // the automatic exposure.
  const settings::AnalogSettings a = sdk_.AnalogValues();
  const int values[] = {a.global, a.colorG1, a.colorR, a.colorB, a.colorG2, a.exposure};
  for (size_t i = 0; i <= kExposure; ++i) triples_[i].Show(values[i]);
  SetWindowTextW(Item(IDC_EXPOSURE_MS), FormatText(IDS_MSEC_FORMAT, {a.exposure / 10.0}).c_str());
  int ok = 0;
  const int autoIris = sdk_.GetAutoIris(&ok);
  Check(IDC_AUTO_GAIN, autoIris == 2);
  Check(IDC_AUTO_EXPOSURE, autoIris == 1);
  Check(IDC_MIRROR_V, a.vMirror != 0);
  Check(IDC_MIRROR_H, a.hMirror != 0);
  if (features_.peltier) Check(IDC_PELTIER, sdk_.GetFilterValue(ORVANE_FILTER_PELTIER, &ok) > 0);
  if (features_.gainMode) SendMessageW(Item(IDC_GAIN_MODE), CB_SETCURSEL, a.gainMode, 0);
  if (features_.exposureSeconds) ShowExposureTime();
}

void AnalogPage::ShowExposureTime() {
  HWND edit = Item(IDC_EXPOSURE_EX);
  if (GetFocus() == edit) return;  // the user is typing a time
  int ok = 0;
  const double seconds = sdk_.GetExposureTimeEx(&ok);
  if (!ok) return;
  showing_ = true;
  SetWindowTextW(edit, TimeText(seconds / exposureUnit_).c_str());
  showing_ = false;
}

void AnalogPage::ExposureTimeTyped() {
  wchar_t text[48] = {};
  GetWindowTextW(Item(IDC_EXPOSURE_EX), text, static_cast<int>(std::size(text)));
  wchar_t* end = nullptr;
  const double value = std::wcstod(text, &end);
  if (end == text || *end != 0) return;
  const double seconds = value * exposureUnit_;
  if (seconds < info_.exposureTimeExMin || seconds > info_.exposureTimeExMax) return;
  sdk_.SetExposureTimeEx(seconds);
}

void AnalogPage::SetAutoIris(int checkedId) {
  // "Gain" (mode 2) and "Exposure" (mode 1) exclude each other.
  const bool on = Checked(checkedId);
  const int other = checkedId == IDC_AUTO_GAIN ? IDC_AUTO_EXPOSURE : IDC_AUTO_GAIN;
  if (on) Check(other, false);
  sdk_.SetAutoIris(on ? (checkedId == IDC_AUTO_GAIN ? 2 : 1) : 0);
}

void AnalogPage::ValueChanged(size_t index, int value) {
  sdk_.SetFilterValue(kControls[index].filterId, value);
  // A global gain sets the channel gains too; the exposure's time follows the lines.
  if (index == kGlobal || index == kExposure) Refresh();
}

void AnalogPage::OnCommand(int id, int code, HWND) {
  for (size_t i = 0; i < triples_.size(); ++i) {
    if (std::optional<int> value = triples_[i].OnCommand(id, code)) return ValueChanged(i, *value);
  }
  if (id == IDC_EXPOSURE_EX && code == EN_CHANGE && !showing_) return ExposureTimeTyped();
  if (id == IDC_EXPOSURE_UNIT && code == CBN_SELCHANGE) {
    int index = static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
    exposureUnit_ = kUnits[SendMessageW(Item(id), CB_GETITEMDATA, index, 0)].seconds;
    return ShowExposureTime();
  }
  if (id == IDC_GAIN_MODE && code == CBN_SELCHANGE) {
    sdk_.SetFilterValue(ORVANE_FILTER_GAIN_MODE, static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)));
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_AUTO_GAIN:
    case IDC_AUTO_EXPOSURE: SetAutoIris(id); break;
    case IDC_MIRROR_V: sdk_.SetMirrorV(Checked(id) ? 1 : 0); break;
    case IDC_MIRROR_H: sdk_.SetMirrorH(Checked(id) ? 1 : 0); break;
    case IDC_PELTIER: sdk_.SetFilterValue(ORVANE_FILTER_PELTIER, Checked(id) ? 1 : 0); break;
    case IDC_SHORT_EXPOSURE: sdk_.SetFilterValue(ORVANE_FILTER_SHORT_EXPOSURE, Checked(id) ? 1 : 0); break;
    default: break;
  }
}

void AnalogPage::OnScroll(HWND control) {
  for (size_t i = 0; i < triples_.size(); ++i) {
    if (std::optional<int> value = triples_[i].OnScroll(control)) return ValueChanged(i, *value);
  }
}

}  // namespace orvane::ui
