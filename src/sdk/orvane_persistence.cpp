// The per-camera settings in the user's settings store: loaded at setup and camera change, saved
// at camera change and release, and the capture size presets.

#include "output/settings_persistence.h"
#include "platform/log.h"
#include "platform/settings_store.h"
#include "sdk/orvane.h"

using orvane::output::AnalogLimits;
using orvane::output::AnalogSettings;
using orvane::output::CameraSettings;
using orvane::output::SettingsPersistence;
using orvane::platform::SettingsSession;

namespace {

orvane::output::ColorModeQueries Queries(COrvaneR3O5Base& device) {
  return {device.ColorModeQuery1() != 0, device.ColorModeQuery2() != 0, device.ColorModeQuery3() != 0};
}

}  // namespace

int COrvane::SettingsCamera() const {
  // The camera that is, or was last, selected; camera 0 before any was.
  int camera = lastCamera_;
  return camera < 0 ? 0 : camera;
}

void COrvane::LoadSizeSettings() {
  SettingsSession session;
  SettingsPersistence store(session);
  orvane::output::SizeSettings size;
  if (!store.LoadSize(SettingsCamera(), Queries(*Dev().get()), size)) return;
  th_ = size.th;
  tv_ = size.tv;
  eh_ = size.eh;
  ev_ = size.ev;
  ehs_ = size.ehs;
  evs_ = size.evs;
  buf_ = size.buf;
}

void COrvane::LoadStreamSettings() {
  SettingsSession session;
  SettingsPersistence store(session);
  orvane::output::StreamSettings stream;
  stream.color = colorMode_;
  stream.subSample = subSample_;
  stream.waitTime = waitTime_;
  stream.clock = clock_;
  if (!store.LoadStream(SettingsCamera(), Queries(*Dev().get()), stream)) return;
  colorMode_ = stream.color;
  subSample_ = stream.subSample == 17 ? 17 : 0;
  waitTime_ = stream.waitTime;
  clock_ = stream.clock;
}

// Loads the analog, filter and gray settings of the selected camera into the caches. Absent values
// take the device's current ones (analog) or the neutral defaults (filter, gray).
void COrvane::LoadCameraSettings() {
  ORVANE_LOG(kSettings, kInfo, "loading the settings of camera %d", SettingsCamera());
  AnalogSettings device;
  AnalogLimits limits;
  int32_t value = 0, low = 0, high = 0;
  if (Dev()->GetGlobalGain(&value)) device.global = device.colorG1 = device.colorR = device.colorB = device.colorG2 = value;
  if (Dev()->GetExposureTime(&value)) device.exposure = value;
  if (Dev()->GetMirrorV(&value)) device.vMirror = value;
  if (Dev()->GetMirrorH(&value)) device.hMirror = value;
  if (Dev()->HasBlackLevel() && Dev()->GetBlackLevel(&value)) device.blackLevel = value;
  double seconds = 0;
  if (Dev()->HasExposureTimeEx() && Dev()->GetExposureTimeEx(&seconds)) device.exposureEx = seconds;
  if (Dev()->GetGlobalGainMin(&low) && Dev()->GetGlobalGainMax(&high)) limits.globalGain = {low, high};
  if (Dev()->GetColorGainMin(&low) && Dev()->GetColorGainMax(&high)) limits.colorGain = {low, high};
  if (Dev()->GetExposureTimeMin(&low) && Dev()->GetExposureTimeMax(&high)) limits.exposure = {low, high};

  CameraSettings settings;
  {
    SettingsSession session;
    SettingsPersistence store(session);
    if (!store.LoadFilter(SettingsCamera(), settings.filter)) {
      // Without stored image settings the automatic balance and its one-shot markers are off too.
      bayerGainAuto_ = 0;
      whiteBalanceOnce_[0] = whiteBalanceOnce_[1] = 0;
    }
    store.LoadGray(SettingsCamera(), settings.gray);
    store.LoadAnalog(SettingsCamera(), device, limits, settings.analog);
  }
  const auto& f = settings.filter;
  brightness_ = f.brightness;
  contrast_ = f.contrast;
  hue_ = f.hue;
  saturation_ = f.saturation;
  sharpness_ = f.sharpness;
  bayerGainRed_ = f.rGain;
  bayerGainGreen_ = f.gGain;
  bayerGainBlue_ = f.bGain;
  gamma_ = f.gamma;
  bayerMode_ = f.bayerMode;
  const auto& g = settings.gray;
  grayMode_ = g.mode;
  grayGain_[0] = g.gainR;
  grayGain_[1] = g.gainG1;
  grayGain_[2] = g.gainG2;
  grayGain_[3] = g.gainB;
  grayOffset_[0] = g.offsetR;
  grayOffset_[1] = g.offsetG1;
  grayOffset_[2] = g.offsetG2;
  grayOffset_[3] = g.offsetB;
  const auto& a = settings.analog;
  globalGain_ = a.global;
  colorGainG1_ = a.colorG1;
  colorGainR_ = a.colorR;
  colorGainB_ = a.colorB;
  colorGainG2_ = a.colorG2;
  exposure_ = a.exposure;
  mirrorV_ = a.vMirror;
  mirrorH_ = a.hMirror;
  autoIris_ = a.autoIris;
  gainMode_ = a.gainMode;
  blackLevel_ = a.blackLevel;
  exposureSeconds_ = a.exposureEx;
}

void COrvane::SaveCameraSettings() {
  CameraSettings settings;
  auto& f = settings.filter;
  f = {brightness_, contrast_, hue_, saturation_, sharpness_, bayerGainRed_, bayerGainGreen_, bayerGainBlue_, gamma_, bayerMode_};
  auto& g = settings.gray;
  g = {grayMode_, grayGain_[0], grayGain_[1], grayGain_[2], grayGain_[3],
       grayOffset_[0], grayOffset_[1], grayOffset_[2], grayOffset_[3]};
  auto& a = settings.analog;
  a.global = globalGain_;
  a.colorG1 = colorGainG1_;
  a.colorR = colorGainR_;
  a.colorB = colorGainB_;
  a.colorG2 = colorGainG2_;
  a.exposure = exposure_;
  a.vMirror = mirrorV_;
  a.hMirror = mirrorH_;
  a.autoIris = autoIris_;
  a.gainMode = gainMode_;
  a.blackLevel = blackLevel_;
  a.exposureEx = exposureSeconds_;
  SettingsSession session;
  SettingsPersistence store(session);
  store.SaveCamera(SettingsCamera(), settings);
  ORVANE_LOG(kSettings, kInfo, "saving the settings of camera %d", SettingsCamera());
}

int COrvane::SetCaptureWindow(int width, int height) {
  if (!RequireDevice()) return 0;
  std::optional<orvane::output::SizeSettings> preset;
  {
    SettingsSession session;
    SettingsPersistence store(session);
    preset = store.FindSizePreset(width, height);
  }
  if (!preset) {
    ReportError(ORVANE_ERR_WINDOW);
    return 0;
  }
  th_ = preset->th;
  tv_ = preset->tv;
  eh_ = preset->eh;
  ev_ = preset->ev;
  ehs_ = preset->ehs;
  evs_ = preset->evs;
  buf_ = preset->buf;
  if (!GeometryValid()) {
    ReportError(ORVANE_ERR_GEOMETRY);
    th_ = eh_ = kSensorWidth;
    tv_ = ev_ = kSensorHeight;
    ehs_ = evs_ = 0;
  }
  Dev()->SetWindow(ehs_, evs_, eh_, ev_, subSample_);
  return 1;
}
