// Registration of a window for device-interface arrival and removal notifications.
#pragma once

#include "OrvaneSdk.h"

namespace orvane::platform {

// Interface class GUID in its Win32 layout.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// The camera driver's device-interface class {328184C5-93E6-49B7-94B8-2ADA13AABB39}.
inline constexpr Guid kCameraInterfaceGuid{0x328184C5, 0x93E6, 0x49B7, {0x94, 0xB8, 0x2A, 0xDA, 0x13, 0xAA, 0xBB, 0x39}};

// Owns one registration (RegisterDeviceNotificationA with a device-interface filter, window
// recipient); unregistered on destruction. On Linux there are no such notifications and the
// registration always succeeds.
class DeviceNotification {
 public:
  DeviceNotification() = default;
  ~DeviceNotification();
  DeviceNotification(DeviceNotification&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  DeviceNotification& operator=(DeviceNotification&& other) noexcept;
  DeviceNotification(const DeviceNotification&) = delete;
  DeviceNotification& operator=(const DeviceNotification&) = delete;

  // Registers `window` for arrivals and removals of interfaces of class `guid`; false on failure.
  bool Register(HWND window, const Guid& guid);

 private:
  void Reset();
  void* handle_ = nullptr;
};

}  // namespace orvane::platform
