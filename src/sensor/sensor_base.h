// The sensor driver interface: what the device core asks of an image sensor (window, sub-sampling,
// exposure, gains, mirrors, raw register access) and the defaults every driver inherits.
//
// Results: setters answer non-zero for success; getters with an output write it and answer 1; a 0 result
// means "not supported by this driver" or "failed" and leaves the driver's fields as they were.
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

  virtual void SetVariant(int32_t value);
  virtual void SetStreamParameter(int32_t value);
  virtual int32_t GetStreamParameter();
  virtual int IsReady();
  virtual int ApplyDefaults();

  // Window: origin (x, y), size and sub-sampling mode. The driver may adjust the values; GetWindow reports
  // what it applied.
  virtual int SetWindow(int32_t x, int32_t width, int32_t y, int32_t height, int32_t mode);
  virtual int GetWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height, int32_t* mode);
  virtual int SetBitDepth(int32_t mode);

  virtual int SetExposureLines(int32_t lines);
  virtual int GetExposureLines(int32_t* lines);
  virtual int GetExposureLinesMin(int32_t* lines);
  virtual int GetExposureLinesMax(int32_t* lines);
  virtual int GetExposureLinesDefault(int32_t* lines);

  virtual int SetGlobalGain(int32_t code);
  virtual int GetGlobalGain(int32_t* code);
  virtual int GetGlobalGainMin(int32_t* code);
  virtual int GetGlobalGainMax(int32_t* code);
  virtual int GetGlobalGainDefault(int32_t* code);

  virtual int SetColorGainRed(int32_t value);
  virtual int GetColorGainRed(int32_t* value);
  virtual int SetColorGainGreen1(int32_t value);
  virtual int GetColorGainGreen1(int32_t* value);
  virtual int SetColorGainGreen2(int32_t value);
  virtual int GetColorGainGreen2(int32_t* value);
  virtual int SetColorGainBlue(int32_t value);
  virtual int GetColorGainBlue(int32_t* value);
  virtual int GetColorGainMin(int32_t* value);
  virtual int GetColorGainMax(int32_t* value);
  virtual int GetColorGainDefault(int32_t* value);

  virtual int HasBlackLevel();
  virtual int SetBlackLevel(int32_t value);
  virtual int GetBlackLevel(int32_t* value);
  virtual int GetBlackLevelMin(int32_t* value);
  virtual int GetBlackLevelMax(int32_t* value);
  virtual int GetBlackLevelDefault(int32_t* value);

  // Exposure time in units of 100 us.
  virtual int SetExposureTime(int32_t time);
  virtual int GetExposureTime(int32_t* time);
  virtual int GetExposureTimeMin(int32_t* time);
  virtual int GetExposureTimeMax(int32_t* time);
  virtual int GetExposureTimeDefault(int32_t* time);

  virtual int SetMirrorV(int32_t flag);
  virtual int GetMirrorV(int32_t* flag);
  virtual int SetMirrorH(int32_t flag);
  virtual int GetMirrorH(int32_t* flag);
  virtual int GetMirrorVDefault();
  virtual int GetMirrorHDefault();
  // Whether the sensor mirrors in hardware; where not, the image pipeline reverses rows or pixels itself.
  virtual int HasMirrorV();
  virtual int HasMirrorH();

  // Raw sensor register access (16-bit register address, 8-bit value).
  virtual int WriteRegister(int32_t address, int32_t value);
  virtual int ReadRegister(int32_t address, int32_t* value);
  virtual int WriteRegisterChecked(int32_t address, int32_t value);
  virtual int ReadRegisterRetry(int32_t address, int32_t* value);

  virtual int SetReadoutMode(int32_t mode);
  virtual int GetReadoutMode(int32_t* mode);
  // Trigger mode of the readout (0 free running); the device core hands it on when it changes.
  virtual int SetTriggerMode(int32_t mode);

  // Copies the whole information block; 0 for a null output.
  virtual int GetSensorInfo(SensorInfo* info);

  // Readout control around streaming: the device core asks IsReadoutStarted when streaming starts and
  // calls StartReadout when it answers 0; StopReadout when streaming stops. This sensor runs freely.
  virtual int IsReadoutStarted();
  virtual int StartReadout();
  virtual void StopReadout(int wait);

  // Geometry capabilities: whether the window may be narrower / lower than the full frame.
  virtual int AllowsNarrowWindow();
  virtual int AllowsLowWindow();

  virtual int HasInternalCorrection(int32_t typeCode);
  virtual int SetInternalCorrection(int32_t value);
  virtual int GetInternalCorrection(int32_t* value);
  virtual int HasPeltier();
  virtual int GetPeltier(int32_t* value);
  virtual int SetPeltier(int32_t value);
  // Sensor temperature: the support test, then the reading in degrees Celsius.
  virtual int HasTemperature();
  virtual int ReadTemperature(double* celsius);

  virtual int HasExposureTimeEx();
  virtual int GetExposureTimeExMin(double* seconds);
  virtual int GetExposureTimeExMax(double* seconds);
  virtual int GetExposureTimeExDefault(double* seconds);
  virtual int GetExposureTimeEx(double* seconds);
  virtual int SetExposureTimeEx(double seconds);

  virtual int HasShortExposureMode();
  virtual int GetShortExposureMode(int32_t* flag);
  virtual int SetShortExposureMode(int32_t flag);

  virtual int HasGainMode();
  virtual int GetGainMode();
  virtual int SetGainMode(int32_t mode);

  // Orientation of delivered frames: 2 pixels reversed within rows, 3 rows reversed, 4 both, anything
  // else (-1 here) as stored.
  virtual int GetOrientation();

  // The colour modes the sensor can deliver, which the SDK consults before it accepts a colour mode
  // (modes 0 to 5: 8-bit gray, 16-bit gray, BGR, BGRX, 48-bit BGR, 64-bit BGRX); 1 = allowed.
  // Gray 8 and BGRX (modes 0 and 3).
  virtual int AllowsGray8AndBgrx();
  // Gray 16 (mode 1).
  virtual int AllowsGray16();
  // The colour modes (2 and above).
  virtual int AllowsColorModes();

  // Sampling rate of the analog front end; no driver of this camera has one.
  virtual int SetSamplingRate(int32_t word, int32_t* rate);
  // Called once when preview starts, after the settings were pushed.
  virtual void PreparePreview();
  // A setting that preview start resets to 0 where the driver supports it.
  virtual int HasPreviewResetSetting();
  virtual int GetPreviewResetSetting(int32_t* value);
  virtual int SetPreviewResetSetting(int32_t value);

  // Whether the FPGA's vertical start needs the extra line of the alternate readout timing (full
  // resolution only). The device core reads it when it writes the FPGA geometry.
  virtual int AlternateTimingFlag();

  // Pulses the FPGA readout re-arm register (1, 1 ms, 0, 1 ms). Called between failed frame reads.
  // Answers 1 at once when re-arming is disabled and 0 without a controller.
  int RearmReadout();
  // Pulses the FPGA's start-up handshake bit (register 0x82, bit 0) low, high, low, 50 ms apart; called
  // while the core waits for the FPGA to come up. 0 without a controller or when the register cannot be
  // read.
  int PulseFpgaStartup();

  // Where the FPGA's window starts inside the sensor's readout: the window origin plus the margins of
  // the optical black and blanking. `alternateTiming`: the full-resolution readout starts a line later.
  static int32_t FpgaVerticalStart(int32_t y, int32_t subSampleMode, bool alternateTiming);
  static int32_t FpgaHorizontalStart(int32_t x, int32_t subSampleMode);
  // The FPGA geometry the device core programs before streaming, for the current window: the line
  // length `lineLength` (pixels) and the height, then the window's start (after AlternateTimingFlag).
  // The FPGA's window registers are written by the sensor driver only. 0 without a controller.
  int WriteFpgaGeometry(int32_t lineLength);

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
