// Registration of a window for device-interface arrival and removal notifications.
#pragma once

#include <cstdint>
#include <string>

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
// recipient); unregistered on destruction. On Linux the registration always succeeds and the window
// (a message queue) receives what the USB backend reports through PostDeviceInterfaceChange.
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

#ifndef _WIN32
// WM_DEVICECHANGE and its two events, as Windows posts them to a registered window.
inline constexpr uint32_t kWmDeviceChange = 0x0219;
inline constexpr uintptr_t kDbtDeviceArrival = 0x8000;
inline constexpr uintptr_t kDbtDeviceRemoveComplete = 0x8004;

// What lParam points at: the DEV_BROADCAST_DEVICEINTERFACE_A layout (size, device type 5, reserved,
// class GUID, zero-terminated path). One record per path lives as long as the process, so a posted
// message never outlives the record it points at.
struct DeviceInterfaceBroadcast {
  uint32_t size;
  uint32_t deviceType;
  uint32_t reserved;
  Guid classGuid;
  char name[260];
};

// Posts WM_DEVICECHANGE (arrival or removal of the interface at `path`) to every registered window.
// The Linux USB backend calls it from its hot-plug callback; it never blocks.
void PostDeviceInterfaceChange(bool arrival, const std::string& path);
#endif

}  // namespace orvane::platform
