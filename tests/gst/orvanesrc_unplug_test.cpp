// A camera pulled while orvanesrc streams: an error reaches the bus within 2 s and the pipeline stops;
// plugged in again, the camera streams after the pipeline's next start. The program's one virtual
// camera is unplugged one second after its stream starts and plugged in a second later
// (ORVANE_SIM_FAULTS, read when the library first looks for cameras).
#include <chrono>
#include <string>

#include "gst_test_support.h"
#include "test_settings.h"

namespace {

const auto* const kGst = ::testing::AddGlobalTestEnvironment(new GstTestEnvironment);
const bool kUnpluggedCamera =
    SetTestVariable("ORVANE_SIM_CAMERAS", "1") && SetTestVariable("ORVANE_SIM_FAULTS", "unplug@stream+1s,replug@stream+2s");

TEST(OrvaneSrcUnplug, AnErrorWithinTwoSecondsStopsThePipelineAndAReplugStreamsAgain) {
  ASSERT_TRUE(kUnpluggedCamera);
  UseFreshSettingsStore();
  Pipeline p("orvanesrc sub-sample=true ! fakesink");
  // The camera is open in PAUSED; its stream starts after PLAYING, so the unplug comes at least a
  // second after `playing`: the time to the error less that second bounds the error's delay.
  ASSERT_NE(gst_element_set_state(p.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  const auto playing = std::chrono::steady_clock::now();
  ASSERT_TRUE(p.Play());
  GstMessage* end = p.WaitEnd();
  const auto delay = std::chrono::steady_clock::now() - playing - std::chrono::seconds(1);
  ASSERT_NE(end, nullptr) << "no error after the unplug";
  ASSERT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_ERROR);
  EXPECT_NE(ErrorText(end).find("ORVANE_ERR_STREAM"), std::string::npos) << ErrorText(end);
  gst_message_unref(end);
  EXPECT_LT(delay, std::chrono::seconds(2));
  EXPECT_TRUE(p.Stop());

  // Until the replug each start fails at once with an error; then three buffers end in EOS.
  Pipeline again("orvanesrc sub-sample=true num-buffers=3 ! fakesink");
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool streamed = false;
  while (!streamed && std::chrono::steady_clock::now() < limit) {
    again.Play();
    GstMessage* m = again.WaitEnd();
    ASSERT_NE(m, nullptr);
    streamed = GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    gst_message_unref(m);
    ASSERT_TRUE(again.Stop());
  }
  EXPECT_TRUE(streamed) << "no stream after the replug";
}

}  // namespace
