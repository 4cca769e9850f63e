#include "usb/driver_seam.h"

#include <cstdlib>

#include "sim/virtual_bus.h"

namespace orvane::usb {

DriverBackend& SystemDriver() {
  static DriverBackend* const driver = []() -> DriverBackend* {
    const int cameras = sim::CamerasRequestedByEnvironment();
    if (cameras > 0) return &sim::ProcessBus(cameras);
    return &PlatformDriver();
  }();
  return *driver;
}

}  // namespace orvane::usb
