// The camera's register map: the I2C devices behind the FX3, the FPGA's byte registers and their bit
// fields, the window the FPGA cuts out of the sensor's readout, the IMX226 registers this board
// programs, its timing model and the EEPROM map. The device core, the sensor driver, the controller
// and the virtual camera all read these facts from here, so each number is written once.
//
// Header only and below every layer that talks to the camera: it includes nothing of the project.
#pragma once

#include <array>
#include <cstdint>

namespace orvane::camera {

// I2C devices, 8-bit write addresses (the read address sets bit 0).
namespace i2c {
inline constexpr uint8_t kFpgaPort = 0x40;  // FPGA byte registers: write reg, 0, value; read via pointer
inline constexpr uint8_t kDevice5A = 0x5A;
inline constexpr uint8_t kEeprom = 0xA2;    // serial EEPROM, 16-bit byte addresses
inline constexpr uint8_t kSensor = 0x48;    // IMX226
}  // namespace i2c

// FPGA byte registers (8-bit register number, 8-bit value). Pairs are low byte, then high byte.
namespace fpga {
inline constexpr uint8_t kStatus = 0x02;           // read only
inline constexpr uint8_t kStatusBusy = 0x02;       // bit of kStatus: the FPGA is busy
inline constexpr uint8_t kIoPort = 0x07;           // general-purpose I/O port byte
inline constexpr uint8_t kFrameCounter = 0x08;     // read only: low byte of the frame counter
inline constexpr uint8_t kVersionLow = 0x10;       // FPGA version word (read as one 16-bit value)
inline constexpr uint8_t kVersionHigh = 0x11;
inline constexpr uint8_t kFullResolution = 0x2E;   // 1 full resolution, 0 sub-sampling
inline constexpr uint8_t kPixelFormat = 0x3C;      // bits per delivered pixel, below
inline constexpr uint8_t kPixelFormat8Bit = 1;
inline constexpr uint8_t kPixelFormat16Bit = 2;    // 16-bit containers

// The window: frame height in lines, line length in pixels, and where the window starts inside the
// sensor's readout (window origin plus the margins below).
inline constexpr uint8_t kHeightLow = 0x40, kHeightHigh = 0x41;
inline constexpr uint8_t kLineLengthLow = 0x44, kLineLengthHigh = 0x45;
inline constexpr uint8_t kVerticalStartLow = 0x48, kVerticalStartHigh = 0x49;
inline constexpr uint8_t kHorizontalStartLow = 0x4C, kHorizontalStartHigh = 0x4D;
// Line timing of the FPGA's receiver; the value per readout mode is the sensor driver's.
inline constexpr std::array<uint8_t, 4> kReceiverTiming{0x50, 0x51, 0x54, 0x55};

// Written 1 then 0: restarts the frame output (the controller after a failed frame header, the sensor
// driver between failed frame reads).
inline constexpr uint8_t kFrameRestart = 0x6C;
// The same pulse on the board variant 103.
inline constexpr uint8_t kFrameRestartVariant103 = 0x96;
// Bit 0 restarts the FPGA's configuration handshake (pulsed while the core waits for GPIO 25).
inline constexpr uint8_t kStartup = 0x82;
inline constexpr uint8_t kStartupHandshake = 0x01;
// Die temperature word (other camera types).
inline constexpr uint8_t kTemperatureLow = 0x8E, kTemperatureHigh = 0x8F;

// Margins of the window's start inside the readout: the sensor's optical black and blanking. In full
// resolution the vertical mirror shifts the readout by one line.
inline constexpr int32_t kVerticalMarginFull = 40;
inline constexpr int32_t kVerticalMarginFullMirrored = 41;
inline constexpr int32_t kVerticalMarginReduced = 14;
inline constexpr int32_t kHorizontalMarginFull = 64;
inline constexpr int32_t kHorizontalMarginReduced = 32;
}  // namespace fpga

// IMX226 registers (16-bit address, 8-bit value). Pairs are low byte, then high byte.
namespace imx226 {
// Readout mode: drive mode, sub-sampling and the ADC/output settings.
inline constexpr uint16_t kDriveMode = 0x0003;
inline constexpr uint16_t kSubSampling = 0x0004;
inline constexpr uint16_t kOutputSetting = 0x0005;
inline constexpr uint16_t kAdcSetting = 0x00B6;
inline constexpr uint16_t kGainLow = 0x0009, kGainHigh = 0x000A;        // 11-bit gain code
inline constexpr uint16_t kShutterLow = 0x000B, kShutterHigh = 0x000C;  // S: shutter start in the last period
inline constexpr uint16_t kPeriodsLow = 0x000D, kPeriodsHigh = 0x000E;  // N: whole frame periods
inline constexpr uint16_t kMirrorV = 0x001A;                            // bit 0
inline constexpr uint16_t kLineLengthLow = 0x0214, kLineLengthHigh = 0x0215;
inline constexpr uint16_t kGainCompensationALow = 0x0352, kGainCompensationAHigh = 0x0353;
inline constexpr uint16_t kGainCompensationBLow = 0x0356, kGainCompensationBHigh = 0x0357;

// Timing model: lines per frame period and 72 MHz clocks per line, full resolution and 2 x 2
// sub-sampling; the power-on exposure and the largest gain code.
inline constexpr int32_t kSensorClockKHz = 72000;
inline constexpr int32_t kFullPeriodLines = 3079;
inline constexpr int32_t kReducedPeriodLines = 2275;
inline constexpr int32_t kFullLineClocks = 825;
inline constexpr int32_t kReducedLineClocks = 528;
inline constexpr int32_t kDefaultExposureLines = 3075;
inline constexpr int32_t kGainMax = 1957;
}  // namespace imx226

// Serial EEPROM map.
namespace eeprom {
inline constexpr uint16_t kSerialNumber = 0x1040;  // up to 32 characters, ended by 0xFF
inline constexpr int kSerialNumberLength = 32;
inline constexpr uint8_t kSerialNumberEnd = 0xFF;
inline constexpr uint16_t kConfigurationByte = 0x1080;  // other camera types
}  // namespace eeprom

}  // namespace orvane::camera
