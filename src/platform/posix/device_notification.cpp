#include "platform/device_notification.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/messages.h"

namespace orvane::platform {
namespace {

// The registered windows and the broadcast record of each path seen.
struct Registry {
  std::mutex mutex;
  std::multiset<HWND> windows;  // guarded by mutex; a window registered twice gets two messages
  std::map<std::string, std::unique_ptr<DeviceInterfaceBroadcast>> records;  // guarded by mutex; never shrinks
};

Registry& TheRegistry() {
  static Registry* const registry = new Registry;  // outlives every static destructor that may post
  return *registry;
}

}  // namespace

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
  if (handle_ == nullptr) return;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.windows.find(static_cast<HWND>(handle_));
  if (it != registry.windows.end()) registry.windows.erase(it);
  handle_ = nullptr;
}

bool DeviceNotification::Register(HWND window, const Guid& guid) {
  Reset();
  if (window == nullptr || std::memcmp(&guid, &kCameraInterfaceGuid, sizeof(Guid)) != 0) return true;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.windows.insert(window);
  handle_ = window;
  return true;
}

void PostDeviceInterfaceChange(bool arrival, const std::string& path) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::unique_ptr<DeviceInterfaceBroadcast>& record = registry.records[path];
  if (!record) {
    record = std::make_unique<DeviceInterfaceBroadcast>();
    std::memset(record.get(), 0, sizeof(*record));
    record->size = static_cast<uint32_t>(sizeof(*record));
    record->deviceType = 5;  // DBT_DEVTYP_DEVICEINTERFACE
    record->classGuid = kCameraInterfaceGuid;
    std::strncpy(record->name, path.c_str(), sizeof(record->name) - 1);
  }
  const uintptr_t event = arrival ? kDbtDeviceArrival : kDbtDeviceRemoveComplete;
  for (HWND window : registry.windows) {
    PostWindowMessage(window, kWmDeviceChange, event, reinterpret_cast<intptr_t>(record.get()));
  }
}

}  // namespace orvane::platform
