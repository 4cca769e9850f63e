// A value control of the settings pages: a horizontal trackbar, an edit box showing the number and
// an up-down control bound to the edit box, made from four consecutive control ids (dialog_ids.h).
// Moving the trackbar writes the number into the edit box; typing a number moves the trackbar. The
// page hands the new value to the setting it edits.
#pragma once

#include <windows.h>

#include <optional>

namespace orvane::ui {

class ValueTriple {
 public:
  // Binds the controls `baseId` .. `baseId` + 3 of `page`; the range is inclusive.
  void Attach(HWND page, int baseId, int min, int max, int pageStep);
  void SetRange(int min, int max, int pageStep);
  // Shows `value` in all three controls without reporting it back as an edit.
  void Show(int value);
  int Min() const { return min_; }
  int Max() const { return max_; }
  void Enable(bool on) const;
  void ShowRow(bool on) const;
  HWND Trackbar() const;
  HWND Edit() const;
  int BaseId() const { return baseId_; }

  // WM_HSCROLL from `control`: the trackbar's new position when it is this triple's trackbar.
  std::optional<int> OnScroll(HWND control);
  // WM_COMMAND with `id` and `code`: the value typed into this triple's edit box, limited to the
  // range (the edit box is corrected when it loses the focus).
  std::optional<int> OnCommand(int id, int code);

 private:
  void WriteEdit(int value);

  HWND page_ = nullptr;
  int baseId_ = 0;
  int min_ = 0;
  int max_ = 0;
  bool showing_ = false;  // the controls are being set from the setting: their notifications are echoes
};

// Reads a decimal integer from an edit box; nullopt when it holds none (empty, "-", letters).
std::optional<int> ReadInteger(HWND edit);

}  // namespace orvane::ui
