// Exports of device choice, geometry, acquisition and image format.

#include "OrvaneSdk.h"
#include "api/export_call.h"

using orvane::api::Call;

extern "C" {

ORVANE_API int ORVANE_CALL Orvane_EnumDevice(int handle, char names[10][256]) { return Call(handle, 0, &COrvane::EnumDevice, names); }
ORVANE_API int ORVANE_CALL Orvane_EnumDeviceW(int handle, ORVANE_WCHAR names[10][256]) { return Call(handle, 0, &COrvane::EnumDeviceW, names); }
ORVANE_API int ORVANE_CALL Orvane_GetDeviceName(int handle, int deviceNumber, char* name, int length) { return Call(handle, 0, &COrvane::GetDeviceName, deviceNumber, name, length); }
ORVANE_API int ORVANE_CALL Orvane_GetDeviceNameW(int handle, int deviceNumber, ORVANE_WCHAR* name, int length) { return Call(handle, 0, &COrvane::GetDeviceNameW, deviceNumber, name, length); }
ORVANE_API int ORVANE_CALL Orvane_SetDeviceNumber(int handle, int deviceNumber) { return Call(handle, 0, &COrvane::SetDeviceNumber, deviceNumber); }

ORVANE_API int ORVANE_CALL Orvane_SetPreviewWindow(int handle, HWND parent, int x, int y, int width, int height) { return Call(handle, 0, &COrvane::SetPreviewWindow, parent, x, y, width, height); }
ORVANE_API int ORVANE_CALL Orvane_SetCaptureWindowEx(int handle, int th, int ehs, int eh, int tv, int evs, int ev) { return Call(handle, 0, &COrvane::SetCaptureWindowEx, th, ehs, eh, tv, evs, ev); }
ORVANE_API int ORVANE_CALL Orvane_GetCaptureWindowEx(int handle, int* th, int* ehs, int* eh, int* tv, int* evs, int* ev) { return Call(handle, 0, &COrvane::GetCaptureWindowEx, th, ehs, eh, tv, evs, ev); }
ORVANE_API int ORVANE_CALL Orvane_SetCaptureWindow(int handle, int width, int height) { return Call(handle, 0, &COrvane::SetCaptureWindow, width, height); }

ORVANE_API int ORVANE_CALL Orvane_Preview(int handle) { return Call(handle, 0, &COrvane::Preview); }
ORVANE_API int ORVANE_CALL Orvane_CallBackPreview(int handle, HWND callbackWindow, unsigned char* buffer, int size, int rowOrder) { return Call(handle, 0, &COrvane::CallBackPreview, callbackWindow, buffer, size, rowOrder); }
ORVANE_API int ORVANE_CALL Orvane_StartPreview(int handle) { return Call(handle, 0, &COrvane::StartPreview); }
ORVANE_API int ORVANE_CALL Orvane_StopPreview(int handle) { return Call(handle, 0, &COrvane::StopPreview); }
ORVANE_API int ORVANE_CALL Orvane_Capture(int handle) { return Call(handle, 0, &COrvane::Capture); }
ORVANE_API int ORVANE_CALL Orvane_Close(int handle) { return Call(handle, 0, &COrvane::Close); }
ORVANE_API int ORVANE_CALL Orvane_SnapShot(int handle, unsigned char* buffer, int size, int rowOrder) { return Call(handle, 0, &COrvane::SnapShot, buffer, size, rowOrder); }
ORVANE_API int ORVANE_CALL Orvane_GetImage(int handle, unsigned char* buffer, int size, int rowOrder) { return Call(handle, 0, &COrvane::GetImage, buffer, size, rowOrder); }
ORVANE_API int ORVANE_CALL Orvane_Record(int handle, const char* fileName, int durationMs, int showWindow) { return Call(handle, 0, &COrvane::Record, fileName, durationMs, showWindow); }
ORVANE_API int ORVANE_CALL Orvane_RecordW(int handle, const ORVANE_WCHAR* fileName, int durationMs, int showWindow) { return Call(handle, 0, &COrvane::RecordW, fileName, durationMs, showWindow); }
ORVANE_API int ORVANE_CALL Orvane_SetWaitTime(int handle, int milliseconds) { return Call(handle, 0, &COrvane::SetWaitTime, milliseconds); }
ORVANE_API int ORVANE_CALL Orvane_GetWaitTime(int handle) { return Call(handle, -1, &COrvane::GetWaitTime); }

ORVANE_API int ORVANE_CALL Orvane_SetColorMode(int handle, int bitsPerPixel) { return Call(handle, 0, &COrvane::SetColorMode, bitsPerPixel); }
ORVANE_API int ORVANE_CALL Orvane_GetColorMode(int handle) { return Call(handle, -1, &COrvane::GetColorMode); }
ORVANE_API int ORVANE_CALL Orvane_SetSubSample(int handle, int mode) { return Call(handle, 0, &COrvane::SetSubSample, mode); }
ORVANE_API int ORVANE_CALL Orvane_GetSubSample(int handle) { return Call(handle, -1, &COrvane::GetSubSample); }
ORVANE_API int ORVANE_CALL Orvane_Width(int handle) { return Call(handle, 0, &COrvane::Width); }
ORVANE_API int ORVANE_CALL Orvane_Height(int handle) { return Call(handle, 0, &COrvane::Height); }
ORVANE_API int ORVANE_CALL Orvane_GetCameraInfo(int handle, OrvaneCameraInfo* info) { return Call(handle, 0, &COrvane::GetCameraInfo, info); }

}  // extern "C"
