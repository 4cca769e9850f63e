#include "persistence/camera_settings_io.h"

#include "persistence/settings_persistence.h"
#include "platform/log.h"
#include "platform/settings_store.h"

namespace orvane::persistence {

void LoadCameraSettings(int camera, const AnalogSettings& device, const AnalogLimits& limits,
                        settings::ImageSettings& image, settings::DeviceSettings& analog) {
  ORVANE_LOG(kSettings, kInfo, "loading the settings of camera %d", camera);
  CameraSettings stored;
  bool filterStored = false;
  {
    platform::SettingsSession session;
    SettingsPersistence store(session);
    filterStored = store.LoadFilter(camera, stored.image);
    store.LoadGray(camera, stored.image);
    store.LoadAnalog(camera, device, limits, stored.analog);
  }
  image.Restore(stored.image, filterStored);
  analog.Restore(stored.analog);
  (void)image.SetAutoIris(stored.analog.autoIris);  // range-checked by the load
}

void SaveCameraSettings(int camera, const settings::ImageSettings& image, const settings::DeviceSettings& analog) {
  CameraSettings settings;
  settings.image = image.Values();
  settings.analog = analog.Values();
  settings.analog.autoIris = image.AutoIris();
  platform::SettingsSession session;
  SettingsPersistence store(session);
  store.SaveCamera(camera, settings);
  ORVANE_LOG(kSettings, kInfo, "saving the settings of camera %d", camera);
}

}  // namespace orvane::persistence
