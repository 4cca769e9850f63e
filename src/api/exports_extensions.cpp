// The OrvaneEx_ exports of OrvaneSdkEx.h: frame metadata, the frame callback, stream statistics,
// error names and the pollable message queue. Same shape as the Orvane_ exports.

#include <iterator>

#include "OrvaneSdkEx.h"
#include "api/export_call.h"
#include "platform/messages.h"

using orvane::api::Call;

namespace {

// Indexed by code; the names of OrvaneSdk.h's ORVANE_ERR_ constants.
constexpr const char* kErrorNames[] = {
    "ORVANE_ERR_NONE",     "ORVANE_ERR_NOT_NOW",       "ORVANE_ERR_NO_CAMERA",  "ORVANE_ERR_THREAD",
    "ORVANE_ERR_WINDOW",   "ORVANE_ERR_MEMORY",        "ORVANE_ERR_DEVICE_IO",  "ORVANE_ERR_GEOMETRY",
    "ORVANE_ERR_TRANSFER", "ORVANE_ERR_ARGUMENT",      "ORVANE_ERR_UNUSED_10",  "ORVANE_ERR_NOT_SUPPORTED",
    "ORVANE_ERR_CONVERSION", "ORVANE_ERR_STREAM",      "ORVANE_ERR_MASK_FILE"};
static_assert(std::size(kErrorNames) == ORVANE_ERR_MASK_FILE + 1, "one name per error code");

}  // namespace

extern "C" {

ORVANE_API int ORVANE_CALL OrvaneEx_GetNewestFrame(int handle, unsigned char* buffer, int size, int rowOrder,
                                                   OrvaneExFrameMetadata* metadata) {
  return Call(handle, 0, &COrvane::GetNewestFrame, buffer, size, rowOrder, metadata);
}

ORVANE_API int ORVANE_CALL OrvaneEx_SetFrameCallback(int handle, OrvaneExFrameCallback callback, void* context) {
  return Call(handle, 0, &COrvane::SetFrameCallback, callback, context);
}

ORVANE_API int ORVANE_CALL OrvaneEx_GetStreamStats(int handle, OrvaneExStreamStats* stats) {
  return Call(handle, 0, &COrvane::GetStreamStats, stats);
}

ORVANE_API const char* ORVANE_CALL OrvaneEx_GetErrorName(int code) {
  if (code < 0 || code >= static_cast<int>(std::size(kErrorNames))) return "unknown";
  return kErrorNames[code];
}

ORVANE_API int ORVANE_CALL OrvaneEx_GetMessageQueueFd(HWND queue) {
  try {
    return orvane::platform::MessageQueueFd(queue);
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
