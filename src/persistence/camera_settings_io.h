// The per-camera settings of the settings parts in the user's settings store: loaded at setup and
// camera change, saved at camera change and release.
#pragma once

#include "settings/device_settings.h"
#include "settings/image_settings.h"

namespace orvane::persistence {

// Loads camera `camera`'s analog, filter and gray settings into the parts. Absent values take the
// device's current ones (`device`, from DeviceSettings::ReadDevice) or the filter table's defaults
// (filter, gray); the device's `limits` check the analog values read.
void LoadCameraSettings(int camera, const settings::AnalogSettings& device, const settings::AnalogLimits& limits,
                        settings::ImageSettings& image, settings::DeviceSettings& analog);
void SaveCameraSettings(int camera, const settings::ImageSettings& image, const settings::DeviceSettings& analog);

}  // namespace orvane::persistence
