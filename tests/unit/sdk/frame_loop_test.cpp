// The acquisition thread on its own: it delivers every new frame in the stream's mode, passes over
// waits that found nothing, ends after a failed stream, and a stop ends its pause at once.
#include "sdk/frame_loop.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/orvane_device.h"

namespace {

// Answers the waits from a script (then "nothing new"), and records what the loop asked. Read by the
// test only after Join.
class ScriptedClient : public orvane::sdk::FrameLoop::Client {
 public:
  explicit ScriptedClient(std::vector<int> waits) : waits_(std::move(waits)) {}
  int WaitForFrame(int) override {
    return waited_ < waits_.size() ? waits_[waited_++] : (++waited_, COrvaneR3O5Base::kWaitNoFrame);
  }
  void DeliverReadyFrame(int mode, const std::stop_token&) override { modes_.push_back(mode); }
  void StreamFailed() override { ++failures_; }

  std::vector<int> waits_;
  size_t waited_ = 0;
  std::vector<int> modes_;
  int failures_ = 0;
};

TEST(FrameLoop, DeliversNewFramesInTheStreamsModeUntilTheStreamFails) {
  ScriptedClient client({COrvaneR3O5Base::kWaitNoFrame, COrvaneR3O5Base::kWaitNewFrame,
                         COrvaneR3O5Base::kWaitNewFrame, COrvaneR3O5Base::kWaitFailed});
  orvane::sdk::FrameLoop loop(client);
  loop.SetWaitTime(0);
  ASSERT_TRUE(loop.Start(4));
  loop.Join();  // the failed stream ends the thread by itself
  EXPECT_EQ(client.modes_, (std::vector<int>{4, 4}));
  EXPECT_EQ(client.failures_, 1);
  EXPECT_EQ(client.waited_, 4u);
}

TEST(FrameLoop, AStopEndsTheApplicationsPauseAtOnce) {
  ScriptedClient client({});
  orvane::sdk::FrameLoop loop(client);
  loop.SetWaitTime(24 * 3600 * 1000);  // a day: only the stop can end it
  ASSERT_TRUE(loop.Start(0));
  loop.RequestStop();
  loop.Join();
  EXPECT_EQ(client.waited_, 0u);
  EXPECT_TRUE(client.modes_.empty());
  EXPECT_EQ(loop.WaitTime(), 24 * 3600 * 1000);
}

}  // namespace
