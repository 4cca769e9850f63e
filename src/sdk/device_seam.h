// The device object behind an SDK object (the camera's device core). The SDK object reaches it
// through this seam only, so that it can be built and tested before and without a device core:
// while the device layer provides none, an SDK object has no device object and every operation
// that needs one fails with ORVANE_ERR_NOT_NOW.
#pragma once

#include <memory>

class COrvaneUSB3R5SimpleSdk;

namespace orvane::sdk {

struct DeviceObjectDeleter {
  void operator()(COrvaneUSB3R5SimpleSdk* device) const noexcept;
};
using DeviceObjectPtr = std::unique_ptr<COrvaneUSB3R5SimpleSdk, DeviceObjectDeleter>;

// Whether this build has a device core at all.
bool DeviceCoreAvailable();
// A new device object; null when it cannot be created (or the build has no device core).
DeviceObjectPtr NewDeviceObject();

}  // namespace orvane::sdk
