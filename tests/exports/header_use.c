/* Uses the public headers as an application would, in C and in C++. */
#include "OrvaneSdk.h"
#include "OrvaneSdkEx.h"

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

static void ORVANE_CALL on_frame(void *context, const unsigned char *frame, int32_t size,
                                 const OrvaneExFrameMetadata *metadata) {
  *(uint64_t *)context = metadata->sequence + (uint64_t)(frame != 0) + (uint64_t)size;
}

static int use_extension_header(void) {
  OrvaneExFrameMetadata metadata;
  OrvaneExStreamStats stats;
  unsigned char pixel[4];
  uint64_t seen = 0;
  int handle = Orvane_Initialize(0);
  metadata.size = (uint32_t)sizeof(metadata);
  stats.size = (uint32_t)sizeof(stats);
  OrvaneEx_SetFrameCallback(handle, on_frame, &seen);
  OrvaneEx_GetNewestFrame(handle, pixel, (int)sizeof(pixel), 1, &metadata);
  OrvaneEx_GetStreamStats(handle, &stats);
  return (OrvaneEx_GetErrorName(ORVANE_ERR_ARGUMENT)[0] == 'O') + OrvaneEx_GetMessageQueueFd(0) +
         (metadata.status == ORVANE_EX_TRANSFER_OK) + (int)stats.framesRead + Orvane_Release(handle);
}

int (*keep_extension_header_use)(void) = use_extension_header;
