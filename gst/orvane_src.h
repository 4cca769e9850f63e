/*
 * orvanesrc: a live GStreamer source of the Orvane camera, built on GstPushSrc over the public and the
 * OrvaneEx_ exports only.
 *
 * Threads: the SDK's acquisition thread runs the frame callback, which copies the frame once into a
 * buffer of the negotiated pool and queues it; the streaming thread takes queued frames in create();
 * a watcher thread reads the SDK's message queue and turns a failed stream into an element error.
 */
#ifndef ORVANE_SRC_H
#define ORVANE_SRC_H

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include "OrvaneSdk.h"
#include "OrvaneSdkEx.h"
#include "glib_names.h"

G_BEGIN_DECLS

#define GST_TYPE_ORVANE_SRC (gst_orvane_src_get_type())
G_DECLARE_FINAL_TYPE(GstOrvaneSrc, gst_orvane_src, GST, ORVANE_SRC, GstPushSrc)

GST_DEBUG_CATEGORY_EXTERN(gst_orvane_src_debug);
#define GST_CAT_DEFAULT gst_orvane_src_debug

/* Image filters exposed as properties, one row each (orvane_src_settings.c). */
#define ORVANE_SRC_FILTER_COUNT 8

/* What the user asked for; guarded by the object lock. `set` has one bit per property the user set:
   only those are sent to the camera, the others keep the camera's own (stored) values. */
typedef struct {
  guint64 set;
  gchar *camera;      /* "N" (number from 0) or a serial number; NULL: the first camera */
  gint exposure_us;
  gint gain;
  gint color_mode;    /* bits per pixel, 0 = chosen by caps negotiation */
  gchar *size;        /* "WxH" stored size preset */
  gchar *window;      /* "x,y,width,height" capture window */
  gboolean sub_sample;
  gboolean mirror_h;
  gboolean mirror_v;
  gint filters[ORVANE_SRC_FILTER_COUNT];
} OrvaneSrcSettings;

/* One frame copied out of the SDK's callback, waiting for create(). */
typedef struct {
  GstBuffer *buffer;
  guint64 sequence;
  guint64 host_time_ns;
} OrvaneSrcFrame;

#define ORVANE_SRC_QUEUE_LENGTH 2

struct _GstOrvaneSrc {
  GstPushSrc parent;

  OrvaneSrcSettings settings;  /* object lock */

  /* The camera: opened in start(), released in stop(); used by the state changes, the streaming
     thread and property calls, which the SDK lets run on any thread. */
  int handle;
  HWND queue;
  gboolean acquiring;          /* streaming thread and stop() */

  /* Frame hand-over between the SDK's thread and create(); guarded by `lock`. */
  GMutex lock;
  GCond cond;
  GstBufferPool *pool;
  GstVideoInfo info;
  gboolean have_info;
  OrvaneSrcFrame frames[ORVANE_SRC_QUEUE_LENGTH];
  guint queued;
  gboolean flushing;
  gint stream_error;           /* an SDK error code that ended the stream, 0 while it runs */
  gboolean format_mismatch;
  guint64 dropped;             /* frames the element could not hand on (pool empty, queue full) */

  /* The streaming thread's own record of the delivered frames; `lock` for stats readers. */
  guint64 last_sequence;
  guint64 last_host_ns;
  GstClockTime last_pts;
  GstClockTime latency;        /* reported to latency queries; raised when frames arrive older */
  GstClockTime period;
  guint64 pushed;
  guint64 gaps;
  guint64 gap_frames;

  /* Watcher of the SDK's message queue. */
  GThread *watcher;
  int wake_fd;
  gint watcher_stop;           /* atomic */
};

/* orvane_src_settings.c */
void orvane_src_install_properties(GObjectClass *klass);
void orvane_src_settings_init(OrvaneSrcSettings *s);
void orvane_src_settings_clear(OrvaneSrcSettings *s);
gboolean orvane_src_set_property(GstOrvaneSrc *self, guint id, const GValue *value, OrvaneProp *prop);
gboolean orvane_src_get_property(GstOrvaneSrc *self, guint id, GValue *value);
gboolean orvane_src_open_camera(GstOrvaneSrc *self);
gboolean orvane_src_apply_settings(GstOrvaneSrc *self);
void orvane_src_output_size(GstOrvaneSrc *self, gint *width, gint *height);
void orvane_src_post_sdk_error(GstOrvaneSrc *self, const char *what);
GstStructure *orvane_src_stats(GstOrvaneSrc *self);

/* orvane_src_stream.c */
gboolean orvane_src_start_stream(GstOrvaneSrc *self);
void orvane_src_stop_stream(GstOrvaneSrc *self);
gboolean orvane_src_start_watcher(GstOrvaneSrc *self);
void orvane_src_stop_watcher(GstOrvaneSrc *self);
GstFlowReturn orvane_src_next_frame(GstOrvaneSrc *self, GstBuffer **buffer);
void orvane_src_clear_frames(GstOrvaneSrc *self);

/* Colour modes and the GStreamer formats they are offered as. */
int orvane_src_mode_of_format(GstVideoFormat format);
GstVideoFormat orvane_src_format_of_mode(int bits);

G_END_DECLS

#endif /* ORVANE_SRC_H */
