// What the tests of the orvanesrc element share: GStreamer set up to find the plugin of this build
// through GST_PLUGIN_PATH, pipelines, and waits on the bus and on appsink with generous limits.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "test_environment.h"

inline constexpr GstClockTime kGenerousWait = 60 * GST_SECOND;

// Initialises GStreamer once per test program, after the environment names the plugin folder of this
// build, the system plugins the tests use and a registry of the program's own (scanned in the
// process: an instrumented plugin cannot be loaded by the uninstrumented scanner helper).
class GstTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("GST_PLUGIN_PATH") == nullptr) SetTestVariable("GST_PLUGIN_PATH", ORVANE_GST_PLUGIN_DIR);
    SetTestVariable("GST_PLUGIN_SYSTEM_PATH_1_0", ORVANE_GST_TEST_PLUGINS);
    SetTestVariable("GST_REGISTRY_FORK", "no");
    SetTestVariable("GST_REGISTRY", ORVANE_GST_REGISTRY);
    // GStreamer's leak tracer counts its objects and buffers: LeakSanitizer cannot tell a lost one
    // from one that a pointer left on an idle thread's stack still reaches.
    SetTestVariable("GST_TRACERS", "leaks");
    SetTestVariable("GST_LEAKS_TRACER_STACK_TRACE", "0");
    gst_init(nullptr, nullptr);
  }
  // The leak tracer reports at the end what was never released (a warning), which fails the program.
  void TearDown() override {
    static bool leaked = false;
    g_log_set_default_handler(
        [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
          if (std::strstr(message, "Leaks detected") != nullptr) leaked = true;
          g_log_default_handler(domain, level, message, nullptr);
        },
        nullptr);
    gst_deinit();
    EXPECT_FALSE(leaked) << "GStreamer objects were never released (GST_DEBUG=GST_TRACER:7 lists them)";
  }
};

// A pipeline from a gst-launch line, set to NULL and released at the end of the scope.
class Pipeline {
 public:
  explicit Pipeline(const std::string& line) {
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(line.c_str(), &error);
    if (error != nullptr) {
      ADD_FAILURE() << line << ": " << error->message;
      g_error_free(error);
    }
  }
  ~Pipeline() {
    if (pipeline_ != nullptr) {
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      gst_object_unref(pipeline_);
    }
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  GstElement* get() const { return pipeline_; }
  GstElement* Child(const char* name) const {
    GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline_), name);
    if (e != nullptr) gst_object_unref(e);  // the pipeline keeps it alive
    return e;
  }
  bool Play() { return gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }
  // Sets NULL and checks that the change completed (no element hung).
  bool Stop() { return gst_element_set_state(pipeline_, GST_STATE_NULL) == GST_STATE_CHANGE_SUCCESS; }
  // The next EOS or error message on the bus within the generous limit, or NULL.
  GstMessage* WaitEnd() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, kGenerousWait,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    return m;
  }

 private:
  GstElement* pipeline_ = nullptr;
};

// The text of an error message (its main text and debug detail).
inline std::string ErrorText(GstMessage* m) {
  if (m == nullptr || GST_MESSAGE_TYPE(m) != GST_MESSAGE_ERROR) return "";
  GError* error = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(m, &error, &debug);
  std::string text = std::string(error->message) + " / " + (debug != nullptr ? debug : "");
  g_error_free(error);
  g_free(debug);
  return text;
}

// The next sample of appsink `sink`, or NULL (a failure of the test) when none comes in time.
inline GstSample* PullSample(GstElement* sink) {
  GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kGenerousWait);
  if (s == nullptr) ADD_FAILURE() << "no sample from the camera";
  return s;
}

