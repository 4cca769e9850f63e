#include "ui/win32/image_pages.h"

#include <iterator>

#include "ui/win32/dialog_ids.h"

namespace orvane::ui {

namespace {

constexpr FilterControl kImageControls[] = {
    {IDC_BRIGHTNESS, ORVANE_FILTER_BRIGHTNESS, -255, 255, 64},
    {IDC_CONTRAST, ORVANE_FILTER_CONTRAST, -127, 127, 32},
    {IDC_HUE, ORVANE_FILTER_HUE, -360, 360, 90},
    {IDC_SATURATION, ORVANE_FILTER_SATURATION, -255, 255, 64},
    {IDC_SHARPNESS, ORVANE_FILTER_SHARPNESS, 0, 30, 4},
    {IDC_RED_GAIN, ORVANE_FILTER_BAYER_GAIN_RED, 0, 400, 32},
    {IDC_GREEN_GAIN, ORVANE_FILTER_BAYER_GAIN_GREEN, 0, 400, 32},
    {IDC_BLUE_GAIN, ORVANE_FILTER_BAYER_GAIN_BLUE, 0, 400, 32},
    {IDC_GAMMA, ORVANE_FILTER_GAMMA, 0, 200, 32},
};

// The gray gains take 0..255, the range the setting accepts: a trackbar reaching 400 would offer
// positions that every setter refuses.
constexpr FilterControl kGrayControls[] = {
    {IDC_GRAY_GAIN_R, ORVANE_FILTER_GRAY_GAIN_R, 0, 255, 32},
    {IDC_GRAY_GAIN_G1, ORVANE_FILTER_GRAY_GAIN_G1, 0, 255, 32},
    {IDC_GRAY_GAIN_G2, ORVANE_FILTER_GRAY_GAIN_G2, 0, 255, 32},
    {IDC_GRAY_GAIN_B, ORVANE_FILTER_GRAY_GAIN_B, 0, 255, 32},
    {IDC_GRAY_OFFSET_R, ORVANE_FILTER_GRAY_OFFSET_R, -255, 255, 64},
    {IDC_GRAY_OFFSET_G1, ORVANE_FILTER_GRAY_OFFSET_G1, -255, 255, 64},
    {IDC_GRAY_OFFSET_G2, ORVANE_FILTER_GRAY_OFFSET_G2, -255, 255, 64},
    {IDC_GRAY_OFFSET_B, ORVANE_FILTER_GRAY_OFFSET_B, -255, 255, 64},
};

// The colour-only controls of the image filter page (hue to the colour gains, white balance).
constexpr int kColourOnly[] = {IDC_HUE, IDC_SATURATION, IDC_RED_GAIN, IDC_GREEN_GAIN, IDC_BLUE_GAIN};

}  // namespace

// ---- FilterPage ----------------------------------------------------------------------------------

void FilterPage::AttachTriples() {
  for (size_t i = 0; i < count_; ++i) {
    const FilterControl& c = controls_[i];
    triples_[i].Attach(Window(), c.baseId, c.min, c.max, c.pageStep);
  }
}

void FilterPage::ShowTriples() {
  for (size_t i = 0; i < count_; ++i) triples_[i].Show(Filter(controls_[i].filterId));
}

int FilterPage::Filter(int filterId) const {
  int ok = 0;
  return sdk_.GetFilterValue(filterId, &ok);
}

bool FilterPage::GrayOutput() const {
  int bits = sdk_.GetColorMode();
  return bits == 8 || bits == 16;
}

bool FilterPage::TripleScrolled(HWND control) {
  for (size_t i = 0; i < count_; ++i) {
    if (std::optional<int> value = triples_[i].OnScroll(control)) {
      sdk_.SetFilterValue(controls_[i].filterId, *value);
      return true;
    }
  }
  return false;
}

bool FilterPage::TripleTyped(int id, int code) {
  for (size_t i = 0; i < count_; ++i) {
    if (std::optional<int> value = triples_[i].OnCommand(id, code)) {
      sdk_.SetFilterValue(controls_[i].filterId, *value);
      return true;
    }
  }
  return false;
}

void FilterPage::EnableTriples(bool on) {
  for (size_t i = 0; i < count_; ++i) triples_[i].Enable(on);
}

// ---- ImagePage -----------------------------------------------------------------------------------

ImagePage::ImagePage(COrvane& sdk) : FilterPage(sdk, kImageControls, std::size(kImageControls)) {}
int ImagePage::TemplateId() const { return IDD_PAGE_IMAGE; }
int ImagePage::TabTextId() const { return IDS_TAB_IMAGE; }

void ImagePage::Init() {
  AttachTriples();
  Refresh();
}

void ImagePage::Refresh() {
  ShowTriples();
  const settings::ImageSettings::State state = sdk_.ImageSettingsPart().Save();
  const bool once = state.whiteBalanceOnce[0] != 0 && state.whiteBalanceOnce[1] != 0;
  Check(IDC_WB_ALL, state.values.Get(ORVANE_FILTER_BAYER_GAIN_AUTO) != 0 && !once);
  const int phase = Filter(ORVANE_FILTER_BAYER_MODE);
  for (int p = 0; p < 4; ++p) Check(IDC_BAYER_0 + p, p == phase);
  // Hue, saturation, the colour gains and white balance act only on colour output.
  const bool colour = !GrayOutput();
  for (size_t i = 0; i < count_; ++i) {
    for (int id : kColourOnly) {
      if (controls_[i].baseId == id) triples_[i].Enable(colour);
    }
  }
  Enable(IDC_WB_ONCE, colour);
  Enable(IDC_WB_ALL, colour);
}

void ImagePage::OnCommand(int id, int code, HWND) {
  if (TripleTyped(id, code)) return;
  if (code != BN_CLICKED) return;
  if (id == IDC_WB_ONCE) {
    // One balance: the continuous switch with both one-shot markers; the next frame clears them.
    sdk_.ImageSettingsPart().RequestWhiteBalanceOnce();
    Check(IDC_WB_ALL, false);
  } else if (id == IDC_WB_ALL) {
    sdk_.SetFilterValue(ORVANE_FILTER_BAYER_GAIN_AUTO, Checked(IDC_WB_ALL) ? 1 : 0);
  } else if (id >= IDC_BAYER_0 && id < IDC_BAYER_0 + 4) {
    sdk_.SetFilterValue(ORVANE_FILTER_BAYER_MODE, id - IDC_BAYER_0);
  }
}

void ImagePage::OnScroll(HWND control) { TripleScrolled(control); }

// ---- GrayPage ------------------------------------------------------------------------------------

GrayPage::GrayPage(COrvane& sdk) : FilterPage(sdk, kGrayControls, std::size(kGrayControls)) {}
int GrayPage::TemplateId() const { return IDD_PAGE_GRAY; }
int GrayPage::TabTextId() const { return IDS_TAB_GRAY; }

void GrayPage::Init() {
  AttachTriples();
  Refresh();
}

void GrayPage::Refresh() {
  ShowTriples();
  const int mode = Filter(ORVANE_FILTER_GRAY_MODE);
  for (int m = 0; m < 3; ++m) Check(IDC_GRAY_MODE_0 + m, m == mode);
  Check(IDC_GRAY_ALL, sdk_.ImageSettingsPart().GrayBalanceContinuous());
  const int phase = Filter(ORVANE_FILTER_BAYER_MODE);
  for (int p = 0; p < 4; ++p) Check(IDC_GRAY_BAYER_0 + p, p == phase);
  // The gray corrections act only on gray output.
  const bool gray = GrayOutput();
  EnableTriples(gray);
  for (int id : {IDC_GRAY_MODE_0, IDC_GRAY_MODE_0 + 1, IDC_GRAY_MODE_0 + 2, IDC_GRAY_ONCE, IDC_GRAY_ALL}) Enable(id, gray);
}

void GrayPage::OnCommand(int id, int code, HWND) {
  if (TripleTyped(id, code)) return;
  if (code != BN_CLICKED) return;
  if (id == IDC_GRAY_ONCE) {
    sdk_.ImageSettingsPart().SetGrayBalanceContinuous(false);
    sdk_.SetFilterValue(ORVANE_FILTER_AUTO_GRAY_BALANCE, 1);
    Check(IDC_GRAY_ALL, false);
  } else if (id == IDC_GRAY_ALL) {
    sdk_.ImageSettingsPart().SetGrayBalanceContinuous(Checked(IDC_GRAY_ALL));
  } else if (id >= IDC_GRAY_MODE_0 && id < IDC_GRAY_MODE_0 + 3) {
    sdk_.SetFilterValue(ORVANE_FILTER_GRAY_MODE, id - IDC_GRAY_MODE_0);
  } else if (id >= IDC_GRAY_BAYER_0 && id < IDC_GRAY_BAYER_0 + 4) {
    sdk_.SetFilterValue(ORVANE_FILTER_BAYER_MODE, id - IDC_GRAY_BAYER_0);
  }
}

void GrayPage::OnScroll(HWND control) { TripleScrolled(control); }

void SetImageDefaults(COrvane& sdk, bool withGray) {
  for (int id : {ORVANE_FILTER_BRIGHTNESS, ORVANE_FILTER_CONTRAST, ORVANE_FILTER_HUE, ORVANE_FILTER_SATURATION,
                 ORVANE_FILTER_SHARPNESS}) {
    sdk.SetFilterValue(id, 0);
  }
  for (int id : {ORVANE_FILTER_BAYER_GAIN_RED, ORVANE_FILTER_BAYER_GAIN_GREEN, ORVANE_FILTER_BAYER_GAIN_BLUE,
                 ORVANE_FILTER_GAMMA}) {
    sdk.SetFilterValue(id, 100);
  }
  sdk.SetFilterValue(ORVANE_FILTER_BAYER_MODE, 2);
  if (!withGray) return;
  for (const FilterControl& c : kGrayControls) sdk.SetFilterValue(c.filterId, 128);
}

}  // namespace orvane::ui
