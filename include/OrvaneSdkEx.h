/*
 * Orvane SDK extensions: frame metadata, a frame callback, stream statistics, error names and (on
 * Linux) a pollable message queue. They sit beside the Orvane_ exports of OrvaneSdk.h, in the same
 * library, under their own prefix; nothing in OrvaneSdk.h changes.
 *
 * Results follow OrvaneSdk.h: 1 on success, 0 on failure with the reason in Orvane_GetLastError, an
 * unregistered handle gives 0 and records nothing.
 */
#ifndef ORVANE_SDK_EX_H
#define ORVANE_SDK_EX_H

#include "OrvaneSdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Transfer status of a frame (OrvaneExFrameMetadata.status). */
#define ORVANE_EX_TRANSFER_OK 0       /* the whole frame arrived */
#define ORVANE_EX_TRANSFER_SHORT 1    /* fewer bytes than a frame: the rest of the image is stale */

/* What is known of one delivered frame. The caller sets `size` (sizeof(OrvaneExFrameMetadata)) before
   passing the record to the library; the library fills at most `size` bytes. */
typedef struct OrvaneExFrameMetadata {
  uint32_t size;          /* record size in bytes, set by the caller */
  int32_t width;          /* pixels */
  int32_t height;         /* rows */
  int32_t bitsPerPixel;   /* the colour mode: 8, 16, 24, 32, 48 or 64 */
  int32_t stride;         /* bytes from one row to the next in the frame handed to a callback */
  int32_t status;         /* ORVANE_EX_TRANSFER_... */
  uint64_t sequence;      /* every frame read from the camera since the stream started counts one; the
                             first frame read is 1 */
  uint64_t hostTimeNs;    /* host monotonic clock (CLOCK_MONOTONIC; QueryPerformanceCounter on Windows)
                             at the end of the frame's transfer, in nanoseconds */
  int64_t cameraCounter;  /* the camera's own frame counter, or -1 where the camera gives none */
  uint32_t skipped;       /* frames read but not delivered since the previous delivered frame */
  uint32_t reserved;      /* 0 */
} OrvaneExFrameMetadata;

/* Counts since the last start of acquisition. The caller sets `size` first. */
typedef struct OrvaneExStreamStats {
  uint32_t size;             /* record size in bytes, set by the caller */
  uint32_t reserved;         /* 0 */
  uint64_t framesRead;       /* frames read from the camera */
  uint64_t framesDelivered;  /* frames converted and handed to the application */
  uint64_t framesSkipped;    /* frames read but replaced by a newer one before delivery */
  uint64_t failedTransfers;  /* frame transfers that failed */
  uint64_t timeouts;         /* waits for a frame that timed out */
  uint64_t resets;           /* stream restarts after a failure */
} OrvaneExStreamStats;

/* Called on the acquisition thread for every delivered frame, after the frame message buffer copy,
   with the converted frame (rows top to bottom, `metadata->stride` bytes apart, valid only during the
   call) and its metadata. It must return quickly: the next frame waits for it. */
typedef void(ORVANE_CALL *OrvaneExFrameCallback)(void *context, const unsigned char *frame, int32_t size,
                                                 const OrvaneExFrameMetadata *metadata);

/* Copies the newest delivered frame (rows in `rowOrder` as Orvane_GetImage) into `buffer` together with
   its metadata, both from the same frame. Error 1 when no frame has been delivered, 5 when `size` is too
   small, 9 when `metadata` is NULL or its size is too small for the fields up to `reserved`. */
ORVANE_API int ORVANE_CALL OrvaneEx_GetNewestFrame(int handle, unsigned char *buffer, int size, int rowOrder,
                                                   OrvaneExFrameMetadata *metadata);

/* Sets (or, with NULL, removes) the frame callback. When it returns, a removed or replaced callback is
   no longer running and will not be called again. */
ORVANE_API int ORVANE_CALL OrvaneEx_SetFrameCallback(int handle, OrvaneExFrameCallback callback, void *context);

/* Fills `stats` with the counts since the last start (all 0 before the first). Error 9 when `stats` is
   NULL or its size too small. */
ORVANE_API int ORVANE_CALL OrvaneEx_GetStreamStats(int handle, OrvaneExStreamStats *stats);

/* The name of an error code ("ORVANE_ERR_TRANSFER"), or "unknown" for a code that is none; a static
   string. */
ORVANE_API const char *ORVANE_CALL OrvaneEx_GetErrorName(int code);

/* Linux: a file descriptor that is readable while the message queue made by Orvane_CreateMessageQueue
   holds a message (for poll() or select(); owned by the queue, do not close it). Windows, or a queue
   that is none: -1. */
ORVANE_API int ORVANE_CALL OrvaneEx_GetMessageQueueFd(HWND queue);

#ifdef __cplusplus
}
#endif

#endif /* ORVANE_SDK_EX_H */
