// The 38-byte transfer record that starts every driver request carrying USB transfer parameters, and
// the 32-byte command header of FPGA memory transfers. Both are packed little-endian wire formats;
// they are read and written field by field so that host layout and alignment never matter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvane::usb {

inline constexpr size_t kTransferRecordSize = 38;
inline constexpr size_t kControlDataSize = 64;
inline constexpr size_t kControlRequestSize = kTransferRecordSize + kControlDataSize;  // 102

// Field offsets of the transfer record.
namespace record {
inline constexpr size_t kRequestType = 0;
inline constexpr size_t kRequest = 1;
inline constexpr size_t kValue = 2;
inline constexpr size_t kIndex = 4;
inline constexpr size_t kLength = 6;
inline constexpr size_t kTimeout = 8;
inline constexpr size_t kReserved = 12;
inline constexpr size_t kEndpoint = 13;
inline constexpr size_t kDriverStatus = 14;
inline constexpr size_t kUsbStatus = 18;
inline constexpr size_t kIsoOffset = 22;
inline constexpr size_t kIsoLength = 26;
inline constexpr size_t kBufferOffset = 30;
inline constexpr size_t kBufferLength = 34;
}  // namespace record

// bmRequestType values of the vendor requests.
inline constexpr uint8_t kVendorOutDevice = 0x40;
inline constexpr uint8_t kVendorOutEndpoint = 0x42;
inline constexpr uint8_t kVendorInDevice = 0xC0;

// Timeout field of a control record, in seconds.
inline constexpr uint32_t kControlTimeoutSeconds = 3;

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Fills `out` (102 bytes) with a zeroed control request: the record plus a 64-byte data stage.
// wLength is the size of the whole request, not of the data stage; that is what the driver expects.
inline void BuildControlRecord(uint8_t* out, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index) {
  std::memset(out, 0, kControlRequestSize);
  out[record::kRequestType] = requestType;
  out[record::kRequest] = request;
  StoreU16(out + record::kValue, value);
  StoreU16(out + record::kIndex, index);
  StoreU16(out + record::kLength, static_cast<uint16_t>(kControlRequestSize));
  StoreU32(out + record::kTimeout, kControlTimeoutSeconds);
  StoreU32(out + record::kBufferOffset, static_cast<uint32_t>(kTransferRecordSize));
  StoreU32(out + record::kBufferLength, static_cast<uint32_t>(kControlDataSize));
}

// True when the driver or the USB status word of a returned record is non-zero.
inline bool RecordFailed(const uint8_t* rec) {
  return LoadU32(rec + record::kDriverStatus) != 0 || LoadU32(rec + record::kUsbStatus) != 0;
}

// FPGA memory command header, sent to endpoint 0x01 before the data of a read or a write.
inline constexpr size_t kMemoryHeaderSize = 32;
inline constexpr uint32_t kMemoryCommandVersion = 2;
inline constexpr char kMemoryReadMagic[4] = {'K', 'U', '3', 'R'};
inline constexpr char kMemoryWriteMagic[4] = {'K', 'U', '3', 'W'};

inline void BuildMemoryHeader(uint8_t* out, bool write, uint64_t address, uint32_t length) {
  std::memset(out, 0, kMemoryHeaderSize);
  std::memcpy(out, write ? kMemoryWriteMagic : kMemoryReadMagic, 4);
  StoreU32(out + 4, kMemoryCommandVersion);
  StoreU32(out + 8, static_cast<uint32_t>(address));
  StoreU32(out + 12, static_cast<uint32_t>(address >> 32));
  StoreU32(out + 16, length);
}

// Bulk endpoints of the camera.
inline constexpr uint8_t kEndpointOut = 0x01;     // commands and FPGA memory writes
inline constexpr uint8_t kEndpointFrames = 0x81;  // frames and FPGA memory reads
inline constexpr uint8_t kEndpointAux = 0x83;     // auxiliary frame reads

// The frame header the camera sends before each frame on endpoint 0x81.
inline constexpr size_t kFrameHeaderSize = 64;
namespace frame_header {
inline constexpr size_t kPayloadLength = 16;  // u32, bytes of raw frame that follow
inline constexpr size_t kStatusWordOffsets[4] = {28, 32, 40, 44};  // int32 each
inline constexpr size_t kFrameCounter = 32;   // low byte; same word as the second status word
}  // namespace frame_header

}  // namespace orvane::usb
