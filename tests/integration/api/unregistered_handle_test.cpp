// Every export that takes a handle, called with a handle that is not registered: the documented
// default result, no out-parameter touched, nothing recorded anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "OrvaneSdk.h"

namespace {

// Every out-parameter an export may be handed, filled with a pattern no export writes.
struct Sentinels {
  int i;
  unsigned char bytes[64];
  char chars[64];
  ORVANE_WCHAR wchars[64];
  char names[10][256];
  ORVANE_WCHAR wnames[10][256];
  OrvaneCameraInfo info;

  Sentinels() {
    std::memset(this, 0xA5, sizeof(*this));
    info.size = sizeof(info);
  }
  bool Untouched() const {
    const Sentinels fresh;
    return std::memcmp(this, &fresh, sizeof(*this)) == 0;
  }
};

struct Case {
  const char* name;
  double (*call)(int, Sentinels&);
  double unregistered;
};

const ORVANE_WCHAR* const kWideName = reinterpret_cast<const ORVANE_WCHAR*>(u"x.bin");

// One row: the export, its result for an unknown handle, and its arguments after the handle.
#define ROW(f, result, ...) \
  {#f, [](int h, [[maybe_unused]] Sentinels& s) -> double { return f(h __VA_OPT__(, ) __VA_ARGS__); }, result},
// A stored value with the usual pair of exports: Set(handle, value) and Get(handle, &value).
#define SET_GET(p) ROW(Orvane_Set##p, 0, 1) ROW(Orvane_Get##p, 0, &s.i)
// A stream setting whose getter answers -1 for an unknown handle.
#define SET_GET_MINUS_ONE(p) ROW(Orvane_Set##p, 0, 1) ROW(Orvane_Get##p, -1)

const std::vector<Case>& AllHandleExports() {
  static const std::vector<Case> cases = {
      SET_GET(Brightness) SET_GET(Contrast) SET_GET(Hue) SET_GET(Saturation) SET_GET(Sharpness)
      SET_GET(BayerGainRGB) SET_GET(BayerGainRed) SET_GET(BayerGainGreen) SET_GET(BayerGainBlue)
      SET_GET(BayerGainAuto) SET_GET(Gamma) SET_GET(BayerMode) SET_GET(GlobalGain) SET_GET(ColorGainRed)
      SET_GET(ColorGainGreen1) SET_GET(ColorGainGreen2) SET_GET(ColorGainBlue) SET_GET(ExposureTime)
      SET_GET(GrayMode) SET_GET(GrayGainR) SET_GET(GrayGainG1) SET_GET(GrayGainG2) SET_GET(GrayGainB)
      SET_GET(GrayOffsetR) SET_GET(GrayOffsetG1) SET_GET(GrayOffsetG2) SET_GET(GrayOffsetB) SET_GET(Peltier)
      SET_GET(DotFilter) SET_GET(MaskFilter) SET_GET(RealExposureTime) SET_GET(AutoIris)
      SET_GET(InternalCorrection)
      SET_GET_MINUS_ONE(WaitTime) SET_GET_MINUS_ONE(ColorMode) SET_GET_MINUS_ONE(SubSample)
      ROW(Orvane_SetMirrorH, 0, 1) ROW(Orvane_GetMirrorH, 0) ROW(Orvane_SetMirrorV, 0, 1) ROW(Orvane_GetMirrorV, 0)
      ROW(Orvane_Release, 0) ROW(Orvane_GetLastError, 0) ROW(Orvane_Preview, 0) ROW(Orvane_StartPreview, 0)
      ROW(Orvane_StopPreview, 0) ROW(Orvane_Capture, 0) ROW(Orvane_Close, 0) ROW(Orvane_Width, 0)
      ROW(Orvane_Height, 0) ROW(Orvane_GetStatus, 0) ROW(Orvane_GetConfigFilter, 0) ROW(Orvane_Fps, 0)
      ROW(Orvane_GetHalfClock, 0) ROW(Orvane_Trigger, 0)
      ROW(Orvane_SetDeviceNumber, 0, 1) ROW(Orvane_SetSamplingRate, 0, 1) ROW(Orvane_SetIOPort, 0, 1)
      ROW(Orvane_UpdateMaskData, 0, 1) ROW(Orvane_SetCrossbar, 0, 1) ROW(Orvane_SetHalfClock, 0, 1)
      ROW(Orvane_GetTemperature, 0, &s.i) ROW(Orvane_GetSamplingRate, 0, &s.i) ROW(Orvane_GetVideoFormat, 0, &s.i)
      ROW(Orvane_SetFilterValue, 0, 1, 1) ROW(Orvane_GetFilterValue, 0, 1, &s.i)
      ROW(Orvane_SetChannelGain, 0, 1, 1) ROW(Orvane_GetChannelGain, 0, 1, &s.i)
      ROW(Orvane_SetChannelOffset, 0, 1, 1) ROW(Orvane_GetChannelOffset, 0, 1, &s.i)
      ROW(Orvane_ReadRegister, 0, 1, &s.i) ROW(Orvane_WriteRegister, 0, 1, 1)
      ROW(Orvane_ReadRegisterEx, 0, 1, &s.i) ROW(Orvane_WriteRegisterEx, 0, 1, 1)
      ROW(Orvane_Fpga_ReadRegister, 0, 1, &s.i) ROW(Orvane_Fpga_WriteRegister, 0, 1, 1)
      ROW(Orvane_ReadSromID, 0, 1, &s.i) ROW(Orvane_WriteSromID, 0, 1, 1) ROW(Orvane_SetConfigFilter, 0, 1, 1)
      ROW(Orvane_SetExposureTimeEx, 0, 0.5) ROW(Orvane_GetExposureTimeEx, 0.0, &s.i)
      ROW(Orvane_GetTemperatureEx, 0.0, &s.i)
      ROW(Orvane_EnumDevice, 0, s.names) ROW(Orvane_EnumDeviceW, 0, s.wnames)
      ROW(Orvane_GetDeviceName, 0, 1, s.chars, 64) ROW(Orvane_GetDeviceNameW, 0, 1, s.wchars, 64)
      ROW(Orvane_ReadSerialNumberA, 0, s.chars, 64) ROW(Orvane_ReadSerialNumberW, 0, s.wchars, 64)
      ROW(Orvane_ReceiveText, 0, s.chars, 64) ROW(Orvane_GetIOPort, 0, s.bytes)
      ROW(Orvane_GetCameraInfo, 0, &s.info)
      ROW(Orvane_SetPreviewWindow, 0, nullptr, 1, 1, 1, 1) ROW(Orvane_SetCaptureWindow, 0, 1, 1)
      ROW(Orvane_SetCaptureWindowEx, 0, 1, 1, 1, 1, 1, 1)
      ROW(Orvane_GetCaptureWindowEx, 0, &s.i, &s.i, &s.i, &s.i, &s.i, &s.i)
      ROW(Orvane_CallBackPreview, 0, nullptr, s.bytes, 64, 1) ROW(Orvane_SnapShot, 0, s.bytes, 64, 1)
      ROW(Orvane_GetImage, 0, s.bytes, 64, 1)
      ROW(Orvane_Record, 0, "x.bin", 1, 1) ROW(Orvane_RecordW, 0, kWideName, 1, 1)
      ROW(Orvane_SaveImage, 0, "x.bin", 1) ROW(Orvane_SaveImageW, 0, kWideName, 1)
      ROW(Orvane_LoadConfigFileA, 0, "x.bin") ROW(Orvane_LoadConfigFileW, 0, kWideName)
      ROW(Orvane_LoadMaskFile, 0, "x.bin") ROW(Orvane_LoadMaskFileW, 0, kWideName)
      ROW(Orvane_SaveMaskFile, 0, "x.bin") ROW(Orvane_SaveMaskFileW, 0, kWideName)
      ROW(Orvane_SendText, 0, "x.bin")
      ROW(Orvane_SetCameraDlg, 0, nullptr) ROW(Orvane_SetAnalogDlg, 0, nullptr) ROW(Orvane_SetImageDlg, 0, nullptr)
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
  // The live neighbour comes first: it opens the camera, which the other object then cannot.
  int other = Orvane_Initialize(nullptr);
  int released = Orvane_Initialize(nullptr);
  ASSERT_NE(released, 0);
  ASSERT_EQ(Orvane_Release(released), 1);
  for (int handle : {0, 0x13572468, -1, released}) ExpectDefaults(handle);
  EXPECT_EQ(Orvane_GetLastError(other), 0);  // nothing landed on the live neighbour
  EXPECT_EQ(Orvane_Release(other), 1);
}

}  // namespace
