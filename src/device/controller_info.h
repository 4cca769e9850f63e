// The controller information record as the device core reads it, and the firmware versions that
// change the open sequence and the stream reset.
#pragma once

#include <cstdint>

namespace orvane::device {

// Controller information record: firmware version (u16, little-endian) and the "GPIO 25 is wired" flag.
inline constexpr int kInfoFirmwareVersionOffset = 24;
inline constexpr int kInfoGpio25FlagOffset = 52;
// Firmware from this version on has the pipe reset; above it, the FPGA's ready line is GPIO 25.
inline constexpr uint16_t kFirmwarePipeReset = 0x1100;

}  // namespace orvane::device
