// The driver seam: the only way the controller layer reaches the camera's USB driver.
//
// Three things cross it: enumerating the device-interface paths of an interface class, opening a path
// (synchronous or overlapped), and issuing one of the seven I/O control codes with an input and an
// output buffer. A request on an overlapped handle may complete at once or stay pending; a pending
// request is waited for with a timeout and cancelled by the abort-pipe code. Everything above this
// interface (transfer records, waits, abort-and-wait, retries) is shared code.
//
// Backends: the Win32 driver (win32/) or, on Linux, libusb-1.0 (posix/); and stand-ins that a layer
// above offers (the virtual cameras of sim/). This layer knows none of the stand-ins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::usb {

// Win32 error numbers as the driver reports them; the virtual camera uses the same numbers.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Wait without limit.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// The seven I/O control codes of the camera driver.
enum class IoCode : uint32_t {
  kControlTransfer = 0x220020,     // 102-byte record in and out; synchronous
  kBufferedBulkTransfer = 0x220024,  // record + data in the staging buffer, in and out
  kResetPipe = 0x22002C,           // 1 byte: endpoint address
  kResetPort = 0x220030,           // no buffers
  kAbortPipe = 0x220044,           // 1 byte: endpoint address; cancels pending bulk reads
  kDirectBulkTransfer = 0x22004B,  // 38-byte record in, caller's data buffer out
  kGetSpeed = 0x22004C,            // 4 bytes in, 4 bytes out: link speed (4 = USB 3.0)
};

// Interface class GUID as four 32-bit words (the first is Data1; the others carry Data2..Data4 in
// memory order, little-endian).
struct InterfaceGuid {
  uint32_t words[4];
  friend bool operator==(const InterfaceGuid&, const InterfaceGuid&) = default;
};

// {328184C5-93E6-49B7-94B8-2ADA13AABB39}: the camera driver's interface class.
inline constexpr InterfaceGuid kCameraInterfaceGuid{{0x328184C5u, 0x49B793E6u, 0xDA2AB894u, 0x39BBAA13u}};

// An overlapped request in flight: an OVERLAPPED with its event. The buffers given to the request must
// stay valid until Wait() has returned true. Destroying an object whose request has not completed
// cancels it and waits until the driver has let go of the buffers, so a buffer is never written after
// its request object is gone.
class PendingIo {
 public:
  virtual ~PendingIo() = default;
  // Waits up to `timeoutMs` (kInfinite: no limit) for the request's event; true when it is signalled.
  virtual bool Wait(uint32_t timeoutMs) = 0;
  // The result without waiting (GetOverlappedResult, bWait FALSE): true with the byte count when the
  // request completed successfully; false with the error (kErrorIoPending while still in flight).
  virtual bool GetResult(uint32_t* bytes, uint32_t* error) = 0;
};

// What DeviceIoControl answered.
struct IoStart {
  // 0: accepted and completed at once (on a synchronous handle: the request is done);
  // kErrorIoPending: in flight on an overlapped handle; anything else: refused.
  uint32_t error = kErrorSuccess;
  // Bytes returned, for a synchronous handle that completed.
  uint32_t bytes = 0;
  // For an overlapped handle that accepted the request (error 0 or kErrorIoPending): the request.
  std::unique_ptr<PendingIo> io;
};

// An open driver handle (CreateFileA on a device path). Closing it is destroying it.
class DeviceHandle {
 public:
  virtual ~DeviceHandle() = default;
  virtual bool overlapped() const = 0;
  // DeviceIoControl. On a synchronous handle the call returns when the request is done.
  virtual IoStart Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) = 0;
};

class DriverBackend {
 public:
  virtual ~DriverBackend() = default;
  // Paths of the present device interfaces of `guid`, for member indices 0 .. maxMembers - 1 (members
  // that cannot be read are skipped).
  virtual std::vector<std::string> EnumerateInterfaces(const InterfaceGuid& guid, int maxMembers) = 0;
  // Opens `path` for writing (the driver's convention) with FILE_SHARE_WRITE; null with `*error` set
  // when it cannot be opened.
  virtual std::unique_ptr<DeviceHandle> Open(const std::string& path, bool overlapped, uint32_t* error) = 0;
  // Added to the shared device table's name to scope the claims on its devices (one SDK object per
  // camera). Empty for drivers of real devices, which every process sees alike; a backend whose devices
  // exist only inside this process (the virtual cameras) makes the scope private to the process, so
  // that processes simulating the same cameras do not refuse each other.
  virtual std::string ClaimScope() const { return {}; }
};

// Picks a stand-in for the platform's driver from the process's environment (the virtual cameras when
// ORVANE_SIM_CAMERAS asks for them); null to keep the platform's driver.
using DriverChooser = DriverBackend* (*)();

// Offers `chooser` to SystemDriver(). The layer that creates controllers offers it before the first
// controller exists; the chooser is asked once, on SystemDriver()'s first call, and an offer made after
// that call changes nothing. Thread-safe.
void OfferDriverChooser(DriverChooser chooser);

// The process's driver: the offered chooser's stand-in when it picks one, else the platform's driver
// (Win32: the camera driver; Linux: libusb). Chosen once, on first use.
DriverBackend& SystemDriver();

// The platform backend (win32/ or posix/).
DriverBackend& PlatformDriver();

}  // namespace orvane::usb
