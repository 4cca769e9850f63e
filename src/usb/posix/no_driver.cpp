#include "usb/driver_seam.h"

namespace orvane::usb {
namespace {

// Linux has no camera driver: no interface is ever present and no path opens.
class NoDriver final : public DriverBackend {
 public:
  std::vector<std::string> EnumerateInterfaces(const InterfaceGuid&, int) override { return {}; }
  std::unique_ptr<DeviceHandle> Open(const std::string&, bool, uint32_t* error) override {
    if (error != nullptr) *error = kErrorFileNotFound;
    return nullptr;
  }
};

}  // namespace

DriverBackend& PlatformDriver() {
  static NoDriver driver;
  return driver;
}

}  // namespace orvane::usb
