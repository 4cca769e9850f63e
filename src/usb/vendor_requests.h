// The FX3 firmware's vendor requests and the controller's transfer policy. The devices behind the
// controller are in hardware/camera_registers.h.
#pragma once

#include <cstdint>

namespace orvane::usb {

// bRequest codes.
namespace vendor {
inline constexpr uint8_t kI2cWrite = 0x30;
inline constexpr uint8_t kI2cRead = 0x31;
inline constexpr uint8_t kWriteControlByte = 0x3C;
inline constexpr uint8_t kReadControlByte = 0x3D;
inline constexpr uint8_t kWritePair = 0x3E;
inline constexpr uint8_t kReadWord = 0x3F;
inline constexpr uint8_t kControllerInfo = 0xB0;
inline constexpr uint8_t kControllerStatus = 0xB1;
inline constexpr uint8_t kStreamReset = 0xC0;
inline constexpr uint8_t kArmRead = 0xC2;
inline constexpr uint8_t kReadGpio25 = 0xC3;
inline constexpr uint8_t kRequestCC = 0xCC;
inline constexpr uint8_t kFpgaWriteRegister = 0xD0;
inline constexpr uint8_t kFpgaReadRegister = 0xD1;
}  // namespace vendor

// Largest I2C transfer the firmware moves in one request (the control data stage is 64 bytes).
inline constexpr int kMaxI2cCount = 64;

// Pauses of the serial EEPROM: its internal write cycle, and the settle time before a read.
inline constexpr uint32_t kEepromWriteCycleMs = 14;
inline constexpr uint32_t kEepromReadSettleMs = 10;

// Frame-header retry policy: attempts and wait per attempt (after a failure the FPGA's frame output is
// restarted, camera::fpga::kFrameRestart).
inline constexpr int kHeaderAttempts = 15;
inline constexpr uint32_t kHeaderTimeoutMs = 400;
inline constexpr uint32_t kHeaderRetryPauseMs = 10;

// Bulk piece sizes.
inline constexpr uint32_t kFramePieceSize = 0x80000;      // 512 KiB payload pieces
inline constexpr uint32_t kMemoryPieceSize = 0x1000000;   // 16 MiB per memory command
inline constexpr uint32_t kImagePieceSize = 0x400000;     // 4 MiB image pieces
inline constexpr uint32_t kMemoryGranule = 0x1000;        // memory transfers move whole 4 KiB
inline constexpr uint32_t kImageGranule = 0x4000;         // image reads move whole 16 KiB
inline constexpr uint64_t kMaxMemoryLength = 0xFFFFEFFFu;  // above: nothing is moved

// Waits of the bulk paths, in milliseconds.
inline constexpr uint32_t kDefaultBulkTimeoutMs = 3000;
inline constexpr uint32_t kArmedReadTimeoutMs = 5000;
inline constexpr uint32_t kBufferedReadTimeoutMs = 3000;
inline constexpr uint32_t kAbortGraceMs = 50;

}  // namespace orvane::usb
