// The three settings dialogs: what each copies before it opens, what it puts back when it is not
// confirmed, and the one-at-a-time rule per SDK object.
#include "ui/dialogs.h"

#include <windows.h>

#include <mutex>
#include <set>

#include "ui/win32/analog_page.h"
#include "ui/win32/camera_page.h"
#include "ui/win32/dialog_frame.h"
#include "ui/win32/dialog_ids.h"
#include "ui/win32/image_pages.h"

namespace orvane::ui {

namespace {

// The SDK objects with a dialog open (on any thread).
std::mutex openMutex;
std::set<const COrvane*> openObjects;  // guarded by openMutex

class OpenGuard {
 public:
  explicit OpenGuard(const COrvane& sdk) : sdk_(sdk) {
    std::lock_guard lock(openMutex);
    taken_ = openObjects.insert(&sdk_).second;
  }
  ~OpenGuard() {
    if (!taken_) return;
    std::lock_guard lock(openMutex);
    openObjects.erase(&sdk_);
  }
  OpenGuard(const OpenGuard&) = delete;
  OpenGuard& operator=(const OpenGuard&) = delete;
  bool Taken() const { return taken_; }

 private:
  const COrvane& sdk_;
  bool taken_ = false;
};

// Listens to the settings' change notifications while a dialog is open: every change, whoever made
// it (the automatic white balance, gray balance and exposure among them), refreshes the pages.
class RefreshOnChange {
 public:
  RefreshOnChange(COrvane& sdk, DialogFrame& frame) : sdk_(sdk) {
    token_ = sdk_.SettingsNotifications().Subscribe([target = frame.Refresher()](int) { target->Request(); });
  }
  ~RefreshOnChange() { sdk_.SettingsNotifications().Unsubscribe(token_); }
  RefreshOnChange(const RefreshOnChange&) = delete;
  RefreshOnChange& operator=(const RefreshOnChange&) = delete;

 private:
  COrvane& sdk_;
  int token_ = 0;
};

INT_PTR RunFrame(COrvane& sdk, DialogFrame& frame, HWND owner) {
  RefreshOnChange refresh(sdk, frame);
  return frame.Run(owner);
}

bool RunImageDialog(COrvane& sdk, HWND owner) {
  const settings::ImageSettings::State before = sdk.ImageSettingsPart().Save();
  const bool withGray = sdk.QueryDevice(&COrvaneR3O5Base::AllowsGray8AndBgrx) ||
                        sdk.QueryDevice(&COrvaneR3O5Base::AllowsGray16);
  ImagePage image(sdk);
  GrayPage gray(sdk);
  std::vector<Page*> pages{&image};
  if (withGray) pages.push_back(&gray);
  FrameOptions options;
  options.captionId = IDS_CAPTION_IMAGE;
  options.defaultButton = true;
  options.onDefault = [&sdk, withGray] { SetImageDefaults(sdk, withGray); };
  DialogFrame frame(pages, options);
  const INT_PTR result = RunFrame(sdk, frame, owner);
  if (result != IDOK) sdk.ImageSettingsPart().Reinstate(before);
  return result != -1;
}

// The device values the analog dialog puts back when it is not confirmed: the SDK object's cached
// analog settings (what the device was given), the Bayer phase and the automatic exposure mode.
struct AnalogCopy {
  settings::AnalogSettings analog;
  double seconds = 0.0;
  bool secondsValid = false;
  int bayerPhase = 2;
  int autoIris = 0;
};

AnalogCopy CopyAnalog(COrvane& sdk, bool exposureSeconds) {
  AnalogCopy copy;
  copy.analog = sdk.AnalogValues();
  int ok = 0;
  if (exposureSeconds) {
    copy.seconds = sdk.GetExposureTimeEx(&ok);
    copy.secondsValid = ok != 0;
  }
  copy.bayerPhase = sdk.GetFilterValue(ORVANE_FILTER_BAYER_MODE, &ok);
  copy.autoIris = sdk.GetAutoIris(&ok);
  return copy;
}

void RestoreAnalog(COrvane& sdk, const AnalogCopy& copy) {
  // The automatic exposure first, so that it cannot overwrite what is put back; the global gain
  // before the channel gains, which it sets too.
  const settings::AnalogSettings& a = copy.analog;
  sdk.SetAutoIris(copy.autoIris);
  sdk.SetFilterValue(ORVANE_FILTER_GLOBAL_GAIN, a.global);
  const std::pair<int, int> channels[] = {{ORVANE_FILTER_COLOR_GAIN_RED, a.colorR},
                                          {ORVANE_FILTER_COLOR_GAIN_GREEN1, a.colorG1},
                                          {ORVANE_FILTER_COLOR_GAIN_GREEN2, a.colorG2},
                                          {ORVANE_FILTER_COLOR_GAIN_BLUE, a.colorB}};
  for (const auto& [id, value] : channels) {
    if (value != a.global) sdk.SetFilterValue(id, value);
  }
  if (copy.secondsValid) {
    sdk.SetExposureTimeEx(copy.seconds);
  } else {
    sdk.SetFilterValue(ORVANE_FILTER_EXPOSURE_TIME, a.exposure);
  }
  sdk.SetMirrorV(a.vMirror);
  sdk.SetMirrorH(a.hMirror);
  sdk.SetFilterValue(ORVANE_FILTER_BAYER_MODE, copy.bayerPhase);
}

bool RunAnalogDialog(COrvane& sdk, HWND owner) {
  AnalogPage page(sdk);
  const AnalogCopy before = CopyAnalog(sdk, sdk.QueryDevice(&COrvaneR3O5Base::HasExposureTimeEx));
  FrameOptions options;
  options.captionId = IDS_CAPTION_ANALOG;
  DialogFrame frame({&page}, options);
  const INT_PTR result = RunFrame(sdk, frame, owner);
  if (result != IDOK) RestoreAnalog(sdk, before);
  return result != -1;
}

bool RunCameraDialog(COrvane& sdk, HWND owner) {
  // The stream stops (a prepared capture pauses) while the dialog is open, and restarts afterwards
  // in the mode it had, with what OK wrote.
  const sdk::AcquisitionState state = sdk.AcquisitionStateNow();
  const bool previewing = sdk::PreviewIsUp(state);
  const bool capturing = state == sdk::AcquisitionState::kCapture;
  if (previewing || capturing) sdk.StopPreview();
  CameraPage page(sdk);
  FrameOptions options;
  options.captionId = IDS_CAPTION_CAMERA;
  options.applyButton = true;
  options.onApply = [&page] { return page.Save(); };
  DialogFrame frame({&page}, options);
  const INT_PTR result = RunFrame(sdk, frame, owner);
  if (result == IDOK) sdk.ReloadStreamSettings();
  if (previewing) sdk.StartPreview();
  if (capturing) sdk.Capture();
  return result != -1;
}

}  // namespace

bool DialogsAvailable() { return true; }

int OpenDialog(COrvane& sdk, Dialog dialog, HWND parent) {
  if (!sdk.CheckDevice()) return 0;
  OpenGuard guard(sdk);
  if (!guard.Taken()) {
    sdk.ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  // A parent that is not a window (or null) gives a dialog without an owner.
  HWND owner = parent != nullptr && IsWindow(parent) ? parent : nullptr;
  bool ran = false;
  switch (dialog) {
    case Dialog::kImage: ran = RunImageDialog(sdk, owner); break;
    case Dialog::kAnalog: ran = RunAnalogDialog(sdk, owner); break;
    case Dialog::kCamera: ran = RunCameraDialog(sdk, owner); break;
  }
  if (!ran) {
    sdk.ReportError(ORVANE_ERR_WINDOW);
    return 0;
  }
  return 1;
}

}  // namespace orvane::ui
