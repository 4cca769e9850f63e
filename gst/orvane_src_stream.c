/*
 * The frame path of orvanesrc. The SDK calls on_frame() on its acquisition thread with the converted
 * frame; the frame is copied there once, into a buffer of the negotiated pool, and queued for
 * create(). The callback never waits for downstream: when the pool has no free buffer or the queue is
 * full the frame is dropped (counted), and every frame that was not pushed shows as a gap in the
 * sequence numbers, which become buffer offsets and gap events.
 */
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "orvane_src.h"

/* The host's monotonic clock, the clock of the frames' host times (GLib reads CLOCK_MONOTONIC). */
static guint64 monotonic_ns(void) { return (guint64)g_get_monotonic_time() * GST_USECOND; }

/* Copies the frame rows into the buffer's layout (a single copy whichever the strides). */
static gboolean copy_frame(const GstVideoInfo *info, GstBuffer *buffer, const unsigned char *frame, int32_t size,
                           const OrvaneExFrameMetadata *md) {
  const gsize row = (gsize)GST_VIDEO_INFO_COMP_PSTRIDE(info, 0) * (gsize)info->width;
  if (md->stride < 0 || (gsize)md->stride < row || size < 0 ||
      (gsize)size < (gsize)md->stride * (gsize)(info->height - 1) + row) {
    return FALSE;
  }
  GstVideoFrame out;
  if (!gst_video_frame_map(&out, info, buffer, GST_MAP_WRITE)) return FALSE;
  guint8 *dst = GST_VIDEO_FRAME_PLANE_DATA(&out, 0);
  const gint dst_stride = GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0);
  if (dst_stride == md->stride) {
    memcpy(dst, frame, (gsize)md->stride * (gsize)(info->height - 1) + row);
  } else {
    for (gint y = 0; y < info->height; ++y) {
      memcpy(dst + (gsize)y * dst_stride, frame + (gsize)y * (gsize)md->stride, row);
    }
  }
  gst_video_frame_unmap(&out);
  return TRUE;
}

/* Queues a filled buffer; the oldest queued frame makes room when the queue is full. */
static void queue_frame(GstOrvaneSrc *self, GstBuffer *buffer, const OrvaneExFrameMetadata *md) {
  g_mutex_lock(&self->lock);
  if (self->queued == ORVANE_SRC_QUEUE_LENGTH) {
    gst_buffer_unref(self->frames[0].buffer);
    memmove(&self->frames[0], &self->frames[1], sizeof self->frames[0] * (ORVANE_SRC_QUEUE_LENGTH - 1));
    self->queued--;
    self->dropped++;
  }
  self->frames[self->queued++] = (OrvaneSrcFrame){buffer, md->sequence, md->hostTimeNs};
  g_cond_broadcast(&self->cond);
  g_mutex_unlock(&self->lock);
}

static void ORVANE_CALL on_frame(void *context, const unsigned char *frame, int32_t size,
                                 const OrvaneExFrameMetadata *md) {
  GstOrvaneSrc *self = context;
  g_mutex_lock(&self->lock);
  GstBufferPool *pool = self->pool != NULL && !self->flushing ? gst_object_ref(self->pool) : NULL;
  const GstVideoInfo info = self->info;
  const gboolean matches = self->have_info && md->width == info.width && md->height == info.height &&
                           md->bitsPerPixel == orvane_src_mode_of_format(GST_VIDEO_INFO_FORMAT(&info));
  if (!matches) {
    self->format_mismatch = TRUE;
    g_cond_broadcast(&self->cond);
  }
  g_mutex_unlock(&self->lock);
  GstBuffer *buffer = NULL;
  gboolean handed = FALSE;
  GstBufferPoolAcquireParams params = {.flags = GST_BUFFER_POOL_ACQUIRE_FLAG_DONTWAIT};
  if (pool != NULL && matches && gst_buffer_pool_acquire_buffer(pool, &buffer, &params) == GST_FLOW_OK) {
    if (copy_frame(&info, buffer, frame, size, md)) {
      if (md->status == ORVANE_EX_TRANSFER_SHORT) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_CORRUPTED);
      queue_frame(self, buffer, md);
      handed = TRUE;
    } else {
      GST_WARNING_OBJECT(self, "frame %" G_GUINT64_FORMAT " does not fill its rows (%d bytes)", md->sequence, size);
      gst_buffer_unref(buffer);
    }
  }
  if (pool != NULL) gst_object_unref(pool);
  if (!handed) {
    g_mutex_lock(&self->lock);
    self->dropped++;
    g_mutex_unlock(&self->lock);
  }
}

void orvane_src_clear_frames(GstOrvaneSrc *self) {
  g_mutex_lock(&self->lock);
  for (guint i = 0; i < self->queued; ++i) gst_buffer_unref(self->frames[i].buffer);
  self->queued = 0;
  g_mutex_unlock(&self->lock);
}

gboolean orvane_src_start_stream(GstOrvaneSrc *self) {
  GstBufferPool *pool = gst_base_src_get_buffer_pool(GST_BASE_SRC(self));
  g_mutex_lock(&self->lock);
  gst_object_replace((GstObject **)&self->pool, (GstObject *)pool);
  self->format_mismatch = FALSE;
  self->stream_error = 0;
  self->last_sequence = 0;
  self->last_pts = GST_CLOCK_TIME_NONE;
  self->period = GST_CLOCK_TIME_NONE;
  g_mutex_unlock(&self->lock);
  if (pool != NULL) gst_object_unref(pool);
  if (OrvaneEx_SetFrameCallback(self->handle, on_frame, self) != 1) {
    orvane_src_post_sdk_error(self, "setting the frame callback");
    return FALSE;
  }
  if (Orvane_StartPreview(self->handle) != 1) {
    orvane_src_post_sdk_error(self, "starting acquisition");
    OrvaneEx_SetFrameCallback(self->handle, NULL, NULL);
    return FALSE;
  }
  self->acquiring = TRUE;
  return TRUE;
}

void orvane_src_stop_stream(GstOrvaneSrc *self) {
  if (!self->acquiring) return;
  /* Once the callback is removed it is no longer running: nothing touches the pool after this. */
  OrvaneEx_SetFrameCallback(self->handle, NULL, NULL);
  Orvane_StopPreview(self->handle);
  self->acquiring = FALSE;
  orvane_src_clear_frames(self);
  g_mutex_lock(&self->lock);
  gst_object_replace((GstObject **)&self->pool, NULL);
  g_mutex_unlock(&self->lock);
}

/* ---- The watcher of the SDK's message queue ---------------------------------------------------- */

static void take_messages(GstOrvaneSrc *self, int timeout_ms) {
  unsigned int message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  while (Orvane_GetMessage(self->queue, &message, &wparam, &lparam, timeout_ms) == 1) {
    timeout_ms = 0;
    if (message != ORVANE_WM_ERROR) continue;
    GST_DEBUG_OBJECT(self, "the SDK posted error %s (%d)", OrvaneEx_GetErrorName((int)lparam), (int)lparam);
    /* Error 13 is the end of a stream whose retries ran out (a pulled cable, a dead link); other codes
       belong to single calls, which report them themselves. */
    if (lparam != ORVANE_ERR_STREAM) continue;
    g_mutex_lock(&self->lock);
    self->stream_error = (gint)lparam;
    g_cond_broadcast(&self->cond);
    g_mutex_unlock(&self->lock);
  }
}

static gpointer watch_queue(gpointer data) {
  GstOrvaneSrc *self = data;
  const int fd = OrvaneEx_GetMessageQueueFd(self->queue);
  struct pollfd fds[2] = {{.fd = fd, .events = POLLIN}, {.fd = self->wake_fd, .events = POLLIN}};
  while (!g_atomic_int_get(&self->watcher_stop)) {
    if (fd < 0) {
      /* No descriptor from this library: wait on the queue itself, a bounded wait so a stop is seen. */
      take_messages(self, 200);
      continue;
    }
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) take_messages(self, 0);
  }
  return NULL;
}

gboolean orvane_src_start_watcher(GstOrvaneSrc *self) {
  self->wake_fd = eventfd(0, EFD_CLOEXEC);
  g_atomic_int_set(&self->watcher_stop, 0);
  self->watcher = self->wake_fd >= 0 ? g_thread_try_new("orvanesrc-watch", watch_queue, self, NULL) : NULL;
  if (self->watcher == NULL) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("the message watcher could not be started"), (NULL));
    return FALSE;
  }
  return TRUE;
}

void orvane_src_stop_watcher(GstOrvaneSrc *self) {
  if (self->watcher != NULL) {
    const uint64_t one = 1;
    g_atomic_int_set(&self->watcher_stop, 1);
    if (write(self->wake_fd, &one, sizeof one) != sizeof one) GST_WARNING_OBJECT(self, "waking the watcher failed");
    g_thread_join(self->watcher);
    self->watcher = NULL;
  }
  if (self->wake_fd >= 0) close(self->wake_fd);
  self->wake_fd = -1;
}

/* ---- Timestamps, offsets and gaps -------------------------------------------------------------- */

/* The frame's capture time on the pipeline clock: the clock's time now less the frame's age on the
   host's monotonic clock, so any pipeline clock works. */
static GstClockTime capture_running_time(GstOrvaneSrc *self, guint64 host_time_ns, GstClockTime *age) {
  const guint64 now = monotonic_ns();
  *age = now > host_time_ns ? now - host_time_ns : 0;
  GstClock *clock = gst_element_get_clock(GST_ELEMENT(self));
  if (clock == NULL) return GST_CLOCK_TIME_NONE;
  const GstClockTime clock_now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
  return clock_now > base + *age ? clock_now - base - *age : 0;
}

/* Raises the reported latency when frames reach create() older than it (a frame period and the
   conversion), so that synchronising sinks do not see every frame late. */
static void follow_latency(GstOrvaneSrc *self, GstClockTime age) {
  GstClockTime needed = age + (GST_CLOCK_TIME_IS_VALID(self->period) ? self->period : 0);
  GST_OBJECT_LOCK(self);
  const gboolean raise = needed > self->latency;
  if (raise) self->latency = needed + needed / 2;
  GST_OBJECT_UNLOCK(self);
  if (raise) gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
}

static void stamp(GstOrvaneSrc *self, const OrvaneSrcFrame *frame) {
  GstBuffer *b = frame->buffer;
  GstClockTime age = 0;
  const GstClockTime pts = capture_running_time(self, frame->host_time_ns, &age);
  const gboolean follows = self->last_sequence != 0 && frame->sequence > self->last_sequence;
  if (follows && frame->host_time_ns > self->last_host_ns) {
    self->period = (frame->host_time_ns - self->last_host_ns) / (frame->sequence - self->last_sequence);
  }
  if (follows && frame->sequence > self->last_sequence + 1) {
    g_mutex_lock(&self->lock);
    self->gaps++;
    self->gap_frames += frame->sequence - self->last_sequence - 1;
    g_mutex_unlock(&self->lock);
    const GstClockTime start = self->last_pts + self->period;
    if (GST_CLOCK_TIME_IS_VALID(self->last_pts) && GST_CLOCK_TIME_IS_VALID(pts) && pts > start) {
      gst_pad_push_event(GST_BASE_SRC_PAD(self), gst_event_new_gap(start, pts - start));
    }
  }
  GST_BUFFER_OFFSET(b) = frame->sequence - 1;
  GST_BUFFER_OFFSET_END(b) = frame->sequence;
  GST_BUFFER_DURATION(b) = self->period;
  if (!gst_base_src_get_do_timestamp(GST_BASE_SRC(self))) GST_BUFFER_PTS(b) = pts;
  follow_latency(self, age);
  self->last_sequence = frame->sequence;
  self->last_host_ns = frame->host_time_ns;
  self->last_pts = pts;
}

GstFlowReturn orvane_src_next_frame(GstOrvaneSrc *self, GstBuffer **buffer) {
  g_mutex_lock(&self->lock);
  while (!self->flushing && self->stream_error == 0 && !self->format_mismatch && self->queued == 0) {
    g_cond_wait(&self->cond, &self->lock);
  }
  const gint error = self->stream_error;
  const gboolean flushing = self->flushing, mismatch = self->format_mismatch;
  OrvaneSrcFrame frame = self->frames[0];
  if (!flushing && error == 0 && !mismatch) {
    memmove(&self->frames[0], &self->frames[1], sizeof frame * (ORVANE_SRC_QUEUE_LENGTH - 1));
    self->queued--;
  }
  g_mutex_unlock(&self->lock);
  if (flushing) return GST_FLOW_FLUSHING;
  if (error != 0) {
    GST_ELEMENT_ERROR(self, RESOURCE, READ, ("the camera stream failed: %s (%d)", OrvaneEx_GetErrorName(error), error),
                      ("the camera was unplugged or its transfers kept failing"));
    return GST_FLOW_ERROR;
  }
  if (mismatch) {
    GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("the camera's frames no longer match the negotiated format"), (NULL));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  stamp(self, &frame);
  g_mutex_lock(&self->lock);
  self->pushed++;
  g_mutex_unlock(&self->lock);
  *buffer = frame.buffer;
  return GST_FLOW_OK;
}
