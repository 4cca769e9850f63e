// The per-camera settings in the user's settings store: loaded at setup and camera change, saved
// at camera change and release, and the capture size presets.

#include "persistence/camera_settings_io.h"
#include "persistence/settings_persistence.h"
#include "platform/log.h"
#include "platform/settings_store.h"
#include "sdk/orvane.h"

using orvane::persistence::SettingsPersistence;
using orvane::platform::SettingsSession;

namespace {

orvane::persistence::ColorModeQueries Queries(COrvaneR3O5Base& device) {
  return {device.AllowsGray8AndBgrx() != 0, device.AllowsGray16() != 0, device.AllowsColorModes() != 0};
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
  orvane::persistence::SizeSettings size;
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
  orvane::persistence::StreamSettings stream;
  stream.color = colorMode_;
  stream.subSample = subSample_;
  stream.waitTime = frameLoop_.WaitTime();
  stream.clock = clock_;
  if (!store.LoadStream(SettingsCamera(), Queries(*Dev().get()), stream)) return;
  colorMode_ = stream.color;
  subSample_ = stream.subSample == 17 ? 17 : 0;
  frameLoop_.SetWaitTime(stream.waitTime);
  clock_ = stream.clock;
}

void COrvane::ReloadStreamSettings() {
  LoadSizeSettings();
  LoadStreamSettings();
}

// Loads the analog, filter and gray settings of the selected camera into the settings parts.
// The device is read first and released before the store is opened.
void COrvane::LoadCameraSettings() {
  orvane::settings::AnalogSettings current;
  orvane::settings::AnalogLimits limits;
  {
    DeviceAccess device = Dev();
    orvane::settings::DeviceSettings::ReadDevice(*device.get(), &current, &limits);
  }
  orvane::persistence::LoadCameraSettings(SettingsCamera(), current, limits, imageSettings_, deviceSettings_);
}

void COrvane::SaveCameraSettings() {
  orvane::persistence::SaveCameraSettings(SettingsCamera(), imageSettings_, deviceSettings_);
}

int COrvane::SetCaptureWindow(int width, int height) {
  if (!RequireDevice()) return 0;
  std::optional<orvane::persistence::SizeSettings> preset;
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
