#include "platform/device_notification.h"

#include <dbt.h>

#include <cstring>

namespace orvane::platform {

DeviceNotification::~DeviceNotification() { Reset(); }

DeviceNotification& DeviceNotification::operator=(DeviceNotification&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void DeviceNotification::Reset() {
  if (handle_ != nullptr) UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(handle_));
  handle_ = nullptr;
}

bool DeviceNotification::Register(HWND window, const Guid& guid) {
  Reset();
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;  // 5
  static_assert(sizeof(filter.dbcc_classguid) == sizeof(guid));
  std::memcpy(&filter.dbcc_classguid, &guid, sizeof(guid));
  handle_ = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  return handle_ != nullptr;
}

}  // namespace orvane::platform
