// Facts of the virtual camera's model shared by its source files.
#pragma once

#include <cstdint>

namespace orvane::sim::model {

// Status words a failed transfer carries (USBD_STATUS_STALL_PID, and a driver-level error).
inline constexpr uint32_t kUsbStatusStall = 0xC0000004u;
inline constexpr uint32_t kDriverStatusError = 0xC0000001u;

// The FPGA version word the model reports.
inline constexpr uint16_t kFpgaVersion = 0x0107;

// FPGA memory is kept in pages of this size; unwritten memory reads as MemoryPattern.
inline constexpr uint64_t kPageSize = 4096;
inline uint8_t MemoryPattern(uint64_t a) { return static_cast<uint8_t>((a * 0x9E37u >> 8) ^ a ^ (a >> 16)); }

}  // namespace orvane::sim::model
