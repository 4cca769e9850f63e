// What the device object needs of the USB controller beyond its register interface: discovery and the
// device table, the bring-up records, the data channel and the frame reads of endpoint 0x81.
// COrvCy3Cam provides all of it (controller_adapter.cpp binds it); unit tests use a small fake.
// Every operation answers true for success and false for failure.
#pragma once

#include <cstdint>
#include <memory>

#include "usb/controller_base.h"

// One frame transfer: the 64-byte header the controller reads from endpoint 0x81, a copy of the header's
// word at byte 32 (the frame counter word), and the buffer the payload goes to.
struct FrameTransfer {
  static constexpr int kHeaderSize = 64;
  static constexpr int kPayloadLengthOffset = 16;
  static constexpr int kStatusOffsets[4] = {28, 32, 40, 44};  // the four status words, in slot order
  static constexpr int kFrameCounterOffset = 32;              // low byte = frame counter

  uint8_t header[kHeaderSize] = {};
  uint32_t counterWord = 0;
  uint8_t* buffer = nullptr;  // borrowed: the device object's transfer buffer
  int32_t bufferSize = 0;     // bytes available at `buffer`
  int32_t frameSize = 0;      // bytes of one frame as configured

  uint32_t HeaderWord(int offset) const {
    return static_cast<uint32_t>(header[offset]) | static_cast<uint32_t>(header[offset + 1]) << 8 |
           static_cast<uint32_t>(header[offset + 2]) << 16 | static_cast<uint32_t>(header[offset + 3]) << 24;
  }
  uint32_t PayloadLength() const { return HeaderWord(kPayloadLengthOffset); }
  int32_t StatusWord(int i) const { return static_cast<int32_t>(HeaderWord(kStatusOffsets[i])); }
  uint8_t FrameCounter() const { return header[kFrameCounterOffset]; }
};

// One entry of the shared device table as the device object reads it.
struct DeviceTableEntry {
  uint16_t id = 0;           // USB vendor ID
  uint16_t type = 0;         // camera-type code (USB product ID)
  int32_t number = -1;       // device number among cameras of the type; -1 for an empty entry
};

// 16-byte device-interface class GUID, stored as four 32-bit words.
struct InterfaceClassGuid {
  uint32_t words[4];
};
// The camera driver's interface class {328184C5-93E6-49B7-94B8-2ADA13AABB39}.
inline constexpr InterfaceClassGuid kDefaultInterfaceGuid{{0x328184C5u, 0x49B793E6u, 0xDA2AB894u, 0x39BBAA13u}};

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
  virtual bool GetDeviceName(int index, char* text) = 0;
  // False for an index outside the table.
  virtual bool GetTableEntry(int index, DeviceTableEntry* entry) = 0;

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
  virtual bool ReadFrameData(FrameTransfer* transfer, int timeoutMs) = 0;
  virtual bool ResetPipe(uint8_t endpoint) = 0;
  virtual bool SendStreamReset() = 0;
};

// Creates the controller of the real driver (or the virtual camera when selected); null on failure.
std::unique_ptr<CameraController> CreateCameraController(const InterfaceClassGuid& guid);
