// The USB controller as the device object uses it beyond its register interface: discovery and the
// device table, the bring-up records, the data channel and the frame reads of endpoint 0x81.
// This header and usb/controller_base.h are all the device core sees of the controller; COrvCy3Cam
// provides it (camera_controller.cpp binds it); unit tests of the device use a small fake.
// Every operation answers true for success and false for failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "usb/controller_base.h"
#include "usb/controller_options.h"
#include "usb/driver_seam.h"
#include "usb/frame_transfer.h"

// One frame transfer: the controller's request record (64-byte header, the copy of its frame-counter
// word, the transfer buffer and its size).
using FrameTransfer = orvane::usb::FrameTransferRequest;

// One entry of the shared device table as the device object reads it.
struct DeviceTableEntry {
  uint16_t id = 0;           // USB vendor ID
  uint16_t type = 0;         // camera-type code (USB product ID)
  int32_t number = -1;       // device number among cameras of the type; -1 for an empty entry
};

using InterfaceClassGuid = orvane::usb::InterfaceGuid;
// The camera driver's interface class {328184C5-93E6-49B7-94B8-2ADA13AABB39}.
inline constexpr InterfaceClassGuid kDefaultInterfaceGuid = orvane::usb::kCameraInterfaceGuid;

class CameraController {
 public:
  static constexpr int kTableEntries = 32;
  static constexpr int kInfoRecordSize = 64;

  virtual ~CameraController() = default;

  // The register interface, handed to the sensor driver. Lives as long as this object.
  virtual CControllerBase* Registers() = 0;

  // Enumerates the driver's devices; the number of used table entries.
  virtual int EnumerateDevices() = 0;
  virtual bool IsDeviceOpenable(int index) = 0;
  // Fails (text untouched) for a camera type without a name, or when the name does not fit `size`.
  virtual bool GetDeviceName(int index, char* text, size_t size) = 0;
  // False for an index outside the table.
  virtual bool GetTableEntry(int index, DeviceTableEntry* entry) = 0;

  // A selected camera belongs to this controller alone (SelectDevice of the register interface claims
  // it against every other controller of every process sharing the device table). ReleaseDevice lets
  // it go; until the next selection no request reaches any camera.
  virtual void ReleaseDevice() = 0;
  virtual bool HoldsDevice() = 0;
  // False when the shared device table could not be attached (its name squatted, its lock stuck): then
  // no camera is ever found.
  virtual bool TableAttached() = 0;

  // Allocates the staging buffer and resets the device's port.
  virtual bool PrepareStreaming() = 0;
  virtual bool ReadControllerInfo(uint8_t record[kInfoRecordSize]) = 0;
  virtual bool ReadControllerStatus(uint8_t record[kInfoRecordSize]) = 0;
  virtual bool GetLinkSpeed(uint32_t* speed) = 0;

  // The data channel (the persistent handle of the bulk reads).
  virtual bool OpenDataChannel() = 0;
  virtual void CloseDataChannel() = 0;
  // Reads the 64-byte frame header (with the controller's own retries) into `transfer`.
  virtual bool ReadFrameHeader(FrameTransfer* transfer) = 0;
  // Reads the payload announced by the header into transfer->buffer; `timeoutMs` per piece.
  virtual bool ReadFrameData(FrameTransfer* transfer, uint32_t timeoutMs) = 0;
  virtual bool ResetPipe(uint8_t endpoint) = 0;
  virtual bool SendStreamReset() = 0;
};

// Creates the controller of the process's driver (usb::SystemDriver(): the platform's, or the
// stand-in the layer above offered to the seam) for the interface class `guid`.
std::unique_ptr<CameraController> CreateCameraController(const InterfaceClassGuid& guid);
// The same with explicit options (tests: their own virtual bus and shared-section name).
std::unique_ptr<CameraController> CreateCameraController(const orvane::usb::ControllerOptions& options);
