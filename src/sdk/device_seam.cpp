#include "sdk/device_seam.h"

namespace orvane::sdk {

// No device core is linked into this build yet: no object is ever created, so none is deleted.
void DeviceObjectDeleter::operator()(COrvaneUSB3R5SimpleSdk*) const noexcept {}

bool DeviceCoreAvailable() { return false; }

DeviceObjectPtr NewDeviceObject() { return nullptr; }

}  // namespace orvane::sdk
