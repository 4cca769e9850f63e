/*
 * orvanesrc: the element's class, caps negotiation, buffer pool and state changes. The frame path is
 * in orvane_src_stream.c, the properties in orvane_src_settings.c.
 */
#include "orvane_src.h"

GST_DEBUG_CATEGORY(gst_orvane_src_debug);

/* Colour modes offered, and their GStreamer formats. 48- and 64-bit colour are not offered: GStreamer
   has no packed 48-bit BGR and its 64-bit BGR formats carry alpha where the camera leaves a fourth
   channel unwritten. */
static const struct {
  int bits;
  GstVideoFormat format;
} kModes[] = {
    {ORVANE_COLOR_GRAY8, GST_VIDEO_FORMAT_GRAY8},
    {ORVANE_COLOR_GRAY16, GST_VIDEO_FORMAT_GRAY16_LE},
    {ORVANE_COLOR_BGR24, GST_VIDEO_FORMAT_BGR},
    {ORVANE_COLOR_BGRX32, GST_VIDEO_FORMAT_BGRx},
};

#define ORVANE_SRC_CAPS \
  "video/x-raw, format = (string) { GRAY8, GRAY16_LE, BGR, BGRx }, width = (int) [ 1, 4000 ], " \
  "height = (int) [ 1, 3000 ], framerate = (fraction) [ 0/1, MAX ]"

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(ORVANE_SRC_CAPS));

G_DEFINE_TYPE(GstOrvaneSrc, gst_orvane_src, GST_TYPE_PUSH_SRC)

int orvane_src_mode_of_format(GstVideoFormat format) {
  for (guint i = 0; i < G_N_ELEMENTS(kModes); ++i) {
    if (kModes[i].format == format) return kModes[i].bits;
  }
  return 0;
}

GstVideoFormat orvane_src_format_of_mode(int bits) {
  for (guint i = 0; i < G_N_ELEMENTS(kModes); ++i) {
    if (kModes[i].bits == bits) return kModes[i].format;
  }
  return GST_VIDEO_FORMAT_UNKNOWN;
}

static void append_mode(GstCaps *caps, int bits, gint width, gint height) {
  const GstVideoFormat format = orvane_src_format_of_mode(bits);
  if (format == GST_VIDEO_FORMAT_UNKNOWN) return;
  gst_caps_append_structure(caps, gst_structure_new("video/x-raw", "format", G_TYPE_STRING,
      gst_video_format_to_string(format), "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
      "framerate", GST_TYPE_FRACTION, 0, 1, NULL));
}

/* With the camera open: its frame size, in the colour mode the user chose, or else in every offered
   mode with the camera's current one first (what downstream gets when it takes any). The frame rate
   is 0/1: the camera's rate follows its exposure, and buffers carry their own times. */
static GstCaps *gst_orvane_src_get_caps(GstBaseSrc *base, GstCaps *filter) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(base);
  GST_OBJECT_LOCK(self);
  const int handle = self->handle, chosen = self->settings.color_mode;
  GST_OBJECT_UNLOCK(self);
  GstCaps *caps;
  if (handle == 0) {
    caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
  } else {
    gint width, height;
    orvane_src_output_size(self, &width, &height);
    caps = gst_caps_new_empty();
    const int current = chosen != 0 ? chosen : Orvane_GetColorMode(handle);
    append_mode(caps, current, width, height);
    for (guint i = 0; chosen == 0 && i < G_N_ELEMENTS(kModes); ++i) {
      if (kModes[i].bits != current) append_mode(caps, kModes[i].bits, width, height);
    }
  }
  if (filter != NULL) {
    GstCaps *both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

/* The negotiated format picks the colour mode; a running stream is restarted in it by create(). */
static gboolean gst_orvane_src_set_caps(GstBaseSrc *base, GstCaps *caps) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(base);
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, caps)) return FALSE;
  const int bits = orvane_src_mode_of_format(GST_VIDEO_INFO_FORMAT(&info));
  if (bits == 0) return FALSE;
  orvane_src_stop_stream(self);
  if (Orvane_SetColorMode(self->handle, bits) != 1) {
    orvane_src_post_sdk_error(self, "setting the colour mode");
    return FALSE;
  }
  g_mutex_lock(&self->lock);
  self->info = info;
  self->have_info = TRUE;
  g_mutex_unlock(&self->lock);
  return TRUE;
}

/* A video pool when downstream offers none, with room for the frames queued and in flight. */
static gboolean gst_orvane_src_decide_allocation(GstBaseSrc *base, GstQuery *query) {
  GstCaps *caps;
  gst_query_parse_allocation(query, &caps, NULL);
  GstVideoInfo info;
  if (caps == NULL || !gst_video_info_from_caps(&info, caps)) return FALSE;
  GstBufferPool *pool = NULL;
  guint size = 0, min = 0, max = 0;
  if (gst_query_get_n_allocation_pools(query) > 0) {
    gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
  }
  if (pool == NULL) pool = gst_video_buffer_pool_new();
  size = MAX(size, (guint)info.size);
  min = MAX(min, ORVANE_SRC_QUEUE_LENGTH + 2);
  if (max != 0) max = MAX(max, min);
  if (gst_query_get_n_allocation_pools(query) > 0) {
    gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
  } else {
    gst_query_add_allocation_pool(query, pool, size, min, max);
  }
  gst_object_unref(pool);
  return GST_BASE_SRC_CLASS(gst_orvane_src_parent_class)->decide_allocation(base, query);
}

static void close_camera(GstOrvaneSrc *self) {
  orvane_src_stop_stream(self);
  orvane_src_stop_watcher(self);
  GST_OBJECT_LOCK(self);
  const int handle = self->handle;
  HWND queue = self->queue;
  self->handle = 0;
  self->queue = NULL;
  GST_OBJECT_UNLOCK(self);
  if (handle != 0) Orvane_Release(handle);
  if (queue != NULL) Orvane_DestroyMessageQueue(queue);
}

static gboolean gst_orvane_src_start(GstBaseSrc *base) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(base);
  g_mutex_lock(&self->lock);
  self->flushing = FALSE;
  self->have_info = FALSE;
  self->dropped = self->pushed = self->gaps = self->gap_frames = 0;
  g_mutex_unlock(&self->lock);
  GST_OBJECT_LOCK(self);
  self->latency = 0;
  GST_OBJECT_UNLOCK(self);
  if (orvane_src_open_camera(self) && orvane_src_apply_settings(self) && orvane_src_start_watcher(self)) {
    return TRUE;
  }
  close_camera(self);
  return FALSE;
}

static gboolean gst_orvane_src_stop(GstBaseSrc *base) {
  close_camera(GST_ORVANE_SRC(base));
  return TRUE;
}

static gboolean gst_orvane_src_unlock(GstBaseSrc *base) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(base);
  g_mutex_lock(&self->lock);
  self->flushing = TRUE;
  g_cond_broadcast(&self->cond);
  g_mutex_unlock(&self->lock);
  return TRUE;
}

static gboolean gst_orvane_src_unlock_stop(GstBaseSrc *base) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(base);
  g_mutex_lock(&self->lock);
  self->flushing = FALSE;
  g_mutex_unlock(&self->lock);
  orvane_src_clear_frames(self);
  return TRUE;
}

static gboolean gst_orvane_src_query(GstBaseSrc *base, GstQuery *query) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(base);
  if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY) {
    return GST_BASE_SRC_CLASS(gst_orvane_src_parent_class)->query(base, query);
  }
  GST_OBJECT_LOCK(self);
  const GstClockTime latency = self->latency;
  GST_OBJECT_UNLOCK(self);
  gst_query_set_latency(query, TRUE, latency, GST_CLOCK_TIME_NONE);
  return TRUE;
}

/* Acquisition starts with the first buffer asked for, once caps and pool are settled. */
static GstFlowReturn gst_orvane_src_create(GstPushSrc *push, GstBuffer **buffer) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(push);
  if (!self->acquiring && !orvane_src_start_stream(self)) return GST_FLOW_ERROR;
  return orvane_src_next_frame(self, buffer);
}

static void gst_orvane_src_set_prop(GObject *object, guint id, const GValue *value, OrvaneProp *prop) {
  if (!orvane_src_set_property(GST_ORVANE_SRC(object), id, value, prop)) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, prop);
  }
}

static void gst_orvane_src_get_prop(GObject *object, guint id, GValue *value, OrvaneProp *prop) {
  if (!orvane_src_get_property(GST_ORVANE_SRC(object), id, value)) G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, prop);
}

static void gst_orvane_src_finalize(GObject *object) {
  GstOrvaneSrc *self = GST_ORVANE_SRC(object);
  close_camera(self);
  orvane_src_settings_clear(&self->settings);
  g_mutex_clear(&self->lock);
  g_cond_clear(&self->cond);
  G_OBJECT_CLASS(gst_orvane_src_parent_class)->finalize(object);
}

static void gst_orvane_src_class_init(GstOrvaneSrcClass *klass) {
  GObjectClass *object = G_OBJECT_CLASS(klass);
  GstElementClass *element = GST_ELEMENT_CLASS(klass);
  GstBaseSrcClass *base = GST_BASE_SRC_CLASS(klass);
  object->set_property = gst_orvane_src_set_prop;
  object->get_property = gst_orvane_src_get_prop;
  object->finalize = gst_orvane_src_finalize;
  orvane_src_install_properties(object);
  gst_element_class_add_static_pad_template(element, &src_template);
  gst_element_class_set_static_metadata(element, "Orvane camera source", "Source/Video",
                                        "Live frames of an Orvane KD7 USB3 camera", "Orvane SDK team");
  base->get_caps = gst_orvane_src_get_caps;
  base->set_caps = gst_orvane_src_set_caps;
  base->decide_allocation = gst_orvane_src_decide_allocation;
  base->start = gst_orvane_src_start;
  base->stop = gst_orvane_src_stop;
  base->unlock = gst_orvane_src_unlock;
  base->unlock_stop = gst_orvane_src_unlock_stop;
  base->query = gst_orvane_src_query;
  GST_PUSH_SRC_CLASS(klass)->create = gst_orvane_src_create;
  GST_DEBUG_CATEGORY_INIT(gst_orvane_src_debug, "orvanesrc", 0, "Orvane camera source");
}

static void gst_orvane_src_init(GstOrvaneSrc *self) {
  orvane_src_settings_init(&self->settings);
  g_mutex_init(&self->lock);
  g_cond_init(&self->cond);
  self->wake_fd = -1;
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static gboolean plugin_init(GstPlugin *plugin) {
  return gst_element_register(plugin, "orvanesrc", GST_RANK_NONE, GST_TYPE_ORVANE_SRC);
}

#define PACKAGE "orvane-sdk"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, orvane, "Orvane camera source",
                  plugin_init, ORVANE_SDK_VERSION, "Proprietary", "Orvane SDK", "https://orvane.example")
