#include "usb/fx3_api.h"

#include <cstdio>
#include <cstring>

namespace orvane::usb {
namespace {

// Product-family names keyed by USB product ID, for cameras of the family that share this driver.
// This camera (0x31F0) has no entry: its SDK names it itself.
struct FamilyName {
  uint16_t productId;
  const char* name;
};
constexpr FamilyName kFamilyNames[] = {
    {0x31C0, "OrvaneKD3-USB3-R5"},
    {0x31D0, "OrvaneKD5-USB3-R5"},
    {0x31E0, "OrvaneKD6-USB3-R5"},
};

// At most this many interface members are examined per enumeration.
constexpr int kMaxInterfaceMembers = 32;

}  // namespace
}  // namespace orvane::usb

using namespace orvane::usb;

CFx3Api::CFx3Api(const ControllerOptions& options)
    : guid_(options.guid), driver_(options.driver != nullptr ? options.driver : &SystemDriver()),
      sectionName_(options.sectionName), table_(DeviceTable::Attach(options.sectionName)) {}

CFx3Api::~CFx3Api() = default;

int CFx3Api::EnumerateDevices() {
  if (!table_) return 0;
  for (const std::string& path : driver_->EnumerateInterfaces(guid_, kMaxInterfaceMembers)) {
    uint32_t error = 0;
    // Only interfaces that can be opened right now count as cameras.
    if (driver_->Open(path, true, &error) == nullptr) continue;
    table_->AddDevice(path);
  }
  return table_->DeviceCount();
}

int CFx3Api::DeviceCount() const { return table_ ? table_->DeviceCount() : 0; }

std::optional<DeviceEntry> CFx3Api::GetDeviceEntry(int index) const {
  if (!table_ || index < 0 || index >= table_->DeviceCount()) return std::nullopt;
  return table_->Entry(index);
}

bool CFx3Api::IsDeviceOpenable(int index) { return OpenDeviceHandle(index, false) != nullptr; }

std::unique_ptr<DeviceHandle> CFx3Api::OpenDeviceHandle(int index, bool overlapped) {
  if (!table_ || index < 0 || index >= kMaxDevices) return nullptr;
  const std::optional<std::string> path = table_->UsedPath(index);
  if (!path) return nullptr;
  uint32_t error = 0;
  return driver_->Open(*path, overlapped, &error);
}

bool CFx3Api::GetDeviceName(int index, char* text, size_t size) {
  if (text == nullptr || !IsDeviceOpenable(index)) return false;
  const std::optional<DeviceEntry> entry = GetDeviceEntry(index);
  if (!entry) return false;
  for (const FamilyName& family : kFamilyNames) {
    if (family.productId != entry->productId) continue;
    char name[64];
    const int n = std::snprintf(name, sizeof(name), "%s_%02d", family.name, entry->ordinal);
    if (n < 0 || static_cast<size_t>(n) >= size) return false;
    std::memcpy(text, name, static_cast<size_t>(n) + 1);
    return true;
  }
  return false;
}
