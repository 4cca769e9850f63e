// The virtual cameras as the process's driver: the chooser that the layer creating controllers offers
// to the driver seam (usb::OfferDriverChooser).
#pragma once

#include "usb/driver_seam.h"

namespace orvane::sim {

// The process's virtual bus when ORVANE_SIM_CAMERAS asks for virtual cameras (1..32), else null (the
// platform's driver).
usb::DriverBackend* EnvironmentDriver();

}  // namespace orvane::sim
