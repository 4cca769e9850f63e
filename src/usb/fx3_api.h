// CFx3Api: discovery and numbering of the cameras the driver exposes, and driver handles on demand.
// It attaches the machine-wide device table (device_table.h) for its lifetime.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "usb/controller_options.h"
#include "usb/device_table.h"
#include "usb/driver_seam.h"

class CFx3Api {
 public:
  explicit CFx3Api(const orvane::usb::ControllerOptions& options);
  virtual ~CFx3Api();
  CFx3Api(const CFx3Api&) = delete;
  CFx3Api& operator=(const CFx3Api&) = delete;

  // True when the shared device table could be attached; without it no device is ever found.
  bool IsAttached() const { return table_.has_value(); }

  // Enumerates the driver's present interfaces (at most 32 members), records new ones in the shared
  // table and returns the number of used entries.
  int EnumerateDevices();
  // Number of used entries, without enumerating.
  int DeviceCount() const;
  // A used entry (index below the device count).
  std::optional<orvane::usb::DeviceEntry> GetDeviceEntry(int index) const;
  // 1 when `index` is a used entry whose path opens (synchronously); the handle is closed again.
  bool IsDeviceOpenable(int index);
  // A handle on entry `index`, overlapped or synchronous; null when out of range or the open fails.
  std::unique_ptr<orvane::usb::DeviceHandle> OpenDeviceHandle(int index, bool overlapped);
  // The product-family name of entry `index` with its ordinal as a two-digit suffix. This camera's
  // product ID (0x31F0) has no name in the family table: the call then fails and leaves `text` alone.
  // Fails too when the name and its terminator do not fit `size`.
  bool GetDeviceName(int index, char* text, size_t size);

  // The Win32 error of the last direct bulk request: 0 when the driver accepted it at once.
  uint32_t LastDriverError() const { return lastDriverError_.load(); }

  const orvane::usb::InterfaceGuid& guid() const { return guid_; }
  // The shared device table's name: the scope in which camera numbers, and claims on cameras, hold.
  const std::string& sectionName() const { return sectionName_; }

 protected:
  orvane::usb::DriverBackend& driver() const { return *driver_; }
  // Written by every direct bulk request; atomic because the streaming thread and callers of the
  // memory transfers may issue them at the same time.
  std::atomic<uint32_t> lastDriverError_{0};

 private:
  orvane::usb::InterfaceGuid guid_;
  orvane::usb::DriverBackend* driver_;
  std::string sectionName_;
  // The table object serialises its own access with the section's named lock.
  std::optional<orvane::usb::DeviceTable> table_;
};
