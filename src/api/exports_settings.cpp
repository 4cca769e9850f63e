// Exports of the filter values, exposure, mirrors and device options.

#include "OrvaneSdk.h"
#include "api/export_call.h"

using orvane::api::Call;

extern "C" {

ORVANE_API int ORVANE_CALL Orvane_SetFilterValue(int handle, int filterId, int value) { return Call(handle, 0, &COrvane::SetFilterValue, filterId, value); }
ORVANE_API int ORVANE_CALL Orvane_GetFilterValue(int handle, int filterId, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, filterId, ok); }

// The named forms of the filter ids.
ORVANE_API int ORVANE_CALL Orvane_SetBrightness(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BRIGHTNESS, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBrightness(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BRIGHTNESS, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetContrast(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_CONTRAST, value); }
ORVANE_API int ORVANE_CALL Orvane_GetContrast(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_CONTRAST, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetHue(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_HUE, value); }
ORVANE_API int ORVANE_CALL Orvane_GetHue(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_HUE, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetSaturation(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_SATURATION, value); }
ORVANE_API int ORVANE_CALL Orvane_GetSaturation(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_SATURATION, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetSharpness(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_SHARPNESS, value); }
ORVANE_API int ORVANE_CALL Orvane_GetSharpness(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_SHARPNESS, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainRGB(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BAYER_GAIN_RGB, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainRGB(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BAYER_GAIN_RGB, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainRed(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BAYER_GAIN_RED, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainRed(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BAYER_GAIN_RED, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainGreen(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BAYER_GAIN_GREEN, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainGreen(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BAYER_GAIN_GREEN, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainBlue(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BAYER_GAIN_BLUE, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainBlue(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BAYER_GAIN_BLUE, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainAuto(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BAYER_GAIN_AUTO, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainAuto(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BAYER_GAIN_AUTO, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGamma(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GAMMA, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGamma(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GAMMA, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetBayerMode(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_BAYER_MODE, value); }
ORVANE_API int ORVANE_CALL Orvane_GetBayerMode(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_BAYER_MODE, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGlobalGain(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GLOBAL_GAIN, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGlobalGain(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GLOBAL_GAIN, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetColorGainRed(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_COLOR_GAIN_RED, value); }
ORVANE_API int ORVANE_CALL Orvane_GetColorGainRed(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_COLOR_GAIN_RED, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetColorGainGreen1(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_COLOR_GAIN_GREEN1, value); }
ORVANE_API int ORVANE_CALL Orvane_GetColorGainGreen1(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_COLOR_GAIN_GREEN1, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetColorGainGreen2(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_COLOR_GAIN_GREEN2, value); }
ORVANE_API int ORVANE_CALL Orvane_GetColorGainGreen2(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_COLOR_GAIN_GREEN2, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetColorGainBlue(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_COLOR_GAIN_BLUE, value); }
ORVANE_API int ORVANE_CALL Orvane_GetColorGainBlue(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_COLOR_GAIN_BLUE, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetExposureTime(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_EXPOSURE_TIME, value); }
ORVANE_API int ORVANE_CALL Orvane_GetExposureTime(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_EXPOSURE_TIME, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayMode(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_MODE, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayMode(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_MODE, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainR(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_GAIN_R, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainR(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_GAIN_R, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainG1(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_GAIN_G1, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainG1(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_GAIN_G1, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainG2(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_GAIN_G2, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainG2(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_GAIN_G2, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainB(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_GAIN_B, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainB(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_GAIN_B, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetR(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_OFFSET_R, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetR(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_OFFSET_R, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetG1(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_OFFSET_G1, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetG1(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_OFFSET_G1, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetG2(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_OFFSET_G2, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetG2(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_OFFSET_G2, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetB(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_GRAY_OFFSET_B, value); }
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetB(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_GRAY_OFFSET_B, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetPeltier(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_PELTIER, value); }
ORVANE_API int ORVANE_CALL Orvane_GetPeltier(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_PELTIER, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetDotFilter(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_DOT, value); }
ORVANE_API int ORVANE_CALL Orvane_GetDotFilter(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_DOT, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetMaskFilter(int handle, int value) { return Call(handle, 0, &COrvane::SetFilterValue, ORVANE_FILTER_MASK, value); }
ORVANE_API int ORVANE_CALL Orvane_GetMaskFilter(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_MASK, ok); }
ORVANE_API int ORVANE_CALL Orvane_GetTemperature(int handle, int* ok) { return Call(handle, 0, &COrvane::GetFilterValue, ORVANE_FILTER_TEMPERATURE, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetChannelGain(int handle, int channel, int value) { return Call(handle, 0, &COrvane::SetChannelGain, channel, value); }
ORVANE_API int ORVANE_CALL Orvane_GetChannelGain(int handle, int channel, int* ok) { return Call(handle, 0, &COrvane::GetChannelGain, channel, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetChannelOffset(int handle, int channel, int value) { return Call(handle, 0, &COrvane::SetChannelOffset, channel, value); }
ORVANE_API int ORVANE_CALL Orvane_GetChannelOffset(int handle, int channel, int* ok) { return Call(handle, 0, &COrvane::GetChannelOffset, channel, ok); }

ORVANE_API int ORVANE_CALL Orvane_SetExposureTimeEx(int handle, double seconds) { return Call(handle, 0, &COrvane::SetExposureTimeEx, seconds); }
ORVANE_API double ORVANE_CALL Orvane_GetExposureTimeEx(int handle, int* ok) { return Call(handle, 0.0, &COrvane::GetExposureTimeEx, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetRealExposureTime(int handle, int microseconds) { return Call(handle, 0, &COrvane::SetRealExposureTime, microseconds); }
ORVANE_API int ORVANE_CALL Orvane_GetRealExposureTime(int handle, int* ok) { return Call(handle, 0, &COrvane::GetRealExposureTime, ok); }
ORVANE_API double ORVANE_CALL Orvane_GetTemperatureEx(int handle, int* ok) { return Call(handle, 0.0, &COrvane::GetTemperatureEx, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetMirrorH(int handle, int on) { return Call(handle, 0, &COrvane::SetMirrorH, on); }
ORVANE_API int ORVANE_CALL Orvane_GetMirrorH(int handle) { return Call(handle, 0, &COrvane::GetMirrorH); }
ORVANE_API int ORVANE_CALL Orvane_SetMirrorV(int handle, int on) { return Call(handle, 0, &COrvane::SetMirrorV, on); }
ORVANE_API int ORVANE_CALL Orvane_GetMirrorV(int handle) { return Call(handle, 0, &COrvane::GetMirrorV); }
ORVANE_API int ORVANE_CALL Orvane_SetAutoIris(int handle, int mode) { return Call(handle, 0, &COrvane::SetAutoIris, mode); }
ORVANE_API int ORVANE_CALL Orvane_GetAutoIris(int handle, int* ok) { return Call(handle, 0, &COrvane::GetAutoIris, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetInternalCorrection(int handle, int value) { return Call(handle, 0, &COrvane::SetInternalCorrection, value); }
ORVANE_API int ORVANE_CALL Orvane_GetInternalCorrection(int handle, int* ok) { return Call(handle, 0, &COrvane::GetInternalCorrection, ok); }
ORVANE_API int ORVANE_CALL Orvane_SetSamplingRate(int handle, int rate) { return Call(handle, 0, &COrvane::SetSamplingRate, rate); }

}  // extern "C"
