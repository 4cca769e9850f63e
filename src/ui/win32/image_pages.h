// The image dialog's pages: "Image Filter" (brightness to gamma, white balance, Bayer phase) and
// "Gray Filter" (gray gains and offsets, gray mode, gray balance, Bayer phase). They edit the SDK
// object's image settings directly; the dialog restores its copy when it is not confirmed.
#pragma once

#include <array>

#include "sdk/orvane.h"
#include "ui/win32/dialog_frame.h"
#include "ui/win32/value_triple.h"

namespace orvane::ui {

// One value control and the filter id it edits.
struct FilterControl {
  int baseId;
  int filterId;
  int min;
  int max;
  int pageStep;
};

// Pages that edit filter values through triples share this.
class FilterPage : public Page {
 protected:
  FilterPage(COrvane& sdk, const FilterControl* controls, size_t count)
      : sdk_(sdk), controls_(controls), count_(count) {}
  void AttachTriples();
  void ShowTriples();
  // Hands a moved trackbar or typed number to its setting; true when a triple took the message.
  bool TripleScrolled(HWND control);
  bool TripleTyped(int id, int code);
  void EnableTriples(bool on);
  int Filter(int filterId) const;
  // True in the gray colour modes (8- and 16-bit monochrome), false in the colour modes.
  bool GrayOutput() const;

  COrvane& sdk_;
  const FilterControl* controls_;
  size_t count_;
  std::array<ValueTriple, 9> triples_;
};

class ImagePage : public FilterPage {
 public:
  explicit ImagePage(COrvane& sdk);
  int TemplateId() const override;
  int TabTextId() const override;
  void Init() override;
  void Refresh() override;
  void OnCommand(int id, int code, HWND control) override;
  void OnScroll(HWND control) override;
};

class GrayPage : public FilterPage {
 public:
  explicit GrayPage(COrvane& sdk);
  int TemplateId() const override;
  int TabTextId() const override;
  void Init() override;
  void Refresh() override;
  void OnCommand(int id, int code, HWND control) override;
  void OnScroll(HWND control) override;
};

// The Default button of the image dialog: brightness, contrast, hue, saturation and sharpness 0, the
// colour gains and gamma 100, Bayer phase 2 and, with the gray page, every gray gain and offset 128.
void SetImageDefaults(COrvane& sdk, bool withGray);

}  // namespace orvane::ui
