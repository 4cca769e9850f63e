#include <cstdio>

#include "tool.h"

namespace orvane_tool {

Session::Session() : handle_(Orvane_Initialize(pump_.handle())) {}

Session::~Session() {
  if (handle_ != 0) Orvane_Release(handle_);  // also saves the camera's settings
}

bool Session::Open(int camera) {
  if (handle_ == 0) {
    std::fprintf(stderr, "orvane-tool: Orvane_Initialize failed: no SDK object\n");
    return false;
  }
  char names[10][256] = {};
  const int count = Orvane_EnumDevice(handle_, names);
  if (camera >= count) {
    std::fprintf(stderr, "orvane-tool: camera %d not found (%d connected): %s (%d)\n", camera, count,
                 ErrorName(ORVANE_ERR_NO_CAMERA), ORVANE_ERR_NO_CAMERA);
    return false;
  }
  // With exactly one camera connected the SDK opened it already.
  if (count == 1 && camera == 0) return true;
  if (Orvane_SetDeviceNumber(handle_, camera) == 1) return true;
  Fail("opening camera " + std::to_string(camera));
  return false;
}

int Session::Fail(const std::string& what) {
  int code = handle_ != 0 ? Orvane_GetLastError(handle_) : 0;
  // Some failures are only notified (ORVANE_WM_ERROR), never recorded: take the notified one.
  Message message;
  while (code == 0 && pump_.Next(&message, 0)) {
    if (message.id == ORVANE_WM_ERROR) code = static_cast<int>(message.lParam);
  }
  if (code == 0) {
    std::fprintf(stderr, "orvane-tool: %s failed (no error code recorded)\n", what.c_str());
  } else {
    std::fprintf(stderr, "orvane-tool: %s failed: %s (%d)\n", what.c_str(), ErrorName(code), code);
  }
  return kExitFailed;
}

}  // namespace orvane_tool
