// Exports of register, EEPROM and port access, configuration, image files, the defect mask and the
// settings dialogs.

#include "OrvaneSdk.h"
#include "api/export_call.h"
#include "ui/dialogs.h"

using orvane::api::Call;
using orvane::api::WithObject;
using orvane::ui::Dialog;

extern "C" {

ORVANE_API int ORVANE_CALL Orvane_ReadRegister(int handle, int address, int* ok) { return Call(handle, 0, &COrvane::ReadRegister, address, ok, false); }
ORVANE_API int ORVANE_CALL Orvane_ReadRegisterEx(int handle, int address, int* ok) { return Call(handle, 0, &COrvane::ReadRegister, address, ok, true); }
ORVANE_API int ORVANE_CALL Orvane_WriteRegister(int handle, int address, int value) { return Call(handle, 0, &COrvane::WriteRegister, address, value, false); }
ORVANE_API int ORVANE_CALL Orvane_WriteRegisterEx(int handle, int address, int value) { return Call(handle, 0, &COrvane::WriteRegister, address, value, true); }
ORVANE_API int ORVANE_CALL Orvane_Fpga_ReadRegister(int handle, int address, int* ok) { return Call(handle, 0, &COrvane::FpgaReadRegister, address, ok); }
ORVANE_API int ORVANE_CALL Orvane_Fpga_WriteRegister(int handle, int address, int value) { return Call(handle, 0, &COrvane::FpgaWriteRegister, address, value); }
ORVANE_API int ORVANE_CALL Orvane_ReadSromID(int handle, int address, int* ok) { return Call(handle, 0, &COrvane::ReadSromID, address, ok); }
ORVANE_API int ORVANE_CALL Orvane_WriteSromID(int handle, int address, int value) { return Call(handle, 0, &COrvane::WriteSromID, address, value); }
ORVANE_API int ORVANE_CALL Orvane_ReadSerialNumberA(int handle, char* buffer, int length) { return Call(handle, 0, &COrvane::ReadSerialNumberA, buffer, length); }
ORVANE_API int ORVANE_CALL Orvane_ReadSerialNumberW(int handle, ORVANE_WCHAR* buffer, int length) { return Call(handle, 0, &COrvane::ReadSerialNumberW, buffer, length); }
ORVANE_API int ORVANE_CALL Orvane_GetIOPort(int handle, unsigned char* value) { return Call(handle, 0, &COrvane::GetIOPort, value); }
ORVANE_API int ORVANE_CALL Orvane_SetIOPort(int handle, int value) { return Call(handle, 0, &COrvane::SetIOPort, value); }

ORVANE_API int ORVANE_CALL Orvane_LoadConfigFileA(int handle, const char* fileName) { return Call(handle, 0, &COrvane::LoadConfigFileA, fileName); }
ORVANE_API int ORVANE_CALL Orvane_LoadConfigFileW(int handle, const ORVANE_WCHAR* fileName) { return Call(handle, 0, &COrvane::LoadConfigFileW, fileName); }
ORVANE_API int ORVANE_CALL Orvane_GetConfigFilter(int handle) { return Call(handle, 0, &COrvane::ConfigFilterNotSupported); }
ORVANE_API int ORVANE_CALL Orvane_SetConfigFilter(int handle, int, int) { return Call(handle, 0, &COrvane::ConfigFilterNotSupported); }

ORVANE_API int ORVANE_CALL Orvane_SaveImage(int handle, const char* fileName, int type) { return Call(handle, 0, &COrvane::SaveImage, fileName, type); }
ORVANE_API int ORVANE_CALL Orvane_SaveImageW(int handle, const ORVANE_WCHAR* fileName, int type) { return Call(handle, 0, &COrvane::SaveImageW, fileName, type); }
ORVANE_API int ORVANE_CALL Orvane_LoadMaskFile(int handle, const char* fileName) { return Call(handle, 0, &COrvane::LoadMaskFile, fileName); }
ORVANE_API int ORVANE_CALL Orvane_LoadMaskFileW(int handle, const ORVANE_WCHAR* fileName) { return Call(handle, 0, &COrvane::LoadMaskFileW, fileName); }
ORVANE_API int ORVANE_CALL Orvane_SaveMaskFile(int handle, const char* fileName) { return Call(handle, 0, &COrvane::SaveMaskFile, fileName); }
ORVANE_API int ORVANE_CALL Orvane_SaveMaskFileW(int handle, const ORVANE_WCHAR* fileName) { return Call(handle, 0, &COrvane::SaveMaskFileW, fileName); }
ORVANE_API int ORVANE_CALL Orvane_UpdateMaskData(int handle, int which) { return Call(handle, 0, &COrvane::UpdateMaskData, which); }

ORVANE_API int ORVANE_CALL Orvane_SetCameraDlg(int handle, HWND parent) {
  return WithObject(handle, 0, [&](COrvane& object) { return orvane::ui::OpenDialog(object, Dialog::kCamera, parent); });
}
ORVANE_API int ORVANE_CALL Orvane_SetAnalogDlg(int handle, HWND parent) {
  return WithObject(handle, 0, [&](COrvane& object) { return orvane::ui::OpenDialog(object, Dialog::kAnalog, parent); });
}
ORVANE_API int ORVANE_CALL Orvane_SetImageDlg(int handle, HWND parent) {
  return WithObject(handle, 0, [&](COrvane& object) { return orvane::ui::OpenDialog(object, Dialog::kImage, parent); });
}

}  // extern "C"
