// The sensor driver interface: what the device core asks of an image sensor (window, sub-sampling,
// exposure, gains, mirrors, raw register access) and the defaults every driver inherits.
//
// Results: setters answer true for success; getters with an output write it and answer true; false
// means "not supported by this driver" or "failed" and leaves the driver's fields as they were. Has...
// and Allows... answer whether the driver has or allows it; the few value queries answer the value.
// Setters and the FPGA pulses are not [[nodiscard]]: their callers go on when one fails.
// The base takes no lock; a driver with multi-step register sequences guards them itself.
#pragma once

#include <cstdint>
#include <functional>

#include "usb/controller_base.h"

// Sizes, ranges and current values of a driver, copied out whole by GetSensorInfo. Most quantities are a
// group of minimum, maximum, current value and default, in that order. 352 bytes; the layout is the one
// the device core and its callers copy, so it must not change.
struct SensorInfo {
  int32_t totalWidth;
  int32_t totalHeight;
  int32_t defaultX;
  int32_t defaultY;
  int32_t maxWidth;
  int32_t maxHeight;
  int32_t reserved0[2];
  int32_t windowX;
  int32_t windowY;
  int32_t windowWidth;
  int32_t windowHeight;
  int32_t lineLength;
  int32_t frameLines;     // window height + 46 after a SetWindow
  int32_t subSampleMode;  // 0 full resolution, 1 or 17 sub-sampling
  int32_t reserved1[2];
  int32_t gainMin;
  int32_t gainMax;
  int32_t gain;
  int32_t gainDefault;
  int32_t gainGroupWord;
  uint32_t exposureLinesMin;
  uint32_t exposureLinesMax;
  int32_t exposureLines;
  int32_t exposureLinesDefault;
  int32_t exposureLinesGroupWord;
  int32_t colorGainMin;
  int32_t colorGainMax;
  int32_t colorGainWord;
  int32_t colorGainDefault;
  int32_t reserved2[16];
  int32_t exposureTimeMin;  // exposure times in units of 100 us
  int32_t exposureTimeMax;
  int32_t exposureTime;
  int32_t exposureTimeDefault;
  int32_t reserved3;
  int32_t settingAMin;
  int32_t settingAMax;
  int32_t settingA;
  int32_t settingADefault;
  int32_t hasSettingA;
  int32_t blackLevelMin;
  int32_t blackLevelMax;
  int32_t blackLevel;
  int32_t blackLevelDefault;
  int32_t hasBlackLevel;
  int32_t hasSettingB;
  int32_t settingB;
  double exposureTimeExMin;  // fractional exposure times in seconds
  double exposureTimeExMax;
  double exposureTimeEx;
  double exposureTimeExDefault;
  int32_t hasExposureTimeEx;
  int32_t reserved4[5];
  int32_t mirrorV;
  int32_t mirrorVDefault;
  int32_t mirrorVSupported;
  int32_t mirrorH;
  int32_t mirrorHDefault;
  int32_t mirrorHSupported;
  int32_t bitsPerPixel;
  int32_t sensorClockKHz;
  int32_t clockWord;
  int32_t reserved5;
};
static_assert(sizeof(SensorInfo) == 352, "SensorInfo is copied out as a 352-byte block");

class CSensorBase {
 public:
  // Sleeps `ms` milliseconds; injectable so that tests of the register sequences need not wait.
  using Sleeper = std::function<void(uint32_t ms)>;

  CSensorBase();
  virtual ~CSensorBase() = default;
  CSensorBase(const CSensorBase&) = delete;
  CSensorBase& operator=(const CSensorBase&) = delete;

  void SetVariant(int32_t value);
  void SetStreamParameter(int32_t value);
  int32_t GetStreamParameter();
  [[nodiscard]] virtual bool IsReady();
  [[nodiscard]] virtual bool ApplyDefaults();

  // Window: origin (x, y), size and sub-sampling mode. The driver may adjust the values; GetWindow reports
  // what it applied.
  virtual bool SetWindow(int32_t x, int32_t width, int32_t y, int32_t height, int32_t mode);
  [[nodiscard]] virtual bool GetWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height, int32_t* mode);
  virtual bool SetBitDepth(int32_t mode);

  virtual bool SetExposureLines(int32_t lines);
  [[nodiscard]] virtual bool GetExposureLines(int32_t* lines);
  [[nodiscard]] virtual bool GetExposureLinesMin(int32_t* lines);
  [[nodiscard]] virtual bool GetExposureLinesMax(int32_t* lines);
  [[nodiscard]] virtual bool GetExposureLinesDefault(int32_t* lines);

  virtual bool SetGlobalGain(int32_t code);
  [[nodiscard]] virtual bool GetGlobalGain(int32_t* code);
  [[nodiscard]] virtual bool GetGlobalGainMin(int32_t* code);
  [[nodiscard]] virtual bool GetGlobalGainMax(int32_t* code);
  [[nodiscard]] virtual bool GetGlobalGainDefault(int32_t* code);

  bool SetColorGainRed(int32_t value);
  [[nodiscard]] bool GetColorGainRed(int32_t* value);
  bool SetColorGainGreen1(int32_t value);
  [[nodiscard]] bool GetColorGainGreen1(int32_t* value);
  bool SetColorGainGreen2(int32_t value);
  [[nodiscard]] bool GetColorGainGreen2(int32_t* value);
  bool SetColorGainBlue(int32_t value);
  [[nodiscard]] bool GetColorGainBlue(int32_t* value);
  [[nodiscard]] virtual bool GetColorGainMin(int32_t* value);
  [[nodiscard]] virtual bool GetColorGainMax(int32_t* value);
  [[nodiscard]] virtual bool GetColorGainDefault(int32_t* value);

  [[nodiscard]] bool HasBlackLevel();
  bool SetBlackLevel(int32_t value);
  [[nodiscard]] bool GetBlackLevel(int32_t* value);
  [[nodiscard]] bool GetBlackLevelMin(int32_t* value);
  [[nodiscard]] bool GetBlackLevelMax(int32_t* value);
  [[nodiscard]] bool GetBlackLevelDefault(int32_t* value);

  // Exposure time in units of 100 us.
  virtual bool SetExposureTime(int32_t time);
  [[nodiscard]] virtual bool GetExposureTime(int32_t* time);
  [[nodiscard]] virtual bool GetExposureTimeMin(int32_t* time);
  [[nodiscard]] virtual bool GetExposureTimeMax(int32_t* time);
  [[nodiscard]] virtual bool GetExposureTimeDefault(int32_t* time);

  virtual bool SetMirrorV(int32_t flag);
  [[nodiscard]] virtual bool GetMirrorV(int32_t* flag);
  virtual bool SetMirrorH(int32_t flag);
  [[nodiscard]] virtual bool GetMirrorH(int32_t* flag);
  int GetMirrorVDefault();
  int GetMirrorHDefault();
  // Whether the sensor mirrors in hardware; where not, the image pipeline reverses rows or pixels itself.
  [[nodiscard]] bool HasMirrorV();
  [[nodiscard]] bool HasMirrorH();

  // Raw sensor register access (16-bit register address, 8-bit value).
  [[nodiscard]] virtual bool WriteRegister(int32_t address, int32_t value);
  [[nodiscard]] virtual bool ReadRegister(int32_t address, int32_t* value);
  [[nodiscard]] virtual bool WriteRegisterChecked(int32_t address, int32_t value);
  [[nodiscard]] virtual bool ReadRegisterRetry(int32_t address, int32_t* value);

  bool SetReadoutMode(int32_t mode);
  [[nodiscard]] bool GetReadoutMode(int32_t* mode);
  // Trigger mode of the readout (0 free running); the device core hands it on when it changes.
  bool SetTriggerMode(int32_t mode);

  // Copies the whole information block; false for a null output.
  [[nodiscard]] bool GetSensorInfo(SensorInfo* info);

  // Readout control around streaming: the device core asks IsReadoutStarted when streaming starts and
  // calls StartReadout when it answers false; StopReadout when streaming stops. This sensor runs freely.
  [[nodiscard]] bool IsReadoutStarted();
  bool StartReadout();
  void StopReadout(int wait);

  // Geometry capabilities: whether the window may be narrower / lower than the full frame.
  [[nodiscard]] bool AllowsNarrowWindow();
  [[nodiscard]] bool AllowsLowWindow();

  [[nodiscard]] bool HasInternalCorrection(int32_t typeCode);
  bool SetInternalCorrection(int32_t value);
  [[nodiscard]] bool GetInternalCorrection(int32_t* value);
  [[nodiscard]] bool HasPeltier();
  [[nodiscard]] bool GetPeltier(int32_t* value);
  bool SetPeltier(int32_t value);
  // Sensor temperature: the support test, then the reading in degrees Celsius.
  [[nodiscard]] bool HasTemperature();
  [[nodiscard]] bool ReadTemperature(double* celsius);

  [[nodiscard]] bool HasExposureTimeEx();
  [[nodiscard]] bool GetExposureTimeExMin(double* seconds);
  [[nodiscard]] bool GetExposureTimeExMax(double* seconds);
  [[nodiscard]] bool GetExposureTimeExDefault(double* seconds);
  [[nodiscard]] bool GetExposureTimeEx(double* seconds);
  bool SetExposureTimeEx(double seconds);

  [[nodiscard]] bool HasShortExposureMode();
  [[nodiscard]] bool GetShortExposureMode(int32_t* flag);
  bool SetShortExposureMode(int32_t flag);

  [[nodiscard]] bool HasGainMode();
  int GetGainMode();
  bool SetGainMode(int32_t mode);

  // Orientation of delivered frames: 2 pixels reversed within rows, 3 rows reversed, 4 both, anything
  // else (-1 here) as stored.
  int GetOrientation();

  // The colour modes the sensor can deliver, which the SDK consults before it accepts a colour mode
  // (modes 0 to 5: 8-bit gray, 16-bit gray, BGR, BGRX, 48-bit BGR, 64-bit BGRX); true = allowed.
  // Gray 8 and BGRX (modes 0 and 3).
  [[nodiscard]] bool AllowsGray8AndBgrx();
  // Gray 16 (mode 1).
  [[nodiscard]] bool AllowsGray16();
  // The colour modes (2 and above).
  [[nodiscard]] bool AllowsColorModes();

  // Sampling rate of the analog front end; no driver of this camera has one.
  bool SetSamplingRate(int32_t word, int32_t* rate);
  // Called once when preview starts, after the settings were pushed.
  void PreparePreview();
  // A setting that preview start resets to 0 where the driver supports it.
  [[nodiscard]] bool HasPreviewResetSetting();
  [[nodiscard]] bool GetPreviewResetSetting(int32_t* value);
  bool SetPreviewResetSetting(int32_t value);

  // Whether the FPGA's vertical start needs the extra line of the alternate readout timing (full
  // resolution only). The device core reads it when it writes the FPGA geometry.
  [[nodiscard]] virtual bool AlternateTimingFlag();

  // Pulses the FPGA readout re-arm register (1, 1 ms, 0, 1 ms). Called between failed frame reads.
  // Answers true at once when re-arming is disabled and false without a controller.
  bool RearmReadout();
  // Pulses the FPGA's start-up handshake bit (register 0x82, bit 0) low, high, low, 50 ms apart; called
  // while the core waits for the FPGA to come up. False without a controller or when the register cannot be
  // read.
  bool PulseFpgaStartup();

  // Where the FPGA's window starts inside the sensor's readout: the window origin plus the margins of
  // the optical black and blanking. `alternateTiming`: the full-resolution readout starts a line later.
  static int32_t FpgaVerticalStart(int32_t y, int32_t subSampleMode, bool alternateTiming);
  static int32_t FpgaHorizontalStart(int32_t x, int32_t subSampleMode);
  // The FPGA geometry the device core programs before streaming, for the current window: the line
  // length `lineLength` (pixels) and the height, then the window's start (after AlternateTimingFlag).
  // The FPGA's window registers are written by the sensor driver only. False without a controller.
  bool WriteFpgaGeometry(int32_t lineLength);

  const SensorInfo& Info() const { return info_; }
  int32_t Variant() const { return variant_; }
  void SetSleeper(Sleeper sleeper);

 protected:
  void Sleep(uint32_t ms) const;
  // Writes `value` to an FPGA register pair, low byte first. The results are not looked at: the window
  // sequences go on when one write fails.
  void WriteFpgaWord(uint8_t lowRegister, uint8_t highRegister, int32_t value);

  SensorInfo info_{};
  CControllerBase* controller_ = nullptr;  // borrowed; owned by the device object
  uint8_t i2cAddress_ = 0;                 // 8-bit write address
  int32_t streamParameter_ = 15;
  int32_t variant_ = 0;
  int32_t rearmEnabled_ = 1;

 private:
  Sleeper sleeper_;
};
