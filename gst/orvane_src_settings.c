/*
 * The properties of orvanesrc: what each one sends to the camera, and how it is read back. A value
 * set while the camera is closed is kept and sent when start() opens the camera; read while the camera
 * is open, a property gives the camera's own value, so a read-back shows what the camera took.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orvane_src.h"

enum {
  PROP_0,
  PROP_CAMERA,
  PROP_EXPOSURE,
  PROP_GAIN,
  PROP_COLOR_MODE,
  PROP_SIZE,
  PROP_WINDOW,
  PROP_SUB_SAMPLE,
  PROP_MIRROR_H,
  PROP_MIRROR_V,
  PROP_STATS,
  PROP_FILTER_FIRST, /* one per row of kFilters */
};

#define ORVANE_SUB_SAMPLE_REDUCED 17 /* the SDK's reduced mode: 2048 x 1080 at most */
#define ORVANE_SENSOR_WIDTH 4000
#define ORVANE_SENSOR_HEIGHT 3000

/* The image filters as properties: name, filter id, range and the SDK's own default. */
typedef struct {
  const char *name;
  const char *blurb;
  int id;
  int min, max, def;
} FilterRow;

static const FilterRow kFilters[ORVANE_SRC_FILTER_COUNT] = {
    {"brightness", "Brightness added to every pixel", ORVANE_FILTER_BRIGHTNESS, -255, 255, 0},
    {"contrast", "Contrast", ORVANE_FILTER_CONTRAST, -127, 127, 0},
    {"hue", "Hue rotation in degrees", ORVANE_FILTER_HUE, -360, 360, 0},
    {"saturation", "Saturation", ORVANE_FILTER_SATURATION, -255, 255, 0},
    {"sharpness", "Sharpening strength", ORVANE_FILTER_SHARPNESS, 0, 30, 0},
    {"gamma", "Gamma in percent (100 = linear)", ORVANE_FILTER_GAMMA, 0, 200, 100},
    {"white-balance-auto", "Balance the colours on every frame (0 or 1)", ORVANE_FILTER_BAYER_GAIN_AUTO, 0, 1, 0},
    {"defect-correction", "Replace the pixels of the defect mask (0 or 1)", ORVANE_FILTER_DOT, 0, 1, 0},
};

static const char *const kNames[PROP_FILTER_FIRST] = {
    "", "camera", "exposure", "gain", "color-mode", "size", "capture-window", "sub-sample", "mirror-h", "mirror-v",
    "stats"};

static const char *prop_name(guint id) {
  return id < PROP_FILTER_FIRST ? kNames[id] : kFilters[id - PROP_FILTER_FIRST].name;
}

#define GST_TYPE_ORVANE_COLOR_MODE (orvane_color_mode_get_type())
static GType orvane_color_mode_get_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {0, "Chosen by caps negotiation (the camera's own mode when downstream takes any)", "auto"},
      {ORVANE_COLOR_GRAY8, "8-bit gray (GRAY8)", "gray8"},
      {ORVANE_COLOR_GRAY16, "16-bit gray (GRAY16_LE)", "gray16"},
      {ORVANE_COLOR_BGR24, "24-bit colour (BGR)", "bgr"},
      {ORVANE_COLOR_BGRX32, "32-bit colour (BGRx)", "bgrx"},
      {0, NULL, NULL},
  };
  if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("GstOrvaneColorMode", values));
  return type;
}

void orvane_src_install_properties(GObjectClass *klass) {
  const GParamFlags rw = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
  const GParamFlags live = rw | GST_PARAM_MUTABLE_PLAYING;
  g_object_class_install_property(klass, PROP_CAMERA,
      orvane_prop_string("camera", "Camera", "Camera number (0 = first) or serial number; unset: the first camera",
                          NULL, rw | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(klass, PROP_EXPOSURE,
      orvane_prop_int("exposure", "Exposure", "Exposure time in microseconds (0: the camera's stored value)", 0,
                       G_MAXINT, 0, live));
  g_object_class_install_property(klass, PROP_GAIN,
      orvane_prop_int("gain", "Gain", "Global analog gain in the camera's range (-1: the stored value)", -1,
                       G_MAXINT, -1, live));
  g_object_class_install_property(klass, PROP_COLOR_MODE,
      orvane_prop_enum("color-mode", "Colour mode", "Output colour mode", GST_TYPE_ORVANE_COLOR_MODE, 0,
                        rw | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(klass, PROP_SIZE,
      orvane_prop_string("size", "Size preset", "A stored size preset as WIDTHxHEIGHT", NULL,
                          rw | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(klass, PROP_WINDOW,
      orvane_prop_string("capture-window", "Capture window", "Sensor window as X,Y,WIDTH,HEIGHT", NULL,
                          rw | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(klass, PROP_SUB_SAMPLE,
      orvane_prop_boolean("sub-sample", "Sub-sampling", "Reduced readout (2048 x 1080 at most)", FALSE,
                           rw | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(klass, PROP_MIRROR_H,
      orvane_prop_boolean("mirror-h", "Horizontal mirror", "Mirror the image left to right", FALSE, live));
  g_object_class_install_property(klass, PROP_MIRROR_V,
      orvane_prop_boolean("mirror-v", "Vertical mirror", "Mirror the image top to bottom", FALSE, live));
  g_object_class_install_property(klass, PROP_STATS,
      orvane_prop_boxed("stats", "Statistics",
                         "Counts of this stream: the camera's (frames-read, frames-delivered, frames-skipped, "
                         "failed-transfers, timeouts, resets) and the element's (buffers-pushed, frames-dropped, "
                         "gaps, gap-frames)",
                         GST_TYPE_STRUCTURE, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
  for (int i = 0; i < ORVANE_SRC_FILTER_COUNT; ++i) {
    const FilterRow *f = &kFilters[i];
    g_object_class_install_property(klass, PROP_FILTER_FIRST + i,
        orvane_prop_int(f->name, f->name, f->blurb, f->min, f->max, f->def, live));
  }
}

void orvane_src_settings_clear(OrvaneSrcSettings *s) {
  g_clear_pointer(&s->camera, g_free);
  g_clear_pointer(&s->size, g_free);
  g_clear_pointer(&s->window, g_free);
}

/* Sends one property to the open camera; 1 on success as the SDK counts. */
static int send_to_camera(GstOrvaneSrc *self, guint id, const OrvaneSrcSettings *s) {
  const int h = self->handle;
  switch (id) {
    case PROP_EXPOSURE: return s->exposure_us > 0 ? Orvane_SetRealExposureTime(h, s->exposure_us) : 1;
    case PROP_GAIN: return s->gain >= 0 ? Orvane_SetGlobalGain(h, s->gain) : 1;
    case PROP_COLOR_MODE: return s->color_mode != 0 ? Orvane_SetColorMode(h, s->color_mode) : 1;
    case PROP_SUB_SAMPLE: return Orvane_SetSubSample(h, s->sub_sample ? ORVANE_SUB_SAMPLE_REDUCED : 0);
    case PROP_MIRROR_H: return Orvane_SetMirrorH(h, s->mirror_h);
    case PROP_MIRROR_V: return Orvane_SetMirrorV(h, s->mirror_v);
    case PROP_SIZE: {
      int w, hh;
      if (s->size == NULL) return 1;
      if (sscanf(s->size, "%dx%d", &w, &hh) != 2) return -1;
      return Orvane_SetCaptureWindow(h, w, hh);
    }
    case PROP_WINDOW: {
      int x, y, w, hh;
      if (s->window == NULL) return 1;
      if (sscanf(s->window, "%d,%d,%d,%d", &x, &y, &w, &hh) != 4) return -1;
      return Orvane_SetCaptureWindowEx(h, ORVANE_SENSOR_WIDTH, x, w, ORVANE_SENSOR_HEIGHT, y, hh);
    }
    default: {
      const FilterRow *f = &kFilters[id - PROP_FILTER_FIRST];
      return Orvane_SetFilterValue(h, f->id, s->filters[id - PROP_FILTER_FIRST]);
    }
  }
}

/* Posts an element error naming the SDK's newest error code. */
void orvane_src_post_sdk_error(GstOrvaneSrc *self, const char *what) {
  const int code = self->handle != 0 ? Orvane_GetLastError(self->handle) : 0;
  GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("%s failed: %s (%d)", what, OrvaneEx_GetErrorName(code), code),
                    (NULL));
}

/* A value the SDK refused while streaming is reported as a warning; the stream goes on. */
static void warn_refused(GstOrvaneSrc *self, const char *name, int result) {
  const int code = result < 0 ? ORVANE_ERR_ARGUMENT : Orvane_GetLastError(self->handle);
  GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS,
                      ("the camera refused %s: %s (%d)", name, OrvaneEx_GetErrorName(code), code), (NULL));
}

static gboolean takes_effect_at_start(guint id) {
  return id == PROP_CAMERA || id == PROP_COLOR_MODE || id == PROP_SIZE || id == PROP_WINDOW ||
         id == PROP_SUB_SAMPLE;
}

static void store_value(OrvaneSrcSettings *s, guint id, const GValue *value) {
  switch (id) {
    case PROP_CAMERA: g_free(s->camera); s->camera = g_value_dup_string(value); break;
    case PROP_EXPOSURE: s->exposure_us = g_value_get_int(value); break;
    case PROP_GAIN: s->gain = g_value_get_int(value); break;
    case PROP_COLOR_MODE: s->color_mode = g_value_get_enum(value); break;
    case PROP_SIZE: g_free(s->size); s->size = g_value_dup_string(value); break;
    case PROP_WINDOW: g_free(s->window); s->window = g_value_dup_string(value); break;
    case PROP_SUB_SAMPLE: s->sub_sample = g_value_get_boolean(value); break;
    case PROP_MIRROR_H: s->mirror_h = g_value_get_boolean(value); break;
    case PROP_MIRROR_V: s->mirror_v = g_value_get_boolean(value); break;
    default: s->filters[id - PROP_FILTER_FIRST] = g_value_get_int(value); break;
  }
}

gboolean orvane_src_set_property(GstOrvaneSrc *self, guint id, const GValue *value, OrvaneProp *prop) {
  if (id == PROP_0 || id == PROP_STATS || id >= PROP_FILTER_FIRST + ORVANE_SRC_FILTER_COUNT) return FALSE;
  GST_OBJECT_LOCK(self);
  store_value(&self->settings, id, value);
  self->settings.set |= G_GUINT64_CONSTANT(1) << id;
  OrvaneSrcSettings now = self->settings;
  const int handle = self->handle;
  GST_OBJECT_UNLOCK(self);
  /* Geometry and colour mode reach the camera at the next start: the SDK keeps a running stream's
     format, and the caps would no longer match. */
  if (handle != 0 && !takes_effect_at_start(id)) {
    const int result = send_to_camera(self, id, &now);
    if (result != 1) warn_refused(self, orvane_prop_name(prop), result);
  }
  return TRUE;
}

static gchar *read_window(int h) {
  int th = 0, x = 0, w = 0, tv = 0, y = 0, hh = 0;
  Orvane_GetCaptureWindowEx(h, &th, &x, &w, &tv, &y, &hh);
  return g_strdup_printf("%d,%d,%d,%d", x, y, w, hh);
}

/* The camera's own value of a property. */
static void read_from_camera(int h, guint id, GValue *value) {
  switch (id) {
    case PROP_EXPOSURE: g_value_set_int(value, Orvane_GetRealExposureTime(h, NULL)); break;
    case PROP_GAIN: g_value_set_int(value, Orvane_GetGlobalGain(h, NULL)); break;
    case PROP_COLOR_MODE: g_value_set_enum(value, Orvane_GetColorMode(h)); break;
    case PROP_SIZE: g_value_take_string(value, g_strdup_printf("%dx%d", Orvane_Width(h), Orvane_Height(h))); break;
    case PROP_WINDOW: g_value_take_string(value, read_window(h)); break;
    case PROP_SUB_SAMPLE: g_value_set_boolean(value, Orvane_GetSubSample(h) == ORVANE_SUB_SAMPLE_REDUCED); break;
    case PROP_MIRROR_H: g_value_set_boolean(value, Orvane_GetMirrorH(h) == 1); break;
    case PROP_MIRROR_V: g_value_set_boolean(value, Orvane_GetMirrorV(h) == 1); break;
    default: g_value_set_int(value, Orvane_GetFilterValue(h, kFilters[id - PROP_FILTER_FIRST].id, NULL)); break;
  }
}

static void read_stored(const OrvaneSrcSettings *s, guint id, GValue *value) {
  switch (id) {
    case PROP_EXPOSURE: g_value_set_int(value, s->exposure_us); break;
    case PROP_GAIN: g_value_set_int(value, s->gain); break;
    case PROP_COLOR_MODE: g_value_set_enum(value, s->color_mode); break;
    case PROP_SIZE: g_value_set_string(value, s->size); break;
    case PROP_WINDOW: g_value_set_string(value, s->window); break;
    case PROP_SUB_SAMPLE: g_value_set_boolean(value, s->sub_sample); break;
    case PROP_MIRROR_H: g_value_set_boolean(value, s->mirror_h); break;
    case PROP_MIRROR_V: g_value_set_boolean(value, s->mirror_v); break;
    default: g_value_set_int(value, s->filters[id - PROP_FILTER_FIRST]); break;
  }
}

gboolean orvane_src_get_property(GstOrvaneSrc *self, guint id, GValue *value) {
  if (id == PROP_0 || id >= PROP_FILTER_FIRST + ORVANE_SRC_FILTER_COUNT) return FALSE;
  if (id == PROP_STATS) {
    g_value_take_boxed(value, orvane_src_stats(self));
    return TRUE;
  }
  GST_OBJECT_LOCK(self);
  const int handle = self->handle;
  if (id == PROP_CAMERA) g_value_set_string(value, self->settings.camera);
  else if (handle == 0) read_stored(&self->settings, id, value);
  GST_OBJECT_UNLOCK(self);
  if (id != PROP_CAMERA && handle != 0) read_from_camera(handle, id, value);
  return TRUE;
}

void orvane_src_settings_init(OrvaneSrcSettings *s) {
  memset(s, 0, sizeof *s);
  s->gain = -1;
  for (int i = 0; i < ORVANE_SRC_FILTER_COUNT; ++i) s->filters[i] = kFilters[i].def;
}

/* Finds the camera whose serial number is `serial`: its number, or -1. */
static int find_serial(int h, const char *serial) {
  for (int n = 0; n < 32; ++n) {
    char name[256], found[64];
    if (Orvane_GetDeviceName(h, n, name, sizeof name) != 1) break;
    if (Orvane_SetDeviceNumber(h, n) != 1) continue;
    if (Orvane_ReadSerialNumberA(h, found, sizeof found) == 1 && strcmp(found, serial) == 0) return n;
  }
  return -1;
}

/* Opens the SDK object and the camera the `camera` property names. */
/* A camera named by its number (decimal digits only); FALSE for a serial number. */
static gboolean parse_camera_number(const gchar *camera, int *number) {
  gint64 value = 0;
  *number = 0;
  if (camera == NULL) return TRUE;
  if (!g_ascii_string_to_signed(camera, 10, 0, 31, &value, NULL)) return FALSE;
  *number = (int)value;
  return TRUE;
}

gboolean orvane_src_open_camera(GstOrvaneSrc *self) {
  GST_OBJECT_LOCK(self);
  gchar *camera = g_strdup(self->settings.camera);
  GST_OBJECT_UNLOCK(self);
  int number;
  const gboolean by_number = parse_camera_number(camera, &number);
  HWND queue = Orvane_CreateMessageQueue();
  const int handle = queue != NULL ? Orvane_Initialize(queue) : 0;
  GST_OBJECT_LOCK(self);
  self->queue = queue;
  self->handle = handle;
  GST_OBJECT_UNLOCK(self);
  if (handle == 0) {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("the Orvane SDK could not be initialised"), (NULL));
    g_free(camera);
    return FALSE;
  }
  gboolean ok;
  if (by_number) {
    ok = Orvane_SetDeviceNumber(self->handle, number) == 1;
    if (!ok) orvane_src_post_sdk_error(self, "opening the camera");
  } else {
    ok = find_serial(self->handle, camera) >= 0;
    if (!ok) GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("no camera has the serial number %s", camera), (NULL));
  }
  g_free(camera);
  return ok;
}

/* Sends every property the user set to the camera just opened; the first refusal is an error. */
gboolean orvane_src_apply_settings(GstOrvaneSrc *self) {
  GST_OBJECT_LOCK(self);
  OrvaneSrcSettings s = self->settings;
  s.camera = NULL;
  s.size = g_strdup(s.size);
  s.window = g_strdup(s.window);
  GST_OBJECT_UNLOCK(self);
  gboolean ok = TRUE;
  /* Sub-sampling before the geometry: the window is checked against it. */
  static const guint order[] = {PROP_SUB_SAMPLE, PROP_SIZE, PROP_WINDOW, PROP_COLOR_MODE, PROP_EXPOSURE,
                                PROP_GAIN, PROP_MIRROR_H, PROP_MIRROR_V};
  for (guint i = 0; ok && i < G_N_ELEMENTS(order) + ORVANE_SRC_FILTER_COUNT; ++i) {
    const guint id = i < G_N_ELEMENTS(order) ? order[i] : PROP_FILTER_FIRST + (i - G_N_ELEMENTS(order));
    if (!(s.set & (G_GUINT64_CONSTANT(1) << id))) continue;
    const int result = send_to_camera(self, id, &s);
    if (result == 1) continue;
    const int code = result < 0 ? ORVANE_ERR_ARGUMENT : Orvane_GetLastError(self->handle);
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                      ("the camera refused %s: %s (%d)", prop_name(id), OrvaneEx_GetErrorName(code), code), (NULL));
    ok = FALSE;
  }
  orvane_src_settings_clear(&s);
  return ok;
}

/* The size of the frames the camera will deliver, from its capture window and sub-sampling (the SDK
   caps the reduced mode at 2048 x 1080 and halves a smaller window). */
void orvane_src_output_size(GstOrvaneSrc *self, gint *width, gint *height) {
  int th = 0, x = 0, w = 0, tv = 0, y = 0, h = 0;
  Orvane_GetCaptureWindowEx(self->handle, &th, &x, &w, &tv, &y, &h);
  if (Orvane_GetSubSample(self->handle) != ORVANE_SUB_SAMPLE_REDUCED) {
    *width = MIN(w, ORVANE_SENSOR_WIDTH);
    *height = MIN(h, ORVANE_SENSOR_HEIGHT);
  } else {
    *width = w >= 2048 ? 2048 : w / 2;
    *height = h >= 1080 ? 1080 : h / 2;
  }
}

/* The element's counts are taken before the camera's: every frame the element counted was read
   before, so within one structure frames-read covers buffers-pushed plus the frames not pushed. */
GstStructure *orvane_src_stats(GstOrvaneSrc *self) {
  g_mutex_lock(&self->lock);
  const guint64 pushed = self->pushed, dropped = self->dropped, gaps = self->gaps, gap_frames = self->gap_frames;
  g_mutex_unlock(&self->lock);
  OrvaneExStreamStats c = {.size = sizeof c};
  if (self->handle == 0 || OrvaneEx_GetStreamStats(self->handle, &c) != 1) memset(&c, 0, sizeof c);
  return gst_structure_new("orvanesrc-stats",
      "frames-read", G_TYPE_UINT64, c.framesRead, "frames-delivered", G_TYPE_UINT64, c.framesDelivered,
      "frames-skipped", G_TYPE_UINT64, c.framesSkipped, "failed-transfers", G_TYPE_UINT64, c.failedTransfers,
      "timeouts", G_TYPE_UINT64, c.timeouts, "resets", G_TYPE_UINT64, c.resets,
      "buffers-pushed", G_TYPE_UINT64, pushed, "frames-dropped", G_TYPE_UINT64, dropped,
      "gaps", G_TYPE_UINT64, gaps, "gap-frames", G_TYPE_UINT64, gap_frames, NULL);
}
