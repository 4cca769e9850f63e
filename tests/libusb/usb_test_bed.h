// A USB test bed for the libusb backend: umockdev emulates sysfs, udev and usbfs device nodes, and an
// ioctl handler serves each node from a virtual camera (sim/) through the driver seam's Io. libusb
// runs unchanged on top: enumeration, claims, control and bulk URBs, discards, unplug and replug.
//
// Each device node is a link to a pseudo-terminal slave: its output is stopped (tcflow) while no URB
// is ready to reap and started when one is, so libusb's poll wakes exactly when there is work, and
// closing the master is the device going away. Bulk reads of the camera complete on the bed's own
// thread, straight into libusb's buffer (same process).
//
// Create the bed and plug its cameras before the first libusb call of the process.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/virtual_camera.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace orvane::test {

// The bed's cameras carry the camera's own IDs: the device core numbers cameras per product ID
// without regard to the vendor, so a second vendor would share numbers with other programs' cameras.
inline constexpr uint16_t kBedVendorId = 0x04B4;

// What the next control requests of a camera answer instead of the camera.
enum class ControlFault { kNone, kStall, kShort, kOversized };

class UsbTestBed {
 public:
  UsbTestBed();
  ~UsbTestBed();
  UsbTestBed(const UsbTestBed&) = delete;
  UsbTestBed& operator=(const UsbTestBed&) = delete;

  // Plugs a camera into `port` of bus 1 (kernel name "1-<port>") with serial "UMD0000<port>".
  sim::VirtualCamera& Plug(int port);
  // Pulls the camera out: pending URBs end with ESHUTDOWN, the node hangs up, udev says "remove".
  void Unplug(int port);
  // Plugs the same camera back into the same port, under a new device address.
  void Replug(int port);
  sim::VirtualCamera& Camera(int port);
  // The path the backend gives the camera at `port`.
  static std::string PathOf(int port);

  void SetControlFault(int port, ControlFault fault, int count);
  // The node refuses to open for a process without CAP_DAC_OVERRIDE (mode 0).
  void DenyAccess(int port);
  // A kernel driver holds the interface: GETDRIVER names it and claims are busy.
  void BindKernelDriver(int port, bool bound);
  // URBs discarded by libusb and reaped back (cancels and timeouts seen by the device).
  uint64_t DiscardedUrbs(int port);
  // URBs submitted and not yet reaped.
  size_t UrbsInFlight(int port);

 private:
  struct Urb;
  struct Node;
  static int HandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, Node* node);
  bool Ioctl(Node& node, UMockdevIoctlClient* client);
  void Submit(Node& node, UMockdevIoctlClient* client);
  void Reap(Node& node, UMockdevIoctlClient* client);
  void Discard(Node& node, UMockdevIoctlClient* client);
  void AnswerControl(Node& node, std::unique_ptr<Urb> urb);
  void ReadyLocked(Node& node, std::unique_ptr<Urb> urb, int status, int actual);
  void Attach(Node& node);
  void CompleteBulk(std::stop_token stop);

  UMockdevTestbed* bed_ = nullptr;
  std::string root_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::map<int, std::unique_ptr<Node>> nodes_;  // guarded by mutex_ (the map; a node lives as long as the bed)
  int nextAddress_ = 2;                         // guarded by mutex_
  std::jthread completer_;                      // completes bulk reads of the cameras
};

}  // namespace orvane::test
