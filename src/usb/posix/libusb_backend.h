// The Linux backend of the driver seam, on libusb-1.0.
//
// Devices: every present USB device with product ID 0x31F0 (any vendor), plus the vendor:product
// pairs listed in ORVANE_USB_EXTRA_IDS ("vvvv:pppp,..."; test beds use it). Each is exposed as a
// device-interface path of the Windows shape,
//   \\?\usb#vid_04b4&pid_31f0#1-2.4#{328184c5-93e6-49b7-94b8-2ada13aabb39}
// so the device table reads the vendor ID at character 12 and the product ID at 21. The instance part
// is the kernel's name of the port the camera is plugged into (bus, then the port path), so a camera
// keeps its path, and with it its number, in every process and across a replug into the same port.
//
// The seven I/O codes: control transfer -> libusb_control_transfer with the record's fields; direct
// and buffered bulk transfers -> asynchronous libusb transfers straight into the caller's buffer,
// completed by the backend's event thread; abort pipe -> cancel of every transfer in flight on that
// endpoint; reset pipe -> clear halt; reset port -> device reset; get speed -> device speed.
#pragma once

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "usb/driver_seam.h"

namespace orvane::usb::posix {

// Win32 error numbers this backend adds to the seam's.
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorBusy = 170;
// USB status word of a returned record when the device stalled the request (USBD_STATUS_STALL_PID).
inline constexpr uint32_t kUsbStatusStall = 0xC0000004u;
// USB status word when the device sent more than was asked for (USBD_STATUS_BABBLE_DETECTED).
inline constexpr uint32_t kUsbStatusBabble = 0xC0000012u;
// The camera's only interface, holding endpoints 0x01, 0x81 and 0x83.
inline constexpr int kCameraInterface = 0;

using IdPair = std::pair<uint16_t, uint16_t>;

// The pairs that ORVANE_USB_EXTRA_IDS adds; malformed items are skipped.
std::vector<IdPair> ParseExtraIds(const char* text);
// The device-interface path of a device on `bus` behind `ports` (outermost first).
std::string DevicePathOf(uint16_t vendorId, uint16_t productId, int bus, const uint8_t* ports, int portCount);

// One opened device, shared by every DeviceHandle on its path: usbfs keeps interface claims per file
// descriptor, so a second descriptor of the same process would find the interface busy.
class OpenDevice {
 public:
  OpenDevice(class LibusbDriver& driver, std::string path, libusb_device_handle* handle)
      : driver_(driver), path_(std::move(path)), handle_(handle) {}
  ~OpenDevice();
  OpenDevice(const OpenDevice&) = delete;
  OpenDevice& operator=(const OpenDevice&) = delete;

  libusb_device_handle* handle() const { return handle_; }
  LibusbDriver& driver() const { return driver_; }
  // Transfers in flight, so that abort pipe can cancel them.
  void Track(libusb_transfer* transfer);
  void Untrack(libusb_transfer* transfer);
  // Cancels every tracked transfer on `endpoint`; their owners see them complete as cancelled.
  void CancelEndpoint(uint8_t endpoint);

 private:
  LibusbDriver& driver_;
  const std::string path_;
  libusb_device_handle* const handle_;
  std::mutex mutex_;
  std::set<libusb_transfer*> inflight_;  // guarded by mutex_
};

class LibusbDriver final : public DriverBackend {
 public:
  LibusbDriver();
  ~LibusbDriver() override;
  LibusbDriver(const LibusbDriver&) = delete;
  LibusbDriver& operator=(const LibusbDriver&) = delete;

  std::vector<std::string> EnumerateInterfaces(const InterfaceGuid& guid, int maxMembers) override;
  std::unique_ptr<DeviceHandle> Open(const std::string& path, bool overlapped, uint32_t* error) override;

  // Called by an OpenDevice once it has closed its descriptor.
  void Forget(const std::string& path);
  // Ends the event thread and the hot-plug notifications (static destructors run: nothing may call
  // into destroyed objects any more). The context stays for handles closed later.
  void StopEvents();
  // After StopEvents, a waiter handles libusb's events itself, briefly; before, it does nothing.
  void HandleEventsIfStopped();

 private:
  bool Started();
  bool Accepts(uint16_t vendorId, uint16_t productId) const;
  std::string PathOf(libusb_device* device, const libusb_device_descriptor& descriptor) const;
  libusb_device* FindDeviceLocked(const std::string& path, libusb_device*** list);
  std::shared_ptr<OpenDevice> OpenLocked(const std::string& path, uint32_t* error);
  void ReportCount(int found, ssize_t seen);
  void EventLoop(std::stop_token stop);
  static int LIBUSB_CALL OnHotplug(libusb_context* ctx, libusb_device* device, libusb_hotplug_event event,
                                   void* self);

  std::vector<IdPair> extraIds_;  // set once by the constructor
  libusb_context* context_ = nullptr;  // set once by the constructor; null when libusb cannot start
  libusb_hotplug_callback_handle hotplug_ = 0;
  std::jthread events_;  // runs libusb's event handling for transfers and hot-plug
  std::atomic<bool> eventsStopped_{false};

  std::mutex openMutex_;
  std::condition_variable closed_;  // signalled when an entry of open_ is forgotten
  std::map<std::string, std::weak_ptr<OpenDevice>> open_;  // guarded by openMutex_
  int lastReported_ = -1;  // guarded by openMutex_: the camera count last written to the log
};

// An open handle on a shared device.
class LibusbHandle final : public DeviceHandle {
 public:
  LibusbHandle(std::shared_ptr<OpenDevice> device, bool overlapped)
      : device_(std::move(device)), overlapped_(overlapped) {}
  bool overlapped() const override { return overlapped_; }
  IoStart Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) override;

 private:
  IoStart ControlTransfer(uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength);
  IoStart BulkTransfer(uint8_t* record, uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t bias);
  IoStart Completed(uint32_t error, uint32_t bytes);

  std::shared_ptr<OpenDevice> device_;
  bool overlapped_;
};

// Win32 error number for a libusb error code.
uint32_t ErrorFromLibusb(int code);

}  // namespace orvane::usb::posix
