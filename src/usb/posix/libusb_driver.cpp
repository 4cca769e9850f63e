// Enumeration, opening and hot-plug of the libusb backend, and its event thread.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/device_notification.h"
#include "platform/log.h"
#include "usb/posix/libusb_backend.h"

namespace orvane::usb::posix {
namespace {

constexpr uint16_t kCameraProductId = 0x31F0;
// How long the event thread sleeps in libusb at most before it looks at its stop request again; a
// stop also interrupts it at once.
constexpr int kEventSliceMs = 500;

}  // namespace

std::vector<IdPair> ParseExtraIds(const char* text) {
  std::vector<IdPair> pairs;
  if (text == nullptr) return pairs;
  const char* p = text;
  while (*p != '\0') {
    unsigned vendor = 0;
    unsigned product = 0;
    int used = 0;
    if (std::sscanf(p, "%4x:%4x%n", &vendor, &product, &used) == 2 && (p[used] == ',' || p[used] == '\0')) {
      pairs.emplace_back(static_cast<uint16_t>(vendor), static_cast<uint16_t>(product));
    }
    p = std::strchr(p, ',');
    if (p == nullptr) break;
    ++p;
  }
  return pairs;
}

std::string DevicePathOf(uint16_t vendorId, uint16_t productId, int bus, const uint8_t* ports, int portCount) {
  // The instance is the kernel's device name ("1-2.4"): bus, then the port path; a device without a
  // port path (a root hub) is named after its bus alone ("usb1"), as the kernel does.
  std::string instance = portCount > 0 ? std::to_string(bus) + "-" : "usb" + std::to_string(bus);
  for (int i = 0; i < portCount; ++i) {
    if (i != 0) instance += '.';
    instance += std::to_string(ports[i]);
  }
  char prefix[40];
  std::snprintf(prefix, sizeof(prefix), "\\\\?\\usb#vid_%04x&pid_%04x#", vendorId, productId);
  return std::string(prefix) + instance + "#{328184c5-93e6-49b7-94b8-2ada13aabb39}";
}

uint32_t ErrorFromLibusb(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return kErrorSuccess;
    case LIBUSB_ERROR_ACCESS: return kErrorAccessDenied;
    case LIBUSB_ERROR_NO_DEVICE: return kErrorDeviceNotConnected;
    case LIBUSB_ERROR_NOT_FOUND: return kErrorFileNotFound;
    case LIBUSB_ERROR_BUSY: return kErrorBusy;
    case LIBUSB_ERROR_TIMEOUT: return kErrorSemTimeout;
    case LIBUSB_ERROR_INVALID_PARAM: return kErrorInvalidParameter;
    case LIBUSB_ERROR_INTERRUPTED: return kErrorOperationAborted;
    default: return kErrorGenFailure;
  }
}

LibusbDriver::LibusbDriver() : extraIds_(ParseExtraIds(std::getenv("ORVANE_USB_EXTRA_IDS"))) {
  const int rc = libusb_init(&context_);
  if (rc != LIBUSB_SUCCESS) {
    context_ = nullptr;
    ORVANE_LOG(kUsb, kWarn, "libusb cannot start (%s): no camera can be reached", libusb_error_name(rc));
    return;
  }
  // libusb writes its own messages to stderr whatever handler a context has; the library reports
  // every failure itself, in its log.
  libusb_set_option(context_, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
  if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
    const int hot = libusb_hotplug_register_callback(
        context_, static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug,
        this, &hotplug_);
    if (hot != LIBUSB_SUCCESS) {
      hotplug_ = 0;
      ORVANE_LOG(kUsb, kWarn, "no hot-plug notifications: %s", libusb_error_name(hot));
    }
  } else {
    ORVANE_LOG(kUsb, kWarn, "this libusb has no hot-plug support: no arrival or removal notifications");
  }
  events_ = std::jthread([this](std::stop_token stop) { EventLoop(std::move(stop)); });
}

LibusbDriver::~LibusbDriver() {
  if (context_ == nullptr) return;
  StopEvents();
  libusb_exit(context_);
}

void LibusbDriver::StopEvents() {
  if (context_ == nullptr || !events_.joinable()) return;
  if (hotplug_ != 0) libusb_hotplug_deregister_callback(context_, hotplug_);
  hotplug_ = 0;
  events_.request_stop();
  libusb_interrupt_event_handler(context_);
  events_.join();
  eventsStopped_.store(true);
}

void LibusbDriver::HandleEventsIfStopped() {
  if (!eventsStopped_.load()) return;
  timeval slice{0, 10 * 1000};
  libusb_handle_events_timeout_completed(context_, &slice, nullptr);
}

void LibusbDriver::EventLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    timeval slice{0, kEventSliceMs * 1000};
    const int rc = libusb_handle_events_timeout_completed(context_, &slice, nullptr);
    if (rc != LIBUSB_SUCCESS && rc != LIBUSB_ERROR_INTERRUPTED && rc != LIBUSB_ERROR_TIMEOUT) {
      ORVANE_LOG(kUsb, kError, "libusb event handling failed: %s", libusb_error_name(rc));
      std::this_thread::sleep_for(std::chrono::milliseconds(kEventSliceMs));
    }
  }
}

int LIBUSB_CALL LibusbDriver::OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                        void* self) {
  auto* driver = static_cast<LibusbDriver*>(self);
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
      !driver->Accepts(descriptor.idVendor, descriptor.idProduct)) {
    return 0;
  }
  const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
  const std::string path = driver->PathOf(device, descriptor);
  ORVANE_LOG(kUsb, kInfo, "camera %s: %s", arrived ? "arrived" : "removed", path.c_str());
  platform::PostDeviceInterfaceChange(arrived, path);
  return 0;  // stay registered
}

bool LibusbDriver::Started() { return context_ != nullptr; }

bool LibusbDriver::Accepts(uint16_t vendorId, uint16_t productId) const {
  if (productId == kCameraProductId) return true;
  for (const IdPair& pair : extraIds_) {
    if (pair.first == vendorId && pair.second == productId) return true;
  }
  return false;
}

std::string LibusbDriver::PathOf(libusb_device* device, const libusb_device_descriptor& descriptor) const {
  uint8_t ports[8] = {};
  const int count = libusb_get_port_numbers(device, ports, static_cast<int>(sizeof(ports)));
  return DevicePathOf(descriptor.idVendor, descriptor.idProduct, libusb_get_bus_number(device), ports,
                      count > 0 ? count : 0);
}

void LibusbDriver::ReportCount(int found, ssize_t seen) {
  std::lock_guard<std::mutex> lock(openMutex_);
  if (found == lastReported_) return;
  lastReported_ = found;
  if (found == 0) {
    ORVANE_LOG(kUsb, kInfo, "no device with product ID 0x%04X was found (%zd USB devices present)",
               kCameraProductId, seen < 0 ? ssize_t{0} : seen);
  } else {
    ORVANE_LOG(kUsb, kInfo, "%d camera(s) present", found);
  }
}

std::vector<std::string> LibusbDriver::EnumerateInterfaces(const InterfaceGuid& guid, int maxMembers) {
  std::vector<std::string> paths;
  if (!Started() || !(guid == kCameraInterfaceGuid)) {
    if (!Started()) ORVANE_LOG(kUsb, kDebug, "libusb is not available: no camera enumerated");
    return paths;
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) {
    ORVANE_LOG(kUsb, kWarn, "cannot list USB devices: %s", libusb_error_name(static_cast<int>(count)));
    return paths;
  }
  for (ssize_t i = 0; i < count && static_cast<int>(paths.size()) < maxMembers; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
    if (!Accepts(descriptor.idVendor, descriptor.idProduct)) continue;
    paths.push_back(PathOf(list[i], descriptor));
  }
  libusb_free_device_list(list, 1);
  ReportCount(static_cast<int>(paths.size()), count);
  return paths;
}

libusb_device* LibusbDriver::FindDeviceLocked(const std::string& path, libusb_device*** list) {
  const ssize_t count = libusb_get_device_list(context_, list);
  if (count < 0) return nullptr;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor((*list)[i], &descriptor) != LIBUSB_SUCCESS) continue;
    if (Accepts(descriptor.idVendor, descriptor.idProduct) && PathOf((*list)[i], descriptor) == path) {
      return (*list)[i];
    }
  }
  return nullptr;
}

std::shared_ptr<OpenDevice> LibusbDriver::OpenLocked(const std::string& path, uint32_t* error) {
  libusb_device** list = nullptr;
  libusb_device* device = FindDeviceLocked(path, &list);
  libusb_device_handle* handle = nullptr;
  int rc = device == nullptr ? LIBUSB_ERROR_NOT_FOUND : libusb_open(device, &handle);
  if (list != nullptr) libusb_free_device_list(list, 1);
  if (rc == LIBUSB_ERROR_ACCESS) {
    ORVANE_LOG(kUsb, kWarn,
               "permission denied opening %s: install packaging/udev/70-orvane-kd7.rules (see README)", path.c_str());
  }
  if (rc == LIBUSB_SUCCESS && libusb_kernel_driver_active(handle, kCameraInterface) == 1) {
    // Another kernel driver owns the camera's interface; taking it away is the administrator's call.
    ORVANE_LOG(kUsb, kWarn, "%s: a kernel driver is bound to the camera's interface", path.c_str());
    rc = LIBUSB_ERROR_BUSY;
  }
  if (rc == LIBUSB_SUCCESS) {
    rc = libusb_claim_interface(handle, kCameraInterface);
    if (rc == LIBUSB_ERROR_BUSY) ORVANE_LOG(kUsb, kWarn, "%s: the camera is in use by another program", path.c_str());
  }
  if (rc != LIBUSB_SUCCESS) {
    if (handle != nullptr) libusb_close(handle);
    ORVANE_LOG(kUsb, kDebug, "cannot open %s: %s", path.c_str(), libusb_error_name(rc));
    if (error != nullptr) *error = rc == LIBUSB_ERROR_NO_DEVICE ? kErrorFileNotFound : ErrorFromLibusb(rc);
    return nullptr;
  }
  return std::make_shared<OpenDevice>(*this, path, handle);
}

std::unique_ptr<DeviceHandle> LibusbDriver::Open(const std::string& path, bool overlapped, uint32_t* error) {
  if (!Started()) {
    if (error != nullptr) *error = kErrorFileNotFound;
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(openMutex_);
  // A device whose last handle is closing is waited for: its descriptor still holds the claim.
  closed_.wait(lock, [&] {
    auto it = open_.find(path);
    return it == open_.end() || !it->second.expired();
  });
  std::shared_ptr<OpenDevice> device = open_.count(path) != 0 ? open_[path].lock() : nullptr;
  if (!device) {
    device = OpenLocked(path, error);
    if (!device) return nullptr;
    open_[path] = device;
  }
  return std::make_unique<LibusbHandle>(std::move(device), overlapped);
}

void LibusbDriver::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(openMutex_);
  auto it = open_.find(path);
  if (it != open_.end() && it->second.expired()) open_.erase(it);
  closed_.notify_all();
}

OpenDevice::~OpenDevice() {
  libusb_release_interface(handle_, kCameraInterface);
  libusb_close(handle_);
  driver_.Forget(path_);
}

void OpenDevice::Track(libusb_transfer* transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  inflight_.insert(transfer);
}

void OpenDevice::Untrack(libusb_transfer* transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  inflight_.erase(transfer);
}

void OpenDevice::CancelEndpoint(uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (libusb_transfer* transfer : inflight_) {
    if (transfer->endpoint == endpoint) libusb_cancel_transfer(transfer);
  }
}

}  // namespace orvane::usb::posix

namespace orvane::usb {

// Stand-ins (the virtual cameras) are chosen above this, in SystemDriver(); here the platform's own driver. It
// lives until the process ends: SDK objects that an application never released are destroyed by
// static destructors too, in no order relative to this one, and still close their handles. Only its
// event thread ends with the static destructors, so that no callback reaches a destroyed object.
DriverBackend& PlatformDriver() {
  static posix::LibusbDriver* const driver = new posix::LibusbDriver;
  static const struct EventsStopper {
    ~EventsStopper() { driver->StopEvents(); }
  } stopper;
  return *driver;
}

}  // namespace orvane::usb
