#include "usb/driver_seam.h"

#include <atomic>

namespace orvane::usb {

namespace {

std::atomic<DriverChooser>& OfferedChooser() {
  static std::atomic<DriverChooser> chooser{nullptr};
  return chooser;
}

}  // namespace

void OfferDriverChooser(DriverChooser chooser) { OfferedChooser().store(chooser); }

DriverBackend& SystemDriver() {
  static DriverBackend* const driver = []() -> DriverBackend* {
    const DriverChooser chooser = OfferedChooser().load();
    if (DriverBackend* chosen = chooser != nullptr ? chooser() : nullptr) return chosen;
    return &PlatformDriver();
  }();
  return *driver;
}

}  // namespace orvane::usb
