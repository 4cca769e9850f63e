// Instance-level exports and the shared bodies of the exports this camera does not support.

#include "OrvaneSdk.h"
#include "api/export_call.h"

using orvane::api::Call;
using orvane::api::WithObject;

namespace {

// The helpers take the ExportHandle so that the export calling them is the one named in the log.

// Orvane_Fps and its aliases: post "not supported" without recording it.
int NotSupportedNotifyOnly(orvane::api::ExportHandle handle) {
  return WithObject(handle, 0, [](COrvane& o) {
    o.NotifyError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  });
}

// Orvane_GetSamplingRate and its alias: answer 0 through the pointer, record nothing.
int ZeroValue(orvane::api::ExportHandle handle, int* value) {
  return WithObject(handle, 0, [value](COrvane&) {
    if (value != nullptr) *value = 0;
    return 0;
  });
}

// Orvane_SendText and its alias: record "not supported".
int NotSupportedRecorded(orvane::api::ExportHandle handle) {
  return WithObject(handle, 0, [](COrvane& o) {
    o.ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  });
}

}  // namespace

extern "C" {

ORVANE_API int ORVANE_CALL Orvane_Initialize(HWND notifyWindow) {
  try {
    const orvane::log::ExportScope scope("Orvane_Initialize");
    auto object = std::make_shared<COrvane>();
    int handle = CSdkChain::Library().Insert(object);
    // A failed setup still gives the handle: the application reads the reason with
    // Orvane_GetLastError, and later calls fail with error 1 or 2.
    object->Setup(notifyWindow);
    return handle;
  } catch (...) {
    return 0;
  }
}

ORVANE_API int ORVANE_CALL Orvane_Release(int handle) {
  try {
    const orvane::log::ExportScope scope("Orvane_Release");
    // Not from inside the handle's own frame callback: the object's acquisition thread, which runs
    // the callback, would have to end itself (error 1, the handle stays).
    if (std::shared_ptr<COrvane> running = CSdkChain::Library().Lookup(handle); running && running->InFrameCallback()) {
      running->ReportError(ORVANE_ERR_NOT_NOW);
      return 0;
    }
    std::shared_ptr<COrvane> object = CSdkChain::Library().Remove(handle);
    if (!object) return 0;
    // Stopped and its callback buffer forgotten before Release returns, even when another call still
    // holds the object; destroyed here, or by the last such call when it returns.
    object->Close();
    return 1;
  } catch (...) {
    return 0;
  }
}

ORVANE_API int ORVANE_CALL Orvane_GetDllVersion(void) { return ORVANE_DLL_VERSION; }

ORVANE_API int ORVANE_CALL Orvane_GetLastError(int handle) { return Call(handle, 0, &COrvane::GetLastError); }

ORVANE_API int ORVANE_CALL Orvane_GetStatus(int) { return 0; }

ORVANE_API int ORVANE_CALL Orvane_Fps(int handle) { return NotSupportedNotifyOnly(handle); }
ORVANE_API int ORVANE_CALL Orvane_GetHalfClock(int handle) { return NotSupportedNotifyOnly(handle); }
ORVANE_API int ORVANE_CALL Orvane_SetCrossbar(int handle, int) { return NotSupportedNotifyOnly(handle); }
ORVANE_API int ORVANE_CALL Orvane_SetHalfClock(int handle, int) { return NotSupportedNotifyOnly(handle); }
ORVANE_API int ORVANE_CALL Orvane_Trigger(int handle) { return NotSupportedNotifyOnly(handle); }

ORVANE_API int ORVANE_CALL Orvane_GetSamplingRate(int handle, int* value) { return ZeroValue(handle, value); }
ORVANE_API int ORVANE_CALL Orvane_GetVideoFormat(int handle, int* value) { return ZeroValue(handle, value); }

ORVANE_API int ORVANE_CALL Orvane_ReceiveText(int handle, char*, int) { return NotSupportedRecorded(handle); }
ORVANE_API int ORVANE_CALL Orvane_SendText(int handle, const char*) { return NotSupportedRecorded(handle); }

}  // extern "C"
