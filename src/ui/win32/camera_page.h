// The camera dialog's page ("Stream Format"): colour mode, size entry (or a custom size), sub-sampling,
// wait time and clock of the current camera, kept in the settings store. Nothing is written until
// OK or Apply; the SDK object reads size and colour back after OK.
#pragma once

#include <vector>

#include "persistence/settings_persistence.h"
#include "sdk/orvane.h"
#include "ui/win32/dialog_frame.h"

namespace orvane::ui {

class CameraPage : public Page {
 public:
  explicit CameraPage(COrvane& sdk) : sdk_(sdk) {}
  int TemplateId() const override;
  int TabTextId() const override;
  void Init() override;
  void Refresh() override {}  // the page edits the store, which the pipeline never changes
  void OnCommand(int id, int code, HWND control) override;
  void OnScroll(HWND) override {}

  // Writes the chosen values to the store (OK and Apply); false, with the page kept open, when a
  // custom size is not a window of the sensor.
  bool Save();

 private:
  void FillColourList();
  void FillSizeList();
  void FillLists();
  void ShowSize(const persistence::SizeSettings& size);
  persistence::SizeSettings EditedSize() const;
  int Selected(int listId) const;
  bool IsCustom() const;

  COrvane& sdk_;
  std::vector<persistence::SizeSettings> entries_;  // the camera's size entries, "Size_00" upward
  bool filling_ = false;  // the controls are being set by the page itself
};

}  // namespace orvane::ui
