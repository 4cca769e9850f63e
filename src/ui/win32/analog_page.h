// The analog dialog's page ("Analog Gain"): global and channel gains, exposure in lines with its time
// in milliseconds or, where the device takes one, as a time with a unit, automatic exposure, mirrors,
// and the black level, Peltier cooler, short exposure and gain mode where the device has them. Every
// change goes to the device at once through the SDK object's settings exports.
#pragma once

#include <array>

#include "sdk/orvane.h"
#include "ui/win32/dialog_frame.h"
#include "ui/win32/value_triple.h"

namespace orvane::ui {

// What the device offers, asked once when a dialog opens.
struct AnalogFeatures {
  bool channelGains = true;     // the colour sensor's variant: four channel gains
  bool exposureSeconds = false; // exposure set as a time
  bool blackLevel = false;
  bool peltier = false;
  bool shortExposure = false;
  bool gainMode = false;
  static AnalogFeatures Of(COrvane& sdk);
};

class AnalogPage : public Page {
 public:
  explicit AnalogPage(COrvane& sdk) : sdk_(sdk), features_(AnalogFeatures::Of(sdk)) {}
  int TemplateId() const override;
  int TabTextId() const override;
  void Init() override;
  void Refresh() override;
  void OnCommand(int id, int code, HWND control) override;
  void OnScroll(HWND control) override;

 private:
  void InitRanges();
  void InitExposureUnits();
  void ShowFeatures();
  void ShowExposureTime();
  void ExposureTimeTyped();
  void SetAutoIris(int checkedId);
  void ValueChanged(size_t index, int value);

  COrvane& sdk_;
  AnalogFeatures features_;
  OrvaneCameraInfo info_{};
  // Global gain, channel gains G1, R, B, G2, exposure, black level.
  std::array<ValueTriple, 7> triples_;
  double exposureUnit_ = 1e-3;  // seconds per unit of the ExposureEx edit box
  bool showing_ = false;        // the ExposureEx box is being set from the setting
};

}  // namespace orvane::ui
