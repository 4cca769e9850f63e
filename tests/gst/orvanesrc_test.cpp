// The orvanesrc element against the virtual camera: pipelines end, frames equal the SDK's own
// snapshot, timestamps follow the camera, a slow sink sees gaps, properties reach the camera, and
// PLAYING to NULL cycles release everything.
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "gst_test_support.h"
#include "small_frames.h"
#include "test_camera.h"
#include "test_settings.h"
#include "test_window.h"

namespace {

const auto* const kGst = ::testing::AddGlobalTestEnvironment(new GstTestEnvironment);

class OrvaneSrcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera);
    UseFreshSettingsStore();
  }
};

// Small frames keep the sanitised builds at the camera's pace.
const std::string kSource = "orvanesrc name=src sub-sample=true";

TEST_F(OrvaneSrcTest, ThirtyBuffersThenEos) {
  Pipeline p(kSource + " num-buffers=30 ! fakesink name=sink signal-handoffs=true");
  int buffers = 0;
  g_signal_connect(p.Child("sink"), "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer n) {
                     ++*static_cast<int*>(n);
                   }), &buffers);
  ASSERT_TRUE(p.Play());
  GstMessage* end = p.WaitEnd();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_EOS) << ErrorText(end);
  gst_message_unref(end);
  EXPECT_TRUE(p.Stop());
  EXPECT_EQ(buffers, 30);
}

// The rows of a sample, without the padding of its stride.
std::vector<uint8_t> Pixels(GstSample* sample, int* bits) {
  GstVideoInfo info;
  EXPECT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
  GstVideoFrame frame;
  std::vector<uint8_t> out;
  if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) return out;
  const size_t row = static_cast<size_t>(GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0)) * info.width;
  for (int y = 0; y < info.height; ++y) {
    const auto* p = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                    static_cast<size_t>(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    out.insert(out.end(), p, p + row);
  }
  gst_video_frame_unmap(&frame);
  *bits = static_cast<int>(row * 8 / info.width);
  return out;
}

// The SDK's own snapshot in `bits` bits per pixel, rows top first (the camera's static scene gives
// the same frame every time).
std::vector<uint8_t> Snapshot(int bits) {
  const int handle = Orvane_Initialize(nullptr);
  std::vector<uint8_t> frame(static_cast<size_t>(SmallFrameBytes(bits)));
  EXPECT_NE(handle, 0);
  EXPECT_EQ(Orvane_SetColorMode(handle, bits), 1);
  EXPECT_EQ(Orvane_SetSubSample(handle, kSmallSubSample), 1);
  EXPECT_EQ(Orvane_SnapShot(handle, frame.data(), static_cast<int>(frame.size()), 1), 1);
  EXPECT_EQ(Orvane_Release(handle), 1);
  return frame;
}

// Downstream asking for a format picks the colour mode; the first frame is the snapshot's, byte for byte.
TEST_F(OrvaneSrcTest, FirstBufferEqualsTheSnapshotInGray8AndBgr) {
  for (const auto& [format, bits] : {std::pair{"GRAY8", 8}, std::pair{"BGR", 24}}) {
    SCOPED_TRACE(format);
    std::vector<uint8_t> streamed;
    int streamedBits = 0;
    {
      Pipeline p(kSource + " ! video/x-raw,format=" + format + " ! appsink name=sink");
      ASSERT_TRUE(p.Play());
      GstSample* sample = PullSample(p.Child("sink"));
      ASSERT_NE(sample, nullptr);
      streamed = Pixels(sample, &streamedBits);
      gst_sample_unref(sample);
      ASSERT_TRUE(p.Stop());  // gives the camera back for the snapshot
    }
    EXPECT_EQ(streamedBits, bits);
    const std::vector<uint8_t> snap = Snapshot(bits);
    ASSERT_EQ(streamed.size(), snap.size());
    EXPECT_TRUE(streamed == snap) << "the first buffer differs from the snapshot";
  }
}

// The camera's frame period as the SDK's own frame-rate count gives it (frames per second x 10).
double FramePeriodNsFromTheSdk() {
  TestWindow window;
  const int handle = Orvane_Initialize(window.handle());
  std::vector<unsigned char> buffer(static_cast<size_t>(SmallFrameBytes(8)));
  EXPECT_EQ(Orvane_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(Orvane_SetColorMode(handle, 8), 1);
  EXPECT_EQ(Orvane_SetSubSample(handle, kSmallSubSample), 1);
  EXPECT_EQ(Orvane_CallBackPreview(handle, window.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  // The SDK counts the frames of each second and more: the first count comes after about a second.
  int rateX10 = 0;
  for (int frames = 0; rateX10 == 0 && frames < 1000; ++frames) {
    TakenMessage m = NextFrameMessage(window);
    if (m.message != ORVANE_WM_FRAME) break;
    if (m.wParam != 0) rateX10 = ReadShared(reinterpret_cast<const OrvaneFrameInfo*>(m.wParam)->frameRate);
  }
  Orvane_StopPreview(handle);
  Orvane_Release(handle);
  return rateX10 > 0 ? 1e10 / rateX10 : 0.0;
}

TEST_F(OrvaneSrcTest, TimestampsRiseByTheFramePeriod) {
  const double period = FramePeriodNsFromTheSdk();
  ASSERT_GT(period, 0.0);
  Pipeline p(kSource + " ! video/x-raw,format=GRAY8 ! appsink name=sink");
  ASSERT_TRUE(p.Play());
  std::vector<double> perFrame;
  GstClockTime lastPts = GST_CLOCK_TIME_NONE;
  guint64 lastOffset = 0;
  for (int i = 0; i < 20; ++i) {
    GstSample* sample = PullSample(p.Child("sink"));
    ASSERT_NE(sample, nullptr);
    GstBuffer* b = gst_sample_get_buffer(sample);
    ASSERT_TRUE(GST_BUFFER_PTS_IS_VALID(b));
    if (GST_CLOCK_TIME_IS_VALID(lastPts)) {
      ASSERT_GT(GST_BUFFER_PTS(b), lastPts);
      ASSERT_GT(GST_BUFFER_OFFSET(b), lastOffset);
      perFrame.push_back(static_cast<double>(GST_BUFFER_PTS(b) - lastPts) / (GST_BUFFER_OFFSET(b) - lastOffset));
    }
    lastPts = GST_BUFFER_PTS(b);
    lastOffset = GST_BUFFER_OFFSET(b);
    gst_sample_unref(sample);
  }
  // Host times carry the machine's scheduling jitter; their median is the camera's period.
  std::nth_element(perFrame.begin(), perFrame.begin() + perFrame.size() / 2, perFrame.end());
  const double median = perFrame[perFrame.size() / 2];
  EXPECT_NEAR(median, period, 0.15 * period);
}

struct GapEvent {
  GstClockTime start, duration;
};

// Records the gap events reaching appsink.
GstPadProbeReturn RecordGap(GstPad*, GstPadProbeInfo* info, gpointer data) {
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (GST_EVENT_TYPE(event) == GST_EVENT_GAP) {
    GapEvent g;
    gst_event_parse_gap(event, &g.start, &g.duration);
    static_cast<std::vector<GapEvent>*>(data)->push_back(g);
  }
  return GST_PAD_PROBE_OK;
}

// One reading of the element's stats property, by field.
class Stats {
 public:
  explicit Stats(GstElement* src) { g_object_get(src, "stats", &stats_, nullptr); }
  ~Stats() {
    if (stats_ != nullptr) gst_structure_free(stats_);
  }
  Stats(const Stats&) = delete;
  Stats& operator=(const Stats&) = delete;
  guint64 operator[](const char* field) const {
    guint64 value = 0;
    EXPECT_TRUE(stats_ != nullptr && gst_structure_get_uint64(stats_, field, &value)) << field;
    return value;
  }

 private:
  GstStructure* stats_ = nullptr;
};

// A sink that takes three frame periods per buffer: the frames it cannot take are missing from the
// offsets, each hole has one gap event between its neighbours' times, and the stats count them.
TEST_F(OrvaneSrcTest, ASinkSlowerThanTheCameraSeesGaps) {
  const double period = FramePeriodNsFromTheSdk();
  ASSERT_GT(period, 0.0);
  const auto sleepUs = static_cast<guint64>(3 * period / 1000);
  Pipeline p(kSource + " ! video/x-raw,format=GRAY8 ! identity sleep-time=" + std::to_string(sleepUs) +
             " ! appsink name=sink max-buffers=1");
  std::vector<GapEvent> gaps;
  GstPad* pad = gst_element_get_static_pad(p.Child("sink"), "sink");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, RecordGap, &gaps, nullptr);
  gst_object_unref(pad);
  ASSERT_TRUE(p.Play());
  std::vector<std::pair<guint64, GstClockTime>> buffers;  // offset, time
  for (int i = 0; i < 12; ++i) {
    GstSample* sample = PullSample(p.Child("sink"));
    ASSERT_NE(sample, nullptr);
    buffers.emplace_back(GST_BUFFER_OFFSET(gst_sample_get_buffer(sample)), GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
    gst_sample_unref(sample);
  }
  const Stats stats(p.Child("src"));
  const guint64 gapFramesCounted = stats["gap-frames"], gapsCounted = stats["gaps"];
  const guint64 notPushed = stats["frames-skipped"] + stats["frames-dropped"];
  const guint64 read = stats["frames-read"], pushed = stats["buffers-pushed"];
  ASSERT_TRUE(p.Stop());
  // The probe runs on the streaming thread, which has stopped: the events before the last buffer
  // pulled are all recorded.
  guint64 holes = 0, missing = 0;
  for (size_t i = 1; i < buffers.size(); ++i) {
    ASSERT_GT(buffers[i].first, buffers[i - 1].first);
    const guint64 jump = buffers[i].first - buffers[i - 1].first;
    if (jump == 1) continue;
    ++holes;
    missing += jump - 1;
    const bool covered = std::any_of(gaps.begin(), gaps.end(), [&](const GapEvent& g) {
      return g.start > buffers[i - 1].second && g.start + g.duration == buffers[i].second;
    });
    EXPECT_TRUE(covered) << "no gap event before the buffer of offset " << buffers[i].first;
  }
  EXPECT_GT(holes, 0u);
  EXPECT_GE(gapsCounted, holes);
  EXPECT_GE(gapFramesCounted, missing);
  EXPECT_GE(notPushed, gapFramesCounted);
  // Every frame read was pushed or is counted as not pushed (the newest may still be on their way).
  EXPECT_GE(pushed, buffers.size());
  EXPECT_GE(read, pushed + notPushed);
}

// Each property set before the start reaches the camera: read back while the camera is open, it is
// the camera's value.
TEST_F(OrvaneSrcTest, EachPropertyReachesTheCameraAndReadsBack) {
  GstElement* src = gst_element_factory_make("orvanesrc", nullptr);
  ASSERT_NE(src, nullptr);
  gst_object_ref_sink(src);
  const std::vector<std::pair<const char*, const char*>> values = {
      {"camera", "SIM00001"}, {"exposure", "20000"}, {"gain", "8"},  {"color-mode", "gray16"},
      {"sub-sample", "true"}, {"mirror-h", "true"},  {"mirror-v", "true"}, {"brightness", "10"},
      {"contrast", "5"},      {"hue", "30"},         {"saturation", "-20"}, {"sharpness", "3"},
      {"gamma", "120"},       {"white-balance-auto", "1"}, {"defect-correction", "1"},
      {"capture-window", "0,0,4000,3000"}};
  for (const auto& [name, value] : values) gst_util_set_object_arg(G_OBJECT(src), name, value);
  ASSERT_NE(gst_element_set_state(src, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  for (const auto& [name, value] : values) {
    GValue read = G_VALUE_INIT, wanted = G_VALUE_INIT;
    const auto* prop = g_object_class_find_property(G_OBJECT_GET_CLASS(src), name);
    ASSERT_NE(prop, nullptr) << name;
    g_value_init(&read, prop->value_type);
    g_value_init(&wanted, prop->value_type);
    g_object_get_property(G_OBJECT(src), name, &read);
    ASSERT_TRUE(gst_value_deserialize(&wanted, value)) << name;
    EXPECT_EQ(gst_value_compare(&read, &wanted), GST_VALUE_EQUAL)
        << name << " reads " << gst_value_serialize(&read) << " instead of " << value;
    g_value_unset(&read);
    g_value_unset(&wanted);
  }
  // A live change reaches the open camera at once; a gain the camera refuses is a warning naming the
  // SDK's error, and the camera keeps its gain.
  GstBus* bus = gst_bus_new();
  gst_element_set_bus(src, bus);
  g_object_set(src, "brightness", -40, "exposure", 30000, "gain", G_MAXINT, nullptr);
  int brightness = 0, exposure = 0, gain = 0;
  g_object_get(src, "brightness", &brightness, "exposure", &exposure, "gain", &gain, nullptr);
  EXPECT_EQ(brightness, -40);
  EXPECT_EQ(exposure, 30000);
  EXPECT_EQ(gain, 8);
  GstMessage* warning = gst_bus_pop_filtered(bus, GST_MESSAGE_WARNING);
  ASSERT_NE(warning, nullptr);
  GError* error = nullptr;
  gst_message_parse_warning(warning, &error, nullptr);
  EXPECT_NE(std::string(error->message).find("gain: ORVANE_ERR_ARGUMENT"), std::string::npos) << error->message;
  g_error_free(error);
  gst_message_unref(warning);
  gst_element_set_bus(src, nullptr);
  gst_object_unref(bus);
  EXPECT_EQ(gst_element_set_state(src, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
  gst_object_unref(src);
}

// Values the camera refuses stop the start with an error naming the SDK's code; nothing else happens.
TEST_F(OrvaneSrcTest, RefusedValuesFailTheStartWithTheSdkError) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"camera=SIM09999", "no camera has the serial number SIM09999"},
      {"camera=7", "ORVANE_ERR_NO_CAMERA"},
      {"size=640x480", "ORVANE_ERR_WINDOW"},
      {"capture-window=3000,0,4000,3000", "ORVANE_ERR_GEOMETRY"},
      {"capture-window=nonsense", "ORVANE_ERR_ARGUMENT"},
  };
  for (const auto& [setting, expected] : cases) {
    SCOPED_TRACE(setting);
    Pipeline p("orvanesrc " + setting + " ! fakesink");
    EXPECT_EQ(gst_element_set_state(p.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstMessage* end = p.WaitEnd();
    ASSERT_NE(end, nullptr);
    EXPECT_NE(ErrorText(end).find(expected), std::string::npos) << ErrorText(end);
    gst_message_unref(end);
  }
}

// Streams a few frames and stops.
void PlayCycle(Pipeline& p) {
  ASSERT_TRUE(p.Play());
  for (int i = 0; i < 3; ++i) {
    GstSample* sample = PullSample(p.Child("sink"));
    ASSERT_NE(sample, nullptr);
    gst_sample_unref(sample);
  }
  ASSERT_TRUE(p.Stop());
}

// Ten PLAYING to NULL cycles, each with frames: every cycle opens the camera again and gets frames.
// Nothing is left behind: the program's end checks that every GStreamer object, buffer and pool was
// released (GStreamer's leak tracer) and, under AddressSanitizer, all memory.
TEST_F(OrvaneSrcTest, TenPlayingToNullCyclesLeakNothing) {
  Pipeline p(kSource + " ! appsink name=sink");
  for (int cycle = 0; cycle < 10; ++cycle) {
    SCOPED_TRACE(cycle);
    ASSERT_NO_FATAL_FAILURE(PlayCycle(p));
  }
}

}  // namespace
