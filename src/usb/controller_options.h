// How a controller reaches its driver and the machine-wide device table. The defaults are the
// product's: the camera interface class, the process's driver (SystemDriver()) and the section
// "R3O5-MemMap". Tests pass their own driver (a virtual bus) and a private section name.
#pragma once

#include <string>

#include "usb/driver_seam.h"

namespace orvane::usb {

// Name of the shared section that holds the device table.
inline constexpr char kDefaultSectionName[] = "R3O5-MemMap";

struct ControllerOptions {
  InterfaceGuid guid = kCameraInterfaceGuid;
  DriverBackend* driver = nullptr;  // null: SystemDriver()
  std::string sectionName = kDefaultSectionName;
};

}  // namespace orvane::usb
