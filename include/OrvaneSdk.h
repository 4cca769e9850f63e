/*
 * OrvaneSdk.h - the public interface of the Orvane KD7 USB3 R5 camera SDK.
 *
 * One handle per application object: Orvane_Initialize gives it, every other call takes it first,
 * Orvane_Release ends it. Calls return 1 for success and 0 for failure unless stated; the reason of a
 * failure is an error code (ORVANE_ERR_*) pushed on the handle's error history (read newest first with
 * Orvane_GetLastError) and posted to the notification window as ORVANE_WM_ERROR with the code in lParam.
 * Some calls only post the code ("notify-only") without recording it.
 * Frames reach the application as ORVANE_WM_FRAME messages (wParam: address of the handle's
 * OrvaneFrameInfo block; or wParam 0 and lParam an error code).
 * Any thread may call any export; an unregistered handle gives 0 (-1 or 0.0 where stated) and records
 * nothing.
 *
 * Windows: the DLL OrvaneSdk_KD7_USB3_R5.dll, window handles are HWND and wide strings wchar_t (UTF-16).
 * Linux: libOrvaneSdk_KD7_USB3_R5.so with the same exports; a "window" is a message queue made by
 * Orvane_CreateMessageQueue, wide strings are char16_t (UTF-16) and the 8-bit strings UTF-8.
 */
#ifndef ORVANE_SDK_H
#define ORVANE_SDK_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
typedef wchar_t ORVANE_WCHAR;
#ifdef ORVANE_BUILDING_SDK
#define ORVANE_API
#else
#define ORVANE_API __declspec(dllimport)
#endif
#define ORVANE_CALL WINAPI
#else
#ifndef __cplusplus
#include <uchar.h>
#endif
typedef struct OrvaneWindow *HWND;
typedef char16_t ORVANE_WCHAR;
#define ORVANE_API __attribute__((visibility("default")))
#define ORVANE_CALL
#endif

#ifdef __cplusplus
#define ORVANE_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ORVANE_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants ---------------------------------------------------------------------------- */

#define ORVANE_DLL_VERSION 34604321 /* 0x02100521, the value of Orvane_GetDllVersion */

#define ORVANE_WM_FRAME 0x8002 /* WM_APP + 2: a frame (wParam = &OrvaneFrameInfo) or a failure (lParam) */
#define ORVANE_WM_ERROR 0x8003 /* WM_APP + 3: wParam 0, lParam = error code */

/* Error codes. */
#define ORVANE_ERR_NONE 0             /* no error (empty history) */
#define ORVANE_ERR_NOT_NOW 1          /* no device object, conflicting acquisition mode, no image yet */
#define ORVANE_ERR_NO_CAMERA 2        /* camera not available (absent, or open in another SDK object) */
#define ORVANE_ERR_THREAD 3           /* thread or event creation failed; the shared camera table could not be
                                         attached (its name taken by something else, or its lock held
                                         by another process for over 2 s) */
#define ORVANE_ERR_WINDOW 4           /* window creation failed, or no matching size preset */
#define ORVANE_ERR_MEMORY 5           /* allocation failed, buffer too small, no image data */
#define ORVANE_ERR_DEVICE_IO 6        /* device I/O failed */
#define ORVANE_ERR_GEOMETRY 7         /* invalid capture geometry */
#define ORVANE_ERR_TRANSFER 8         /* frame transfer failed */
#define ORVANE_ERR_ARGUMENT 9         /* invalid argument */
#define ORVANE_ERR_UNUSED_10 10       /* never set */
#define ORVANE_ERR_NOT_SUPPORTED 11   /* not supported by this camera */
#define ORVANE_ERR_CONVERSION 12      /* text conversion, mask update or recording start failed */
#define ORVANE_ERR_STREAM 13          /* the stream failed while waiting for a frame */
#define ORVANE_ERR_MASK_FILE 14       /* mask file cannot be created, opened, read, written or checked */

/* Colour modes, as bits per pixel for Orvane_SetColorMode / Orvane_GetColorMode. */
#define ORVANE_COLOR_GRAY8 8
#define ORVANE_COLOR_GRAY16 16
#define ORVANE_COLOR_BGR24 24
#define ORVANE_COLOR_BGRX32 32
#define ORVANE_COLOR_BGR48 48
#define ORVANE_COLOR_BGRX64 64

/* File type codes of Orvane_SaveImage. */
#define ORVANE_FILE_BMP 0
#define ORVANE_FILE_RAW 1
#define ORVANE_FILE_JPEG_100 2
#define ORVANE_FILE_JPEG_70 3
#define ORVANE_FILE_JPEG_20 4
#define ORVANE_FILE_PNG 5
#define ORVANE_FILE_TIFF 6

/* Filter ids of Orvane_SetFilterValue / Orvane_GetFilterValue. */
#define ORVANE_FILTER_BRIGHTNESS 1          /* -255..255 */
#define ORVANE_FILTER_CONTRAST 2            /* -127..127 */
#define ORVANE_FILTER_HUE 3                 /* -360..360 degrees */
#define ORVANE_FILTER_SATURATION 4          /* -255..255 */
#define ORVANE_FILTER_SHARPNESS 5           /* 0..30 */
#define ORVANE_FILTER_BAYER_GAIN_RGB 6      /* red + green * 256 + blue * 65536 */
#define ORVANE_FILTER_BAYER_GAIN_RED 7      /* 0..400 percent */
#define ORVANE_FILTER_BAYER_GAIN_GREEN 8    /* 0..400 percent */
#define ORVANE_FILTER_BAYER_GAIN_BLUE 9     /* 0..400 percent */
#define ORVANE_FILTER_BAYER_GAIN_AUTO 10    /* 0 or 1: white balance on every frame */
#define ORVANE_FILTER_GAMMA 11              /* 0..200, 100 = linear */
#define ORVANE_FILTER_BAYER_MODE 12         /* 0..3: Bayer phase */
#define ORVANE_FILTER_GLOBAL_GAIN 13        /* device gain range */
#define ORVANE_FILTER_COLOR_GAIN_RED 14     /* device colour-gain range */
#define ORVANE_FILTER_COLOR_GAIN_GREEN1 15
#define ORVANE_FILTER_COLOR_GAIN_GREEN2 16
#define ORVANE_FILTER_COLOR_GAIN_BLUE 17
#define ORVANE_FILTER_EXPOSURE_TIME 18      /* units of 100 microseconds */
#define ORVANE_FILTER_GRAY_MODE 19          /* 0..2 */
#define ORVANE_FILTER_GRAY_GAIN_R 20        /* 0..255 */
#define ORVANE_FILTER_GRAY_GAIN_G1 21
#define ORVANE_FILTER_GRAY_GAIN_G2 22
#define ORVANE_FILTER_GRAY_GAIN_B 23
#define ORVANE_FILTER_GRAY_OFFSET_R 24      /* -255..255 */
#define ORVANE_FILTER_GRAY_OFFSET_G1 25
#define ORVANE_FILTER_GRAY_OFFSET_G2 26
#define ORVANE_FILTER_GRAY_OFFSET_B 27
#define ORVANE_FILTER_28 28                 /* 0..1, set only */
#define ORVANE_FILTER_AUTO_GRAY_BALANCE ORVANE_FILTER_28 /* the one-shot automatic gray balance request */
#define ORVANE_FILTER_PELTIER 100
#define ORVANE_FILTER_TEMPERATURE 101
#define ORVANE_FILTER_DOT 102               /* 0 or 1: defect (dot) correction */
#define ORVANE_FILTER_MASK 103              /* 0 or 1: shading (mask) correction */
#define ORVANE_FILTER_GAIN_MODE 104
#define ORVANE_FILTER_SHORT_EXPOSURE 105
#define ORVANE_FILTER_BLACK_LEVEL 106

/* ---- Exported structures ------------------------------------------------------------------ */

/* The block whose address travels with every frame message; rewritten in place for every frame. */
typedef struct OrvaneFrameInfo {
  int32_t reserved0;      /* always 0 */
  int32_t width;          /* pixels of the raw frame */
  int32_t height;         /* rows of the raw frame */
  int32_t bitsPerPixel;   /* 8, 16, 24, 32, 48 or 64 after the colour mode */
  int32_t frameRate;      /* frames per second x 10 */
  int32_t reserved1;      /* always 0 */
  unsigned char *buffer;  /* the application buffer of Orvane_CallBackPreview, or NULL */
} OrvaneFrameInfo;

/* Filled by Orvane_GetCameraInfo; the caller sets `size` first. */
typedef struct OrvaneCameraInfo {
  int32_t size;              /* record size in bytes, set by the caller (36, or 56 for all fields) */
  int32_t maxWidth;          /* 4000 */
  int32_t maxHeight;         /* 3000 */
  int32_t globalGainMin;
  int32_t globalGainMax;
  int32_t colorGainMin;
  int32_t colorGainMax;
  int32_t exposureMin;       /* units of 100 microseconds */
  int32_t exposureMax;
  int32_t reserved;          /* not written */
  double exposureTimeExMin;  /* seconds; written when size >= 56 */
  double exposureTimeExMax;
} OrvaneCameraInfo;

ORVANE_STATIC_ASSERT(offsetof(OrvaneFrameInfo, width) == 4, "OrvaneFrameInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneFrameInfo, height) == 8, "OrvaneFrameInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneFrameInfo, bitsPerPixel) == 12, "OrvaneFrameInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneFrameInfo, frameRate) == 16, "OrvaneFrameInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneFrameInfo, reserved1) == 20, "OrvaneFrameInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneFrameInfo, buffer) == 24, "OrvaneFrameInfo layout");
ORVANE_STATIC_ASSERT(sizeof(OrvaneFrameInfo) == 32, "OrvaneFrameInfo size");
ORVANE_STATIC_ASSERT(offsetof(OrvaneCameraInfo, maxWidth) == 4, "OrvaneCameraInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneCameraInfo, globalGainMin) == 12, "OrvaneCameraInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneCameraInfo, exposureMax) == 32, "OrvaneCameraInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneCameraInfo, reserved) == 36, "OrvaneCameraInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneCameraInfo, exposureTimeExMin) == 40, "OrvaneCameraInfo layout");
ORVANE_STATIC_ASSERT(offsetof(OrvaneCameraInfo, exposureTimeExMax) == 48, "OrvaneCameraInfo layout");
ORVANE_STATIC_ASSERT(sizeof(OrvaneCameraInfo) == 56, "OrvaneCameraInfo size");

/* ---- Instance ----------------------------------------------------------------------------- */

/* Creates an SDK object; notifyWindow (may be NULL) receives ORVANE_WM_ERROR. Opens the camera when
   exactly one is connected (error 2 when another SDK object has it open). Error 3 when the table of
   cameras shared by the processes cannot be attached: then no camera is found. Returns the handle, or
   0 on failure. */
ORVANE_API int ORVANE_CALL Orvane_Initialize(HWND notifyWindow);
/* Stops everything, saves the camera's settings and destroys the object, which frees its camera for
   other SDK objects; 1, or 0 for an unknown handle. Once it returns the library no longer writes the
   buffer given to Orvane_CallBackPreview. */
ORVANE_API int ORVANE_CALL Orvane_Release(int handle);
/* The library version, ORVANE_DLL_VERSION; needs no handle. */
ORVANE_API int ORVANE_CALL Orvane_GetDllVersion(void);
/* Pops the newest error code from the history; 0 when it is empty. Posts nothing. */
ORVANE_API int ORVANE_CALL Orvane_GetLastError(int handle);

/* ---- Device choice ------------------------------------------------------------------------ */

/* Writes the names of the connected cameras ("OrvaneKD7-USB3-R5_01", ...) into names, the rest
   empty; returns how many. */
ORVANE_API int ORVANE_CALL Orvane_EnumDevice(int handle, char names[10][256]);
/* As Orvane_EnumDevice with wide names. */
ORVANE_API int ORVANE_CALL Orvane_EnumDeviceW(int handle, ORVANE_WCHAR names[10][256]);
/* Name of camera deviceNumber (0..31) into name (length bytes, > 18); errors 9 (buffer), 2 (camera). */
ORVANE_API int ORVANE_CALL Orvane_GetDeviceName(int handle, int deviceNumber, char *name, int length);
/* As Orvane_GetDeviceName; length in wide characters; error 12 when the name does not fit. */
ORVANE_API int ORVANE_CALL Orvane_GetDeviceNameW(int handle, int deviceNumber, ORVANE_WCHAR *name, int length);
/* Selects and opens camera deviceNumber, saving the previous camera's settings and loading its own.
   A camera is open in one SDK object at a time, in this process or any other of the user: while
   another object has it open, this call fails with error 2 and the other object's stream goes on
   untouched (a refused object sends nothing to the camera). The camera is free again after the
   holder's Orvane_Close or Orvane_Release, or when the holding process ends, even killed. */
ORVANE_API int ORVANE_CALL Orvane_SetDeviceNumber(int handle, int deviceNumber);

/* ---- Geometry and windows ----------------------------------------------------------------- */

/* Parent window (may be NULL) and position of the preview window made by the next preview. */
ORVANE_API int ORVANE_CALL Orvane_SetPreviewWindow(int handle, HWND parent, int x, int y, int width, int height);
/* Capture geometry: total width th, start ehs, width eh, total height tv, start evs, height ev; error 7. */
ORVANE_API int ORVANE_CALL Orvane_SetCaptureWindowEx(int handle, int th, int ehs, int eh, int tv, int evs, int ev);
/* Reads the capture geometry through the non-NULL pointers; 1. */
ORVANE_API int ORVANE_CALL Orvane_GetCaptureWindowEx(int handle, int *th, int *ehs, int *eh, int *tv, int *evs, int *ev);
/* Chooses the stored size preset of width x height; errors 4 (no preset), 7. */
ORVANE_API int ORVANE_CALL Orvane_SetCaptureWindow(int handle, int width, int height);

/* ---- Acquisition -------------------------------------------------------------------------- */

/* Starts the live preview in the configured preview window; errors 4, 8. */
ORVANE_API int ORVANE_CALL Orvane_Preview(int handle);
/* As Orvane_Preview, and copies every frame into buffer (size bytes; rowOrder non-zero = stored
   order, 0 = reversed) with an ORVANE_WM_FRAME message to callbackWindow. The library keeps the
   buffer: a later Orvane_StartPreview after Orvane_StopPreview (pause and resume) writes into it
   again, so it must stay valid until Orvane_Close or Orvane_Release, which forget it (or until another
   Orvane_CallBackPreview, Orvane_Preview or Orvane_Record replaces it). */
ORVANE_API int ORVANE_CALL Orvane_CallBackPreview(int handle, HWND callbackWindow, unsigned char *buffer, int size, int rowOrder);
/* Starts acquisition without creating a window; errors 1, 3, 6 and the preparation's. Frames go
   to the callback window and buffer of the last Orvane_CallBackPreview unless Orvane_Close has since
   forgotten the buffer. */
ORVANE_API int ORVANE_CALL Orvane_StartPreview(int handle);
/* Stops acquisition and recording and waits for their threads; 1. The callback buffer is kept for
   a later Orvane_StartPreview. */
ORVANE_API int ORVANE_CALL Orvane_StopPreview(int handle);
/* Enters capture mode (buffers prepared for Orvane_SnapShot); error 1 during preview. */
ORVANE_API int ORVANE_CALL Orvane_Capture(int handle);
/* Closes the preview window, stops everything and gives the camera up for other SDK objects; the
   next Orvane_Preview, Orvane_CallBackPreview, Orvane_StartPreview, Orvane_Capture, Orvane_SnapShot
   or Orvane_Record opens it again (error 2 when another object has opened it meanwhile). Until then
   calls that reach the camera fail. Forgets the buffer of Orvane_CallBackPreview: no later start
   writes into it. 1. */
ORVANE_API int ORVANE_CALL Orvane_Close(int handle);
/* Takes one frame synchronously into buffer (size bytes, row order as above); errors 1, 5, 8. */
ORVANE_API int ORVANE_CALL Orvane_SnapShot(int handle, unsigned char *buffer, int size, int rowOrder);
/* Copies the newest output image into buffer; errors 1, 5. */
ORVANE_API int ORVANE_CALL Orvane_GetImage(int handle, unsigned char *buffer, int size, int rowOrder);
/* Previews and records durationMs milliseconds into the AVI file fileName; errors 3, 4, 9, 12.
 * The file's header and index are brought up to date at least once a second while recording, so a
 * process that dies leaves a playable file with the frames up to then. Orvane_StopPreview,
 * Orvane_Close and Orvane_Release before the end finish the file with the frames recorded so far; a
 * write error (full disk) ends the recording with error 12 and the file finished as far as possible. */
ORVANE_API int ORVANE_CALL Orvane_Record(int handle, const char *fileName, int durationMs, int showWindow);
/* As Orvane_Record with a wide file name. */
ORVANE_API int ORVANE_CALL Orvane_RecordW(int handle, const ORVANE_WCHAR *fileName, int durationMs, int showWindow);
/* Milliseconds slept before each pass of the acquisition loop (>= 0; default 10). */
ORVANE_API int ORVANE_CALL Orvane_SetWaitTime(int handle, int milliseconds);
/* The wait time; -1 for an unknown handle. */
ORVANE_API int ORVANE_CALL Orvane_GetWaitTime(int handle);

/* ---- Image format ------------------------------------------------------------------------- */

/* Output format by bits per pixel: 8, 16 (gray), 24, 32, 48, 64 (colour); error 9. */
ORVANE_API int ORVANE_CALL Orvane_SetColorMode(int handle, int bitsPerPixel);
/* Bits per pixel of the colour mode; -1 for an unknown handle. */
ORVANE_API int ORVANE_CALL Orvane_GetColorMode(int handle);
/* Sub-sampling: 0 full resolution, 17 reduced (2048 x 1080); other values return 0. */
ORVANE_API int ORVANE_CALL Orvane_SetSubSample(int handle, int mode);
/* The sub-sampling mode; -1 for an unknown handle. */
ORVANE_API int ORVANE_CALL Orvane_GetSubSample(int handle);
/* Capture width and height (not divided by the sub-sampling). */
ORVANE_API int ORVANE_CALL Orvane_Width(int handle);
ORVANE_API int ORVANE_CALL Orvane_Height(int handle);
/* Fills info (info->size set by the caller: >= 36, 56 for all fields); errors 1, 5, 9. */
ORVANE_API int ORVANE_CALL Orvane_GetCameraInfo(int handle, OrvaneCameraInfo *info);
/* Always 0. */
ORVANE_API int ORVANE_CALL Orvane_GetStatus(int handle);

/* ---- Filter values ------------------------------------------------------------------------ */

/* Sets filter filterId (ORVANE_FILTER_*) to value; errors 1, 9 (unknown id or out of range). */
ORVANE_API int ORVANE_CALL Orvane_SetFilterValue(int handle, int filterId, int value);
/* The value of filter filterId; *ok (may be NULL) is 1 on success, 0 otherwise. */
ORVANE_API int ORVANE_CALL Orvane_GetFilterValue(int handle, int filterId, int *ok);

/* Named forms of the filter ids; each setter returns 1/0, each getter the value with *ok. */
ORVANE_API int ORVANE_CALL Orvane_SetBrightness(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBrightness(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetContrast(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetContrast(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetHue(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetHue(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetSaturation(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetSaturation(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetSharpness(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetSharpness(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainRGB(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainRGB(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainRed(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainRed(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainGreen(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainGreen(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainBlue(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainBlue(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetBayerGainAuto(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBayerGainAuto(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGamma(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGamma(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetBayerMode(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetBayerMode(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGlobalGain(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGlobalGain(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetColorGainRed(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetColorGainRed(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetColorGainGreen1(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetColorGainGreen1(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetColorGainGreen2(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetColorGainGreen2(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetColorGainBlue(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetColorGainBlue(int handle, int *ok);
/* Exposure in units of 100 microseconds. */
ORVANE_API int ORVANE_CALL Orvane_SetExposureTime(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetExposureTime(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayMode(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayMode(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainR(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainR(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainG1(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainG1(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainG2(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainG2(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayGainB(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayGainB(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetR(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetR(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetG1(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetG1(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetG2(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetG2(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetGrayOffsetB(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetGrayOffsetB(int handle, int *ok);
/* Cooler; error 11 on this camera. */
ORVANE_API int ORVANE_CALL Orvane_SetPeltier(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetPeltier(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetDotFilter(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetDotFilter(int handle, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetMaskFilter(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetMaskFilter(int handle, int *ok);
/* Sensor temperature; error 11 on this camera (returns -1, *ok 0). */
ORVANE_API int ORVANE_CALL Orvane_GetTemperature(int handle, int *ok);
/* Gray gains and offsets by channel 1..4 (R, G1, G2, B); another channel returns 0 and records nothing. */
ORVANE_API int ORVANE_CALL Orvane_SetChannelGain(int handle, int channel, int value);
ORVANE_API int ORVANE_CALL Orvane_GetChannelGain(int handle, int channel, int *ok);
ORVANE_API int ORVANE_CALL Orvane_SetChannelOffset(int handle, int channel, int value);
ORVANE_API int ORVANE_CALL Orvane_GetChannelOffset(int handle, int channel, int *ok);

/* ---- Exposure, mirror and device options -------------------------------------------------- */

/* Exposure in seconds on devices with fractional exposure; error 11 otherwise. */
ORVANE_API int ORVANE_CALL Orvane_SetExposureTimeEx(int handle, double seconds);
/* Exposure in seconds; 0.0 for an unknown handle, -1.0 on failure. */
ORVANE_API double ORVANE_CALL Orvane_GetExposureTimeEx(int handle, int *ok);
/* Exposure in microseconds (stored in units of 100 microseconds); error 9 out of range. */
ORVANE_API int ORVANE_CALL Orvane_SetRealExposureTime(int handle, int microseconds);
ORVANE_API int ORVANE_CALL Orvane_GetRealExposureTime(int handle, int *ok);
/* Temperature in degrees Celsius; error 11 on this camera; 0.0 for an unknown handle. */
ORVANE_API double ORVANE_CALL Orvane_GetTemperatureEx(int handle, int *ok);
/* Horizontal and vertical mirror, 0 or 1. */
ORVANE_API int ORVANE_CALL Orvane_SetMirrorH(int handle, int on);
ORVANE_API int ORVANE_CALL Orvane_GetMirrorH(int handle);
ORVANE_API int ORVANE_CALL Orvane_SetMirrorV(int handle, int on);
ORVANE_API int ORVANE_CALL Orvane_GetMirrorV(int handle);
/* Automatic exposure: 0 off, 1 by exposure time, 2 by gain; others notify 9 and return 0. */
ORVANE_API int ORVANE_CALL Orvane_SetAutoIris(int handle, int mode);
ORVANE_API int ORVANE_CALL Orvane_GetAutoIris(int handle, int *ok);
/* Sensor-internal correction; notify-only error 11 on this camera. */
ORVANE_API int ORVANE_CALL Orvane_SetInternalCorrection(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_GetInternalCorrection(int handle, int *ok);
/* Sampling rate of the sensor driver; its result, nothing recorded. */
ORVANE_API int ORVANE_CALL Orvane_SetSamplingRate(int handle, int rate);

/* ---- Registers, EEPROM and port ----------------------------------------------------------- */

/* Sensor register (address cut to 8 bits); *ok 1/0; errors 1, 6. */
ORVANE_API int ORVANE_CALL Orvane_ReadRegister(int handle, int address, int *ok);
/* Sensor register with the full address. */
ORVANE_API int ORVANE_CALL Orvane_ReadRegisterEx(int handle, int address, int *ok);
/* Writes a sensor register (8-bit address, 16-bit value); errors 1, 6. */
ORVANE_API int ORVANE_CALL Orvane_WriteRegister(int handle, int address, int value);
/* Writes a sensor register with the full address and value. */
ORVANE_API int ORVANE_CALL Orvane_WriteRegisterEx(int handle, int address, int value);
/* FPGA register (8-bit address), low 16 bits of its value; errors 1, 6. */
ORVANE_API int ORVANE_CALL Orvane_Fpga_ReadRegister(int handle, int address, int *ok);
ORVANE_API int ORVANE_CALL Orvane_Fpga_WriteRegister(int handle, int address, int value);
/* EEPROM identification byte at address & 0xFFF; failures notify error 1. */
ORVANE_API int ORVANE_CALL Orvane_ReadSromID(int handle, int address, int *ok);
ORVANE_API int ORVANE_CALL Orvane_WriteSromID(int handle, int address, int value);
/* Serial number into buffer (length >= 32 bytes / wide characters); error 9 for a short buffer. */
ORVANE_API int ORVANE_CALL Orvane_ReadSerialNumberA(int handle, char *buffer, int length);
ORVANE_API int ORVANE_CALL Orvane_ReadSerialNumberW(int handle, ORVANE_WCHAR *buffer, int length);
/* General-purpose I/O port byte. */
ORVANE_API int ORVANE_CALL Orvane_GetIOPort(int handle, unsigned char *value);
ORVANE_API int ORVANE_CALL Orvane_SetIOPort(int handle, int value);

/* ---- Configuration ------------------------------------------------------------------------ */

/* Reads a configuration file of 8-byte entries (two little-endian int32); 0 when it cannot be opened. */
ORVANE_API int ORVANE_CALL Orvane_LoadConfigFileA(int handle, const char *fileName);
ORVANE_API int ORVANE_CALL Orvane_LoadConfigFileW(int handle, const ORVANE_WCHAR *fileName);
/* Not supported: error 11, -1. */
ORVANE_API int ORVANE_CALL Orvane_GetConfigFilter(int handle);
ORVANE_API int ORVANE_CALL Orvane_SetConfigFilter(int handle, int filter, int value);

/* ---- Image files, defect mask, dialogs ---------------------------------------------------- */

/* Saves the newest processed frame as type ORVANE_FILE_*; error 1 before the first frame. */
ORVANE_API int ORVANE_CALL Orvane_SaveImage(int handle, const char *fileName, int type);
ORVANE_API int ORVANE_CALL Orvane_SaveImageW(int handle, const ORVANE_WCHAR *fileName, int type);
/* Loads / saves the defect mask references; error 14 for a file that cannot be used. */
ORVANE_API int ORVANE_CALL Orvane_LoadMaskFile(int handle, const char *fileName);
ORVANE_API int ORVANE_CALL Orvane_LoadMaskFileW(int handle, const ORVANE_WCHAR *fileName);
ORVANE_API int ORVANE_CALL Orvane_SaveMaskFile(int handle, const char *fileName);
ORVANE_API int ORVANE_CALL Orvane_SaveMaskFileW(int handle, const ORVANE_WCHAR *fileName);
/* Captures the dark (which 0) or bright (1) mask reference from the current raw frame. */
ORVANE_API int ORVANE_CALL Orvane_UpdateMaskData(int handle, int which);
/* Modal settings dialogs (Windows); error 1 without a device, 11 on Linux. */
ORVANE_API int ORVANE_CALL Orvane_SetCameraDlg(int handle, HWND parent);
ORVANE_API int ORVANE_CALL Orvane_SetAnalogDlg(int handle, HWND parent);
ORVANE_API int ORVANE_CALL Orvane_SetImageDlg(int handle, HWND parent);

/* ---- Not supported by this camera --------------------------------------------------------- */

/* These post error 11 without recording it and return 0; further arguments are ignored. */
ORVANE_API int ORVANE_CALL Orvane_Fps(int handle);
ORVANE_API int ORVANE_CALL Orvane_GetHalfClock(int handle);
ORVANE_API int ORVANE_CALL Orvane_SetCrossbar(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_SetHalfClock(int handle, int value);
ORVANE_API int ORVANE_CALL Orvane_Trigger(int handle);
/* These write 0 through a non-NULL value and return 0; nothing is recorded. */
ORVANE_API int ORVANE_CALL Orvane_GetSamplingRate(int handle, int *value);
ORVANE_API int ORVANE_CALL Orvane_GetVideoFormat(int handle, int *value);
/* These record error 11 and return 0; further arguments are ignored. */
ORVANE_API int ORVANE_CALL Orvane_ReceiveText(int handle, char *buffer, int length);
ORVANE_API int ORVANE_CALL Orvane_SendText(int handle, const char *text);

#ifndef _WIN32
/* ---- Linux message queues (stand-ins for windows) ----------------------------------------- */

/* A new message queue, usable wherever a window handle is taken. */
ORVANE_API HWND Orvane_CreateMessageQueue(void);
/* Takes the oldest message (posting order) within timeoutMs (< 0: no limit); 1, or 0 on timeout or a
   NULL queue. The out-pointers may be NULL. */
ORVANE_API int Orvane_GetMessage(HWND queue, unsigned int *message, uintptr_t *wParam, intptr_t *lParam, int timeoutMs);
/* Destroys the queue; later posts to it are dropped. */
ORVANE_API void Orvane_DestroyMessageQueue(HWND queue);
#endif

#ifdef __cplusplus
}
#endif

#endif /* ORVANE_SDK_H */
