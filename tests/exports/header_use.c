/* Uses the public header as an application would, in C and in C++. */
#include "OrvaneSdk.h"

static int use_header(void) {
  OrvaneFrameInfo frame = {0, 4000, 3000, 24, 280, 0, 0};
  OrvaneCameraInfo info;
  int handle = Orvane_Initialize(0);
  info.size = (int32_t)sizeof(info);
  Orvane_GetCameraInfo(handle, &info);
  Orvane_SetFilterValue(handle, ORVANE_FILTER_BRIGHTNESS, 10);
  Orvane_SaveImage(handle, "frame.png", ORVANE_FILE_PNG);
  return frame.width + (Orvane_GetLastError(handle) == ORVANE_ERR_NONE) + Orvane_Release(handle) +
         (ORVANE_WM_FRAME == 0x8002) + (ORVANE_DLL_VERSION == 34604321);
}

int (*keep_header_use)(void) = use_header;
