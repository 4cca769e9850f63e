// COrvCy3Cam: the controller object of one SDK handle. It drives the camera's Cypress FX3 through the
// driver seam: vendor requests on the control endpoint (FPGA registers, I2C devices, EEPROM, GPIO),
// bulk reads of frames and FPGA memory, and the pipe operations. The device core uses it through its
// own pointer and hands the CControllerBase side to the sensor driver.
//
// Handles: every control request, reset and speed query runs on its own synchronous handle opened on
// the selected entry and closed afterwards. Bulk reads use the persistent overlapped stream handle
// (opened on demand); the abort-pipe request and the arming request 0xC2 go to that handle too.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/camera_claim.h"
#include "usb/controller_base.h"
#include "usb/driver_seam.h"
#include "usb/frame_transfer.h"
#include "usb/fx3_api.h"
#include "usb/transfer_record.h"

namespace orvane::usb {

// Size of the staging buffer of buffered bulk reads: 64 MiB of data behind the record.
inline constexpr size_t kMaxBulkLength = 0x4000000;
inline constexpr size_t kStagingBufferSize = kMaxBulkLength + kTransferRecordSize;

}  // namespace orvane::usb

class COrvCy3Cam : public CFx3Api, public CControllerBase {
 public:
  // The product's controller: camera interface class, process driver, section "R3O5-MemMap".
  COrvCy3Cam();
  explicit COrvCy3Cam(const orvane::usb::InterfaceGuid& guid);
  explicit COrvCy3Cam(const orvane::usb::ControllerOptions& options);
  // Closes everything and detaches the shared table.
  ~COrvCy3Cam() override;

  // ---- discovery and handles ----
  int DeviceIndex() const;
  // A camera is selected by one controller at a time among every process sharing the device table:
  // SelectDevice claims it (and fails while another controller holds it), ReleaseDevice and the
  // destructor let it go. Requests reach only a camera this controller holds.
  bool HoldsDevice() const { return holdsDevice_.load(); }
  void ReleaseDevice();
  // Opens the overlapped stream handle on the selected entry when it is closed.
  bool EnsureStreamHandle();
  void CloseStreamHandle();
  // Allocates the staging buffer when absent (false when that fails), then resets the port.
  bool PrepareStreaming();
  bool ResetPort();
  bool ResetPipe(uint8_t endpoint);
  // Link speed code of the driver (4 = USB 3.0 SuperSpeed).
  bool GetLinkSpeed(uint32_t* speed);

  // ---- driver I/O primitives ----
  // Control transfer of a 102-byte request record on `handle`; `bytesReturned` may be null. Fails
  // when the driver refuses it or returns a non-zero status word.
  bool ControlRequest(orvane::usb::DeviceHandle* handle, uint8_t* record, uint32_t length, uint32_t* bytesReturned);
  // Bulk read of at most 64 MiB through the staging buffer; `count` gets the data bytes.
  bool BufferedBulkRead(orvane::usb::DeviceHandle* handle, void* data, size_t length, uint8_t endpoint,
                        uint32_t* count);
  // Bulk read (endpoints 0x81, 0x83) or write (0x01) straight from/into `data`. A request that does
  // not complete within `timeoutMs` is aborted, and the call returns only after the driver has let go
  // of `data`.
  bool DirectBulkTransfer(orvane::usb::DeviceHandle* handle, void* data, size_t length, uint8_t endpoint,
                          uint32_t* count, uint32_t timeoutMs);
  bool DirectBulkTransfer(orvane::usb::DeviceHandle* handle, void* data, size_t length, uint8_t endpoint,
                          uint32_t* count);
  // Request 0xC2 on `handle`, then a direct bulk read waited for up to 5000 ms.
  bool ArmedBulkRead(orvane::usb::DeviceHandle* handle, void* data, size_t length, uint8_t endpoint,
                     uint32_t* count);

  // ---- frames and FPGA memory ----
  // The 64-byte frame header from endpoint 0x81: up to 15 attempts of 400 ms, each armed by 0xC2,
  // with a pulse of FPGA register 108 and a 10 ms pause after each failure.
  bool ReadFrameHeader(orvane::usb::FrameTransferRequest* request);
  // The payload announced by the header, in 512 KiB pieces, each waited for up to `timeoutMs`.
  bool ReadFrameData(orvane::usb::FrameTransferRequest* request, uint32_t timeoutMs);
  // One frame of `frameSize` bytes from endpoint 0x83 (armed read).
  bool ReadFrameAux(orvane::usb::FrameTransferRequest* request);
  // Reads (length rounded down to 16 KiB, plus 16 KiB) bytes of FPGA memory from address 0 into the
  // request's buffer; on success `*length` gets the total read.
  bool ReadImage(orvane::usb::FrameTransferRequest* request, uint64_t* length, uint32_t timeoutMs);
  // FPGA memory transfers of (length rounded down to 4 KiB, plus 4 KiB) bytes in 16 MiB pieces; the
  // buffer must hold that amount (`bufferSize`). A length above 0xFFFFEFFF moves nothing (success).
  bool ReadMemory(uint64_t address, void* destination, uint64_t length, size_t bufferSize);
  bool WriteMemory(uint64_t address, const void* source, uint64_t length, size_t bufferSize);
  // Bytes a memory transfer of `length` moves (0 above 0xFFFFEFFF).
  static uint64_t MemoryTransferAmount(uint64_t length);

  // ---- single vendor requests ----
  bool WriteControlByte(uint32_t value);
  bool ReadControlByte(uint8_t* value);
  bool ReadControllerInfo(uint8_t* block64);
  // The controller status record (request 0xB1), 64 bytes.
  bool ReadControllerStatus(uint8_t* block64);
  bool SendStreamReset();

  // ---- CControllerBase ----
  bool Close() override;
  bool SelectDevice(int index) override;
  bool FpgaReadWord(uint16_t* value) override;
  bool ReadGpio25(uint8_t* level) override;
  bool SendRequestCC() override;
  bool I2cWrite(uint8_t device, const uint8_t* data, int count) override;
  bool I2cRead(uint8_t device, uint8_t* data, int count) override;
  bool FpgaWriteRegister(uint32_t address, uint32_t value) override;
  bool FpgaReadRegister(uint32_t address, uint16_t* value) override;
  bool WritePair(uint16_t first, uint16_t second) override;
  bool ReadWord(uint16_t argument, uint16_t* value) override;
  bool FpgaWriteByte(uint8_t reg, uint8_t value) override;
  bool FpgaReadByte(uint8_t reg, uint8_t* value) override;
  bool WriteReg5A(uint8_t reg, uint8_t value) override;
  bool ReadReg5A(uint8_t reg, uint8_t* value) override;
  bool EepromWrite(uint16_t address, uint8_t value) override;
  bool EepromRead(uint16_t address, uint8_t* value) override;
  bool AbortPipe() override;

 private:
  using HandlePtr = std::shared_ptr<orvane::usb::DeviceHandle>;

  // One vendor request on a fresh synchronous handle (or on `handle` when given). `dataOut` are the
  // data-stage bytes sent; on success `*dataCount` gets the data bytes returned (bytes - 38, or the
  // byte count itself below 38) and `dataIn` (64 bytes) the data stage as returned.
  bool VendorRequest(uint8_t type, uint8_t request, uint16_t value, uint16_t index, const uint8_t* dataOut,
                     size_t dataOutLength, uint8_t* dataIn, uint32_t* dataCount,
                     orvane::usb::DeviceHandle* handle = nullptr);
  bool ArmRead(orvane::usb::DeviceHandle* handle);
  // A handle on the selected camera; null unless this controller holds it.
  std::unique_ptr<orvane::usb::DeviceHandle> OpenSelectedHandle(bool overlapped);
  // The stream handle, opened on demand; `openedHere` tells whether this call opened it.
  HandlePtr AcquireStreamHandle(bool* openedHere);
  HandlePtr CurrentStreamHandle() const;
  bool StagingAllocated() const;
  bool AbortPipeOn(orvane::usb::DeviceHandle* handle);
  bool MemoryTransfer(bool write, uint64_t address, uint8_t* data, uint64_t length, size_t bufferSize);

  std::atomic<int> deviceIndex_{0};
  // Mirrors claim_ (written under claimMutex_), read by every request without taking the lock.
  std::atomic<bool> holdsDevice_{false};
  std::mutex claimMutex_;
  std::optional<orvane::platform::CameraClaim> claim_;  // guarded by claimMutex_
  std::string claimedPath_;                             // guarded by claimMutex_: the claimed camera's path
  // Counts AbortPipe calls (a stop of the stream). A frame-header read that sees it change gives up
  // its remaining attempts: they would only wait for frames nobody wants.
  std::atomic<uint64_t> streamAborts_{0};
  // Waits for the frame endpoint that ran out. A frame read adds those of its own waits to its request:
  // one thread reads that endpoint at a time, so the difference over a wait is that wait's.
  std::atomic<uint64_t> frameTimeouts_{0};

  mutable std::mutex streamMutex_;
  // Guarded by streamMutex_. Users copy the pointer under the lock and run their I/O outside it, so
  // closing the handle while a read is in flight only drops this reference; the driver handle closes
  // when the last user is done.
  HandlePtr streamHandle_;

  mutable std::mutex stagingMutex_;
  // Guarded by stagingMutex_, which a buffered read holds for its whole transfer.
  std::unique_ptr<uint8_t[]> stagingBuffer_;
  // Mirrors stagingBuffer_ != nullptr (written under stagingMutex_), so that direct transfers, which
  // only need to know that streaming was prepared, never wait behind a buffered read.
  std::atomic<bool> stagingAllocated_{false};

  // Serialises the two-step sequences on the FPGA byte-register port (I2C device 0x40).
  std::mutex fpgaPortMutex_;
  // Serialises the pointer-then-data sequences of the EEPROM and device 0x5A, and the EEPROM's write
  // cycle, so that two threads cannot move each other's address pointer between the steps.
  std::mutex i2cSequenceMutex_;
};
