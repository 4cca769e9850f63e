#include "platform/device_notification.h"

namespace orvane::platform {

DeviceNotification::~DeviceNotification() = default;

DeviceNotification& DeviceNotification::operator=(DeviceNotification&& other) noexcept {
  handle_ = other.handle_;
  other.handle_ = nullptr;
  return *this;
}

void DeviceNotification::Reset() { handle_ = nullptr; }

bool DeviceNotification::Register(HWND, const Guid&) { return true; }

}  // namespace orvane::platform
