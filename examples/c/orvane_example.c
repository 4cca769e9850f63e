/* The first program to copy: open the camera, preview with every frame copied into our own buffer,
   take a snapshot into a file, release. Every result is checked; a failure prints the SDK's error
   code and ends the program with status 1.

   Windows: the frames arrive as window messages to our window (a message loop). Linux: a message
   queue of the library takes the window's place.

   Usage: orvane_example [SNAPSHOT.bmp] [FRAMES]     (defaults: orvane_snapshot.bmp, 10) */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "OrvaneSdk.h"

static int frames_seen = 0;   /* frames delivered into our buffer */
static int frames_failed = 0; /* frame messages that carried an error code */

/* Prints what failed with the newest error code of the handle and returns 0. */
static int report(int handle, const char *what) {
  int code = handle != 0 ? Orvane_GetLastError(handle) : 0;
  fprintf(stderr, "%s failed: error %d\n", what, code);
  return 0;
}

static void on_message(unsigned int message, uintptr_t wParam, intptr_t lParam) {
  if (message == ORVANE_WM_FRAME && wParam != 0) {
    const OrvaneFrameInfo *info = (const OrvaneFrameInfo *)wParam;
    /* info->buffer is our buffer, holding the frame now */
    if (frames_seen == 0) printf("first frame: %d x %d, %d bits\n", info->width, info->height, info->bitsPerPixel);
    ++frames_seen;
  } else if (message == ORVANE_WM_FRAME) {
    ++frames_failed;
    fprintf(stderr, "frame failed: error %ld\n", (long)lParam);
  } else if (message == ORVANE_WM_ERROR) {
    fprintf(stderr, "SDK error message: error %ld\n", (long)lParam);
  }
}

#ifdef _WIN32
static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ORVANE_WM_FRAME || message == ORVANE_WM_ERROR) {
    on_message(message, (uintptr_t)wParam, (intptr_t)lParam);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

static HWND create_message_target(void) {
  WNDCLASSA wc = {0};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.lpszClassName = "OrvaneExample";
  if (!RegisterClassA(&wc)) return NULL;
  return CreateWindowExA(0, "OrvaneExample", "Orvane example", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, NULL, NULL,
                         wc.hInstance, NULL);
}

static void destroy_message_target(HWND window) { DestroyWindow(window); }

/* The message loop: dispatches messages for up to timeout_ms. */
static void pump_messages(HWND window, int timeout_ms) {
  DWORD start = GetTickCount();
  MSG msg;
  (void)window;
  while (GetTickCount() - start < (DWORD)timeout_ms) {
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
  }
}
#else
static HWND create_message_target(void) { return Orvane_CreateMessageQueue(); }

static void destroy_message_target(HWND queue) { Orvane_DestroyMessageQueue(queue); }

/* Takes the queue's messages for up to timeout_ms. */
static void pump_messages(HWND queue, int timeout_ms) {
  unsigned int message;
  uintptr_t wParam;
  intptr_t lParam;
  if (Orvane_GetMessage(queue, &message, &wParam, &lParam, timeout_ms)) on_message(message, wParam, lParam);
}
#endif

/* Previews until `frames` frames arrived in `buffer` (or a minute passed), then stops. */
static int preview(int handle, HWND target, unsigned char *buffer, int size, int frames) {
  time_t start = time(NULL);
  if (!Orvane_SetPreviewWindow(handle, NULL, 0, 0, 640, 480)) return report(handle, "Orvane_SetPreviewWindow");
  if (!Orvane_CallBackPreview(handle, target, buffer, size, 1)) return report(handle, "Orvane_CallBackPreview");
  while (frames_seen < frames && time(NULL) - start < 60) pump_messages(target, 100);
  if (!Orvane_StopPreview(handle)) return report(handle, "Orvane_StopPreview");
  printf("%d frames received, %d failed\n", frames_seen, frames_failed);
  if (frames_seen < frames) {
    fprintf(stderr, "only %d of %d frames arrived within a minute\n", frames_seen, frames);
    return 0;
  }
  return 1;
}

static int run(int handle, HWND target, const char *snapshot, int frames) {
  char names[10][256];
  unsigned char *buffer;
  int count, size, ok;
  count = Orvane_EnumDevice(handle, names);
  if (count < 1) return report(handle, "finding a camera (set ORVANE_SIM_CAMERAS=1 for a virtual one)");
  printf("camera: %s\n", names[0]);
  if (count > 1 && !Orvane_SetDeviceNumber(handle, 0)) return report(handle, "Orvane_SetDeviceNumber");
  if (!Orvane_SetColorMode(handle, ORVANE_COLOR_BGR24)) return report(handle, "Orvane_SetColorMode");
  size = Orvane_Width(handle) * Orvane_Height(handle) * 3;
  buffer = (unsigned char *)malloc((size_t)size);
  if (buffer == NULL) {
    fprintf(stderr, "no memory for a %d-byte frame\n", size);
    return 0;
  }
  ok = preview(handle, target, buffer, size, frames);
  if (ok && !Orvane_SnapShot(handle, buffer, size, 1)) ok = report(handle, "Orvane_SnapShot");
  if (ok && !Orvane_SaveImage(handle, snapshot, ORVANE_FILE_BMP)) ok = report(handle, "Orvane_SaveImage");
  if (ok) printf("snapshot saved as %s\n", snapshot);
  free(buffer);
  return ok;
}

int main(int argc, char **argv) {
  const char *snapshot = argc > 1 ? argv[1] : "orvane_snapshot.bmp";
  int frames = argc > 2 ? atoi(argv[2]) : 10;
  HWND target;
  int handle, ok;
  printf("Orvane SDK %d\n", Orvane_GetDllVersion());
  target = create_message_target();
  if (target == NULL) {
    fprintf(stderr, "cannot create the message window\n");
    return 1;
  }
  handle = Orvane_Initialize(target);
  if (handle == 0) {
    fprintf(stderr, "Orvane_Initialize failed\n");
    destroy_message_target(target);
    return 1;
  }
  ok = run(handle, target, snapshot, frames > 0 ? frames : 1);
  if (!Orvane_Release(handle)) ok = report(0, "Orvane_Release");
  destroy_message_target(target);
  return ok ? 0 : 1;
}
