// Every export that takes a handle, called with a handle that is not registered: the documented
// default result, no out-parameter touched, nothing recorded anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "OrvaneSdk.h"

namespace {

struct Sentinels {
  int i = 0x5A5A5A5A;
  unsigned char bytes[64];
  char chars[64];
  ORVANE_WCHAR wchars[64];
  char names[10][256];
  ORVANE_WCHAR wnames[10][256];
  OrvaneCameraInfo info;

  Sentinels() {
    std::memset(bytes, 0xA5, sizeof(bytes));
    std::memset(chars, 0xA5, sizeof(chars));
    std::memset(wchars, 0xA5, sizeof(wchars));
    std::memset(names, 0xA5, sizeof(names));
    std::memset(wnames, 0xA5, sizeof(wnames));
    std::memset(&info, 0xA5, sizeof(info));
    info.size = sizeof(info);
  }
  bool Untouched() const {
    Sentinels fresh;
    return i == fresh.i && std::memcmp(bytes, fresh.bytes, sizeof(bytes)) == 0 &&
           std::memcmp(chars, fresh.chars, sizeof(chars)) == 0 && std::memcmp(wchars, fresh.wchars, sizeof(wchars)) == 0 &&
           std::memcmp(names, fresh.names, sizeof(names)) == 0 && std::memcmp(wnames, fresh.wnames, sizeof(wnames)) == 0 &&
           std::memcmp(&info, &fresh.info, sizeof(info)) == 0;
  }
};

struct Case {
  const char* name;
  std::function<double(int, Sentinels&)> call;
  double unregistered;
};

const std::vector<Case>& AllHandleExports() {
  static const std::vector<Case> cases = {
      {"Orvane_Release", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Release(handle); }, 0},
      {"Orvane_GetLastError", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetLastError(handle); }, 0},
      {"Orvane_EnumDevice", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_EnumDevice(handle, s.names); }, 0},
      {"Orvane_EnumDeviceW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_EnumDeviceW(handle, s.wnames); }, 0},
      {"Orvane_GetDeviceName", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetDeviceName(handle, 1, s.chars, 64); }, 0},
      {"Orvane_GetDeviceNameW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetDeviceNameW(handle, 1, s.wchars, 64); }, 0},
      {"Orvane_SetDeviceNumber", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetDeviceNumber(handle, 1); }, 0},
      {"Orvane_SetPreviewWindow", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetPreviewWindow(handle, nullptr, 1, 1, 1, 1); }, 0},
      {"Orvane_SetCaptureWindowEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetCaptureWindowEx(handle, 1, 1, 1, 1, 1, 1); }, 0},
      {"Orvane_GetCaptureWindowEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetCaptureWindowEx(handle, &s.i, &s.i, &s.i, &s.i, &s.i, &s.i); }, 0},
      {"Orvane_SetCaptureWindow", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetCaptureWindow(handle, 1, 1); }, 0},
      {"Orvane_Preview", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Preview(handle); }, 0},
      {"Orvane_CallBackPreview", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_CallBackPreview(handle, nullptr, s.bytes, 64, 1); }, 0},
      {"Orvane_StartPreview", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_StartPreview(handle); }, 0},
      {"Orvane_StopPreview", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_StopPreview(handle); }, 0},
      {"Orvane_Capture", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Capture(handle); }, 0},
      {"Orvane_Close", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Close(handle); }, 0},
      {"Orvane_SnapShot", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SnapShot(handle, s.bytes, 64, 1); }, 0},
      {"Orvane_GetImage", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetImage(handle, s.bytes, 64, 1); }, 0},
      {"Orvane_Record", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Record(handle, "x.bin", 1, 1); }, 0},
      {"Orvane_RecordW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_RecordW(handle, reinterpret_cast<const ORVANE_WCHAR*>(u"x.bin"), 1, 1); }, 0},
      {"Orvane_SetWaitTime", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetWaitTime(handle, 1); }, 0},
      {"Orvane_GetWaitTime", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetWaitTime(handle); }, -1},
      {"Orvane_SetColorMode", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetColorMode(handle, 1); }, 0},
      {"Orvane_GetColorMode", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetColorMode(handle); }, -1},
      {"Orvane_SetSubSample", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetSubSample(handle, 1); }, 0},
      {"Orvane_GetSubSample", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetSubSample(handle); }, -1},
      {"Orvane_Width", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Width(handle); }, 0},
      {"Orvane_Height", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Height(handle); }, 0},
      {"Orvane_GetCameraInfo", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetCameraInfo(handle, &s.info); }, 0},
      {"Orvane_GetStatus", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetStatus(handle); }, 0},
      {"Orvane_SetFilterValue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetFilterValue(handle, 1, 1); }, 0},
      {"Orvane_GetFilterValue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetFilterValue(handle, 1, &s.i); }, 0},
      {"Orvane_SetBrightness", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBrightness(handle, 1); }, 0},
      {"Orvane_GetBrightness", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBrightness(handle, &s.i); }, 0},
      {"Orvane_SetContrast", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetContrast(handle, 1); }, 0},
      {"Orvane_GetContrast", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetContrast(handle, &s.i); }, 0},
      {"Orvane_SetHue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetHue(handle, 1); }, 0},
      {"Orvane_GetHue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetHue(handle, &s.i); }, 0},
      {"Orvane_SetSaturation", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetSaturation(handle, 1); }, 0},
      {"Orvane_GetSaturation", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetSaturation(handle, &s.i); }, 0},
      {"Orvane_SetSharpness", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetSharpness(handle, 1); }, 0},
      {"Orvane_GetSharpness", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetSharpness(handle, &s.i); }, 0},
      {"Orvane_SetBayerGainRGB", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBayerGainRGB(handle, 1); }, 0},
      {"Orvane_GetBayerGainRGB", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBayerGainRGB(handle, &s.i); }, 0},
      {"Orvane_SetBayerGainRed", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBayerGainRed(handle, 1); }, 0},
      {"Orvane_GetBayerGainRed", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBayerGainRed(handle, &s.i); }, 0},
      {"Orvane_SetBayerGainGreen", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBayerGainGreen(handle, 1); }, 0},
      {"Orvane_GetBayerGainGreen", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBayerGainGreen(handle, &s.i); }, 0},
      {"Orvane_SetBayerGainBlue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBayerGainBlue(handle, 1); }, 0},
      {"Orvane_GetBayerGainBlue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBayerGainBlue(handle, &s.i); }, 0},
      {"Orvane_SetBayerGainAuto", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBayerGainAuto(handle, 1); }, 0},
      {"Orvane_GetBayerGainAuto", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBayerGainAuto(handle, &s.i); }, 0},
      {"Orvane_SetGamma", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGamma(handle, 1); }, 0},
      {"Orvane_GetGamma", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGamma(handle, &s.i); }, 0},
      {"Orvane_SetBayerMode", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetBayerMode(handle, 1); }, 0},
      {"Orvane_GetBayerMode", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetBayerMode(handle, &s.i); }, 0},
      {"Orvane_SetGlobalGain", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGlobalGain(handle, 1); }, 0},
      {"Orvane_GetGlobalGain", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGlobalGain(handle, &s.i); }, 0},
      {"Orvane_SetColorGainRed", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetColorGainRed(handle, 1); }, 0},
      {"Orvane_GetColorGainRed", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetColorGainRed(handle, &s.i); }, 0},
      {"Orvane_SetColorGainGreen1", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetColorGainGreen1(handle, 1); }, 0},
      {"Orvane_GetColorGainGreen1", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetColorGainGreen1(handle, &s.i); }, 0},
      {"Orvane_SetColorGainGreen2", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetColorGainGreen2(handle, 1); }, 0},
      {"Orvane_GetColorGainGreen2", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetColorGainGreen2(handle, &s.i); }, 0},
      {"Orvane_SetColorGainBlue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetColorGainBlue(handle, 1); }, 0},
      {"Orvane_GetColorGainBlue", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetColorGainBlue(handle, &s.i); }, 0},
      {"Orvane_SetExposureTime", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetExposureTime(handle, 1); }, 0},
      {"Orvane_GetExposureTime", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetExposureTime(handle, &s.i); }, 0},
      {"Orvane_SetGrayMode", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayMode(handle, 1); }, 0},
      {"Orvane_GetGrayMode", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayMode(handle, &s.i); }, 0},
      {"Orvane_SetGrayGainR", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayGainR(handle, 1); }, 0},
      {"Orvane_GetGrayGainR", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayGainR(handle, &s.i); }, 0},
      {"Orvane_SetGrayGainG1", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayGainG1(handle, 1); }, 0},
      {"Orvane_GetGrayGainG1", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayGainG1(handle, &s.i); }, 0},
      {"Orvane_SetGrayGainG2", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayGainG2(handle, 1); }, 0},
      {"Orvane_GetGrayGainG2", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayGainG2(handle, &s.i); }, 0},
      {"Orvane_SetGrayGainB", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayGainB(handle, 1); }, 0},
      {"Orvane_GetGrayGainB", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayGainB(handle, &s.i); }, 0},
      {"Orvane_SetGrayOffsetR", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayOffsetR(handle, 1); }, 0},
      {"Orvane_GetGrayOffsetR", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayOffsetR(handle, &s.i); }, 0},
      {"Orvane_SetGrayOffsetG1", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayOffsetG1(handle, 1); }, 0},
      {"Orvane_GetGrayOffsetG1", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayOffsetG1(handle, &s.i); }, 0},
      {"Orvane_SetGrayOffsetG2", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayOffsetG2(handle, 1); }, 0},
      {"Orvane_GetGrayOffsetG2", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayOffsetG2(handle, &s.i); }, 0},
      {"Orvane_SetGrayOffsetB", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetGrayOffsetB(handle, 1); }, 0},
      {"Orvane_GetGrayOffsetB", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetGrayOffsetB(handle, &s.i); }, 0},
      {"Orvane_SetPeltier", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetPeltier(handle, 1); }, 0},
      {"Orvane_GetPeltier", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetPeltier(handle, &s.i); }, 0},
      {"Orvane_SetDotFilter", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetDotFilter(handle, 1); }, 0},
      {"Orvane_GetDotFilter", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetDotFilter(handle, &s.i); }, 0},
      {"Orvane_SetMaskFilter", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetMaskFilter(handle, 1); }, 0},
      {"Orvane_GetMaskFilter", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetMaskFilter(handle, &s.i); }, 0},
      {"Orvane_GetTemperature", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetTemperature(handle, &s.i); }, 0},
      {"Orvane_SetChannelGain", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetChannelGain(handle, 1, 1); }, 0},
      {"Orvane_GetChannelGain", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetChannelGain(handle, 1, &s.i); }, 0},
      {"Orvane_SetChannelOffset", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetChannelOffset(handle, 1, 1); }, 0},
      {"Orvane_GetChannelOffset", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetChannelOffset(handle, 1, &s.i); }, 0},
      {"Orvane_SetExposureTimeEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetExposureTimeEx(handle, 0.5); }, 0},
      {"Orvane_GetExposureTimeEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetExposureTimeEx(handle, &s.i); }, 0.0},
      {"Orvane_SetRealExposureTime", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetRealExposureTime(handle, 1); }, 0},
      {"Orvane_GetRealExposureTime", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetRealExposureTime(handle, &s.i); }, 0},
      {"Orvane_GetTemperatureEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetTemperatureEx(handle, &s.i); }, 0.0},
      {"Orvane_SetMirrorH", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetMirrorH(handle, 1); }, 0},
      {"Orvane_GetMirrorH", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetMirrorH(handle); }, 0},
      {"Orvane_SetMirrorV", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetMirrorV(handle, 1); }, 0},
      {"Orvane_GetMirrorV", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetMirrorV(handle); }, 0},
      {"Orvane_SetAutoIris", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetAutoIris(handle, 1); }, 0},
      {"Orvane_GetAutoIris", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetAutoIris(handle, &s.i); }, 0},
      {"Orvane_SetInternalCorrection", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetInternalCorrection(handle, 1); }, 0},
      {"Orvane_GetInternalCorrection", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetInternalCorrection(handle, &s.i); }, 0},
      {"Orvane_SetSamplingRate", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetSamplingRate(handle, 1); }, 0},
      {"Orvane_ReadRegister", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_ReadRegister(handle, 1, &s.i); }, 0},
      {"Orvane_ReadRegisterEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_ReadRegisterEx(handle, 1, &s.i); }, 0},
      {"Orvane_WriteRegister", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_WriteRegister(handle, 1, 1); }, 0},
      {"Orvane_WriteRegisterEx", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_WriteRegisterEx(handle, 1, 1); }, 0},
      {"Orvane_Fpga_ReadRegister", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Fpga_ReadRegister(handle, 1, &s.i); }, 0},
      {"Orvane_Fpga_WriteRegister", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Fpga_WriteRegister(handle, 1, 1); }, 0},
      {"Orvane_ReadSromID", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_ReadSromID(handle, 1, &s.i); }, 0},
      {"Orvane_WriteSromID", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_WriteSromID(handle, 1, 1); }, 0},
      {"Orvane_ReadSerialNumberA", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_ReadSerialNumberA(handle, s.chars, 64); }, 0},
      {"Orvane_ReadSerialNumberW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_ReadSerialNumberW(handle, s.wchars, 64); }, 0},
      {"Orvane_GetIOPort", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetIOPort(handle, s.bytes); }, 0},
      {"Orvane_SetIOPort", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetIOPort(handle, 1); }, 0},
      {"Orvane_LoadConfigFileA", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_LoadConfigFileA(handle, "x.bin"); }, 0},
      {"Orvane_LoadConfigFileW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_LoadConfigFileW(handle, reinterpret_cast<const ORVANE_WCHAR*>(u"x.bin")); }, 0},
      {"Orvane_GetConfigFilter", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetConfigFilter(handle); }, 0},
      {"Orvane_SetConfigFilter", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetConfigFilter(handle, 1, 1); }, 0},
      {"Orvane_SaveImage", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SaveImage(handle, "x.bin", 1); }, 0},
      {"Orvane_SaveImageW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SaveImageW(handle, reinterpret_cast<const ORVANE_WCHAR*>(u"x.bin"), 1); }, 0},
      {"Orvane_LoadMaskFile", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_LoadMaskFile(handle, "x.bin"); }, 0},
      {"Orvane_LoadMaskFileW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_LoadMaskFileW(handle, reinterpret_cast<const ORVANE_WCHAR*>(u"x.bin")); }, 0},
      {"Orvane_SaveMaskFile", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SaveMaskFile(handle, "x.bin"); }, 0},
      {"Orvane_SaveMaskFileW", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SaveMaskFileW(handle, reinterpret_cast<const ORVANE_WCHAR*>(u"x.bin")); }, 0},
      {"Orvane_UpdateMaskData", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_UpdateMaskData(handle, 1); }, 0},
      {"Orvane_SetCameraDlg", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetCameraDlg(handle, nullptr); }, 0},
      {"Orvane_SetAnalogDlg", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetAnalogDlg(handle, nullptr); }, 0},
      {"Orvane_SetImageDlg", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetImageDlg(handle, nullptr); }, 0},
      {"Orvane_Fps", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Fps(handle); }, 0},
      {"Orvane_GetHalfClock", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetHalfClock(handle); }, 0},
      {"Orvane_SetCrossbar", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetCrossbar(handle, 1); }, 0},
      {"Orvane_SetHalfClock", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SetHalfClock(handle, 1); }, 0},
      {"Orvane_Trigger", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_Trigger(handle); }, 0},
      {"Orvane_GetSamplingRate", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetSamplingRate(handle, &s.i); }, 0},
      {"Orvane_GetVideoFormat", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_GetVideoFormat(handle, &s.i); }, 0},
      {"Orvane_ReceiveText", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_ReceiveText(handle, s.chars, 64); }, 0},
      {"Orvane_SendText", [](int handle, [[maybe_unused]] Sentinels& s) -> double { return Orvane_SendText(handle, "x.bin"); }, 0},
  };
  return cases;
}

void ExpectDefaults(int handle) {
  for (const Case& c : AllHandleExports()) {
    Sentinels s;
    EXPECT_EQ(c.call(handle, s), c.unregistered) << c.name;
    EXPECT_TRUE(s.Untouched()) << c.name;
  }
}

TEST(UnregisteredHandle, EveryExportGivesItsDefaultAndTouchesNothing) {
  ASSERT_EQ(AllHandleExports().size(), 147u);  // all 149 exports but Orvane_Initialize and Orvane_GetDllVersion
  ExpectDefaults(0);
  ExpectDefaults(0x13572468);
  ExpectDefaults(-1);
}

TEST(UnregisteredHandle, AReleasedHandleIsUnregistered) {
  int handle = Orvane_Initialize(nullptr);
  ASSERT_NE(handle, 0);
  int other = Orvane_Initialize(nullptr);
  ASSERT_EQ(Orvane_Release(handle), 1);
  ExpectDefaults(handle);
  EXPECT_EQ(Orvane_GetLastError(other), 0);  // nothing landed on the live neighbour
  EXPECT_EQ(Orvane_Release(other), 1);
}

}  // namespace
