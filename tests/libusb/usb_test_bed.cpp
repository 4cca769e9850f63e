#include "usb_test_bed.h"

#include <fcntl.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "usb/transfer_record.h"

namespace orvane::test {
namespace {

// Device and configuration descriptors of a SuperSpeed camera: one vendor interface with bulk
// endpoints 0x81, 0x01 and 0x83, each with its companion descriptor.
std::string DescriptorHex(uint16_t vendor, uint16_t product) {
  std::vector<uint8_t> d = {0x12, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x09, uint8_t(vendor), uint8_t(vendor >> 8),
                            uint8_t(product), uint8_t(product >> 8), 0x00, 0x01, 0, 0, 0, 1};
  const std::vector<uint8_t> config = {0x09, 0x02, 57, 0, 1, 1, 0, 0x80, 0x32, 0x09, 0x04, 0, 0, 3, 0xFF, 0, 0, 0};
  d.insert(d.end(), config.begin(), config.end());
  for (uint8_t ep : {0x81, 0x01, 0x83}) {
    const std::vector<uint8_t> e = {0x07, 0x05, ep, 0x02, 0x00, 0x04, 0x00, 0x06, 0x30, 0x0F, 0x00, 0x00, 0x00};
    d.insert(d.end(), e.begin(), e.end());
  }
  std::string hex;
  char b[3];
  for (uint8_t v : d) {
    std::snprintf(b, sizeof(b), "%02x", v);
    hex += b;
  }
  return hex;
}

// Scatter-gather: a 512 KiB read is one URB.
void AnswerCapabilities(UMockdevIoctlClient* client) {
  UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(uint32_t), nullptr);
  *reinterpret_cast<uint32_t*>(caps->data) = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                                              USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                                              USBDEVFS_CAP_ZERO_PACKET;
  umockdev_ioctl_data_unref(caps);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test bed: ") + what + ": " + std::strerror(errno));
}

}  // namespace

struct UsbTestBed::Urb {
  ~Urb() {
    io.reset();
    if (buffer != nullptr) umockdev_ioctl_data_unref(buffer);
    if (data != nullptr) umockdev_ioctl_data_unref(data);
  }
  usbdevfs_urb* urb() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
  UMockdevIoctlData* data = nullptr;  // the submitted URB, kept until reaped
  UMockdevIoctlData* buffer = nullptr;  // a control URB's buffer, copied back when its submit completes
  uint8_t record[usb::kTransferRecordSize] = {};
  std::unique_ptr<usb::PendingIo> io;  // the camera's read; touched by the completer only
  bool discard = false;
};

struct UsbTestBed::Node {
  UsbTestBed* bed = nullptr;
  int port = 0;
  int address = 0;
  std::string sysfs;
  std::string devnode;
  std::shared_ptr<sim::VirtualCamera> camera;
  uint64_t generation = 0;
  UMockdevIoctlBase* handler = nullptr;
  int master = -1;
  int slave = -1;
  // Below: guarded by the bed's mutex_.
  bool plugged = true;
  ControlFault fault = ControlFault::kNone;
  int faultCount = 0;
  bool kernelDriver = false;
  uint64_t discarded = 0;
  std::deque<std::unique_ptr<Urb>> pending;  // bulk reads at the camera
  std::deque<std::unique_ptr<Urb>> ready;    // URBs to reap, status set
};

UsbTestBed::UsbTestBed() {
  bed_ = umockdev_testbed_new();
  char* root = umockdev_testbed_get_root_dir(bed_);
  root_ = root;
  g_free(root);
  completer_ = std::jthread([this](std::stop_token stop) { CompleteBulk(std::move(stop)); });
}

UsbTestBed::~UsbTestBed() {
  completer_.request_stop();
  work_.notify_all();
  completer_.join();
  for (auto& [key, node] : nodes_) {
    if (node->master >= 0) close(node->master);
    if (node->slave >= 0) close(node->slave);
  }
  g_object_unref(bed_);
}

std::string UsbTestBed::PathOf(int port) {
  char path[128];
  std::snprintf(path, sizeof(path), "\\\\?\\usb#vid_%04x&pid_31f0#1-%d#{328184c5-93e6-49b7-94b8-2ada13aabb39}",
                kBedVendorId, port);
  return path;
}

sim::VirtualCamera& UsbTestBed::Plug(int port) {
  auto node = std::make_unique<Node>();
  node->bed = this;
  node->port = port;
  sim::CameraConfig config;
  config.vendorId = kBedVendorId;
  config.serial = "UMD0000" + std::to_string(port);
  config.pacing = sim::Pacing::kFast;
  config.gpio25DelayMs = 0;
  node->camera = std::make_shared<sim::VirtualCamera>(config);
  Node& n = *node;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[port * 1000 + nextAddress_] = std::move(node);
  }
  Attach(n);
  return *n.camera;
}

void UsbTestBed::Attach(Node& node) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    node.address = nextAddress_++;
    node.generation = node.camera->generation();
  }
  char devnode[64];
  std::snprintf(devnode, sizeof(devnode), "/dev/bus/usb/001/%03d", node.address);
  node.devnode = devnode;
  node.sysfs = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(node.port);
  node.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  Check(node.master >= 0 && grantpt(node.master) == 0 && unlockpt(node.master) == 0, "pty");
  const std::string slave = ptsname(node.master);
  node.slave = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  Check(node.slave >= 0 && tcflow(node.slave, TCOOFF) == 0, "pty slave");
  std::filesystem::create_directories(root_ + "/dev/bus/usb/001");
  std::filesystem::create_symlink(slave, root_ + devnode);

  node.handler = umockdev_ioctl_base_new();
  g_signal_connect(node.handler, "handle-ioctl", G_CALLBACK(HandleIoctl), &node);
  GError* error = nullptr;
  Check(umockdev_testbed_attach_ioctl(bed_, devnode, node.handler, &error), "attach ioctl");
  const uint16_t vendor = kBedVendorId;
  char text[1024];
  std::snprintf(text, sizeof(text),
                "P: %s\nN: bus/usb/001/%03d\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=%s\n"
                "E: BUSNUM=001\nE: DEVNUM=%03d\nA: idVendor=%04x\\n\nA: idProduct=31f0\\n\nA: busnum=1\\n\n"
                "A: devnum=%d\\n\nA: speed=5000\\n\nA: bConfigurationValue=1\\n\nH: descriptors=%s\n",
                node.sysfs.c_str() + 4, node.address, devnode, node.address, vendor, node.address,
                DescriptorHex(vendor, 0x31F0).c_str());
  Check(umockdev_testbed_add_from_string(bed_, text, &error), "add device");
}

void UsbTestBed::Unplug(int port) {
  Node* node = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [key, n] : nodes_) {
      if (n->port == port && n->plugged) node = n.get();
    }
    if (node == nullptr) return;
    node->plugged = false;
    tcflow(node->slave, TCOON);
  }
  node->camera->Unplug();
  work_.notify_all();
  umockdev_testbed_uevent(bed_, node->sysfs.c_str(), "remove");
  umockdev_testbed_remove_device(bed_, node->sysfs.c_str());
  close(node->master);  // the node hangs up: libusb's own disconnect path
  node->master = -1;
}

void UsbTestBed::Replug(int port) {
  auto node = std::make_unique<Node>();
  node->bed = this;
  node->port = port;
  node->camera = Camera(port).shared_from_this();
  node->camera->Replug();
  Node& n = *node;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[port * 1000 + nextAddress_] = std::move(node);
  }
  Attach(n);
}

sim::VirtualCamera& UsbTestBed::Camera(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  Node* last = nullptr;
  for (auto& [key, n] : nodes_) {
    if (n->port == port) last = n.get();
  }
  if (last == nullptr) throw std::runtime_error("test bed: no camera at that port");
  return *last->camera;
}

void UsbTestBed::SetControlFault(int port, ControlFault fault, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [key, n] : nodes_) {
    if (n->port == port) {
      n->fault = fault;
      n->faultCount = count;
    }
  }
}

void UsbTestBed::DenyAccess(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [key, n] : nodes_) {
    if (n->port == port && n->plugged) chmod((root_ + n->devnode).c_str(), 0);
  }
}

void UsbTestBed::BindKernelDriver(int port, bool bound) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [key, n] : nodes_) {
    if (n->port == port) n->kernelDriver = bound;
  }
}

uint64_t UsbTestBed::DiscardedUrbs(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t total = 0;
  for (auto& [key, n] : nodes_) {
    if (n->port == port) total += n->discarded;
  }
  return total;
}

size_t UsbTestBed::UrbsInFlight(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t total = 0;
  for (auto& [key, n] : nodes_) {
    if (n->port == port) total += n->pending.size() + n->ready.size();
  }
  return total;
}

int UsbTestBed::HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, Node* node) {
  return node->bed->Ioctl(*node, client) ? TRUE : FALSE;
}

bool UsbTestBed::Ioctl(Node& node, UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  bool plugged;
  bool bound;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged = node.plugged;
    bound = node.kernelDriver;
  }
  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    Reap(node, client);
    return true;
  }
  if (!plugged) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return true;
  }
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
      AnswerCapabilities(client);
      return true;
    case USBDEVFS_GETDRIVER: {
      if (!bound) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return true;
      }
      UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
      std::strcpy(reinterpret_cast<usbdevfs_getdriver*>(d->data)->driver, "uvcvideo");
      umockdev_ioctl_data_unref(d);
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
      umockdev_ioctl_client_complete(client, bound ? -1 : 0, bound ? EBUSY : 0);
      return true;
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET: {
      uint8_t endpoint = 0x81;
      const usb::IoCode code = request == USBDEVFS_RESET ? usb::IoCode::kResetPort : usb::IoCode::kResetPipe;
      const bool ok = node.camera->Io(node.generation, false, code, &endpoint, 1, nullptr, 0).error == 0;
      umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EIO);
      return true;
    }
    case USBDEVFS_SUBMITURB:
      Submit(node, client);
      return true;
    case USBDEVFS_DISCARDURB:
      Discard(node, client);
      return true;
    default:
      return false;
  }
}

void UsbTestBed::Submit(Node& node, UMockdevIoctlClient* client) {
  auto urb = std::make_unique<Urb>();
  urb->data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb), nullptr);
  usbdevfs_urb* u = urb->urb();
  if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
    AnswerControl(node, std::move(urb));
    umockdev_ioctl_client_complete(client, 0, 0);
    return;
  }
  if (u->type != USBDEVFS_URB_TYPE_BULK || u->buffer_length < 0) {
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  // The camera fills umockdev's copy of libusb's buffer; the reap hands it back through umockdev's
  // socket, a hand-over that ThreadSanitizer sees.
  urb->buffer = umockdev_ioctl_data_resolve(urb->data, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(u->buffer_length), nullptr);
  urb->record[usb::record::kEndpoint] = u->endpoint;
  usb::IoStart start = node.camera->Io(node.generation, true, usb::IoCode::kDirectBulkTransfer, urb->record,
                                       sizeof(urb->record), urb->buffer->data, static_cast<uint32_t>(u->buffer_length));
  if (start.error != 0 && start.error != usb::kErrorIoPending) {
    umockdev_ioctl_client_complete(client, -1, start.error == usb::kErrorDeviceNotConnected ? ENODEV : EINVAL);
    return;
  }
  urb->io = std::move(start.io);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    node.pending.push_back(std::move(urb));
  }
  work_.notify_all();
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbTestBed::AnswerControl(Node& node, std::unique_ptr<Urb> urb) {
  usbdevfs_urb* u = urb->urb();
  // Through umockdev's copy, so that ThreadSanitizer sees the hand-over to libusb's thread.
  urb->buffer = umockdev_ioctl_data_resolve(urb->data, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(std::max(u->buffer_length, 8)), nullptr);
  auto* setup = static_cast<uint8_t*>(urb->buffer->data);
  const uint16_t wLength = usb::LoadU16(setup + 6);
  uint8_t rec[usb::kControlRequestSize];
  usb::BuildControlRecord(rec, setup[0], setup[1], usb::LoadU16(setup + 2), usb::LoadU16(setup + 4));
  const bool in = (setup[0] & 0x80) != 0;
  if (!in) std::memcpy(rec + usb::kTransferRecordSize, setup + 8, std::min<size_t>(wLength, usb::kControlDataSize));
  const usb::IoStart start = node.camera->Io(node.generation, false, usb::IoCode::kControlTransfer, rec, sizeof(rec),
                                             rec, sizeof(rec));
  int status = start.error != 0 ? -ESHUTDOWN : usb::RecordFailed(rec) ? -EPIPE : 0;
  int actual = wLength;
  if (status == 0 && in) {
    actual = std::min<int>(wLength, static_cast<int>(start.bytes) - static_cast<int>(usb::kTransferRecordSize));
    std::memcpy(setup + 8, rec + usb::kTransferRecordSize, static_cast<size_t>(std::max(actual, 0)));
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (node.faultCount > 0) {
    --node.faultCount;
    if (node.fault == ControlFault::kStall) status = -EPIPE;
    if (node.fault == ControlFault::kOversized) status = -EOVERFLOW;
    if (node.fault == ControlFault::kShort) actual = std::min(actual, 2);
  }
  ReadyLocked(node, std::move(urb), status, status == 0 ? actual : 0);
}

void UsbTestBed::ReadyLocked(Node& node, std::unique_ptr<Urb> urb, int status, int actual) {
  urb->urb()->status = status;
  urb->urb()->actual_length = actual;
  node.ready.push_back(std::move(urb));
  tcflow(node.slave, TCOON);
}

void UsbTestBed::Reap(Node& node, UMockdevIoctlClient* client) {
  std::unique_ptr<Urb> urb;
  bool plugged;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged = node.plugged;
    if (!node.ready.empty()) {
      urb = std::move(node.ready.front());
      node.ready.pop_front();
    } else if (node.plugged) {
      tcflow(node.slave, TCOOFF);
    }
  }
  if (!urb) {
    umockdev_ioctl_client_complete(client, -1, plugged ? EAGAIN : ENODEV);
    return;
  }
  UMockdevIoctlData* pointer =
      umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
  umockdev_ioctl_data_set_ptr(pointer, 0, urb->data);
  umockdev_ioctl_data_unref(pointer);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbTestBed::Discard(Node& node, UMockdevIoctlClient* client) {
  const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(umockdev_ioctl_client_get_arg(client)->data));
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& urb : node.pending) {
      if (urb->data->client_addr == address && !urb->discard) urb->discard = found = true;
    }
  }
  work_.notify_all();
  umockdev_ioctl_client_complete(client, found ? 0 : -1, found ? 0 : EINVAL);
}

// The bed's thread: waits on the camera's oldest read of each node and hands finished, discarded
// and unplugged reads back to libusb.
void UsbTestBed::CompleteBulk(std::stop_token stop) {
  while (!stop.stop_requested()) {
    std::vector<std::pair<Node*, Urb*>> fronts;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (auto& [key, node] : nodes_) {
        if (!node->pending.empty()) fronts.emplace_back(node.get(), node->pending.front().get());
      }
      if (fronts.empty()) {
        work_.wait_for(lock, std::chrono::milliseconds(100));
        continue;
      }
    }
    for (auto [node, urb] : fronts) {
      bool done = urb->io == nullptr || urb->io->Wait(5);
      std::lock_guard<std::mutex> lock(mutex_);
      if (!done && !urb->discard && node->plugged) continue;
      std::unique_ptr<Urb> owned = std::move(node->pending.front());
      node->pending.pop_front();
      uint32_t bytes = 0;
      uint32_t error = 0;
      const bool ok = done && owned->io != nullptr && owned->io->GetResult(&bytes, &error) &&
                      !usb::RecordFailed(owned->record);
      owned->io.reset();  // a read still queued at the camera is cancelled here
      int status = ok ? 0 : -EPIPE;
      if (!node->plugged) status = -ESHUTDOWN;
      else if (owned->discard) status = -ENOENT;
      if (owned->discard) ++node->discarded;
      ReadyLocked(*node, std::move(owned), status, ok ? static_cast<int>(bytes) : 0);
    }
  }
}

}  // namespace orvane::test
