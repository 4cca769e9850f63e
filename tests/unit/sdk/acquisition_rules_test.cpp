// Every acquisition request in every state the application can reach, on a fake camera: the result, the
// error codes recorded (newest first) and the state after it. These are the codes the exports return;
// the integration tests pin the same ones against the virtual camera.
#include <gtest/gtest.h>

#include <filesystem>

#include "sdk/acquisition_state.h"
#include "sdk_with_fake_device.h"

namespace {

using orvane::sdk::AcquisitionRequest;
using orvane::sdk::AcquisitionState;
using S = AcquisitionState;
using R = AcquisitionRequest;

class FakeCameraRules : public SdkOnFakeDevice {
 protected:
  void TearDown() override {
    sdk_.reset();
    std::filesystem::remove(RecordingPath());
    std::filesystem::remove(RecordingPath() + "2");
  }

  // Brings the object into `state` the way an application does.
  void Enter(S state) {
    switch (state) {
      case S::kIdle: break;
      case S::kPreview:
        ASSERT_EQ(sdk_->StartPreview(), 1);
        ASSERT_TRUE(fake_->WaitForFrames(1));
        break;
      case S::kStreamLost:
        ASSERT_EQ(sdk_->StartPreview(), 1);
        fake_->Unplug();
        ASSERT_TRUE(WaitForState(S::kStreamLost));
        ASSERT_EQ(Errors(), std::vector<int>{ORVANE_ERR_STREAM});
        break;
      case S::kRecording:
        ASSERT_EQ(sdk_->Record(RecordingPath().c_str(), 600000, 0), 1);
        break;
      case S::kCapture: ASSERT_EQ(sdk_->Capture(), 1); break;
      default: FAIL() << "not a state an application reaches";
    }
    ASSERT_EQ(State(), state);
    ASSERT_EQ(Errors(), std::vector<int>{});
  }
  int Request(R request) {
    std::vector<unsigned char> buffer(kFrameBytes);
    switch (request) {
      case R::kStartPreview: return sdk_->StartPreview();
      case R::kCapture: return sdk_->Capture();
      case R::kSnapShot: return sdk_->SnapShot(buffer.data(), kFrameBytes, 1);
      case R::kRecord: return sdk_->Record((RecordingPath() + "2").c_str(), 600000, 0);
      case R::kStop: return sdk_->StopPreview();
    }
    return -1;
  }
};

struct Rule {
  S from;
  R request;
  int result;
  std::vector<int> errors;  // newest first
  S after;
};

const char* RequestName(R request) {
  switch (request) {
    case R::kStartPreview: return "StartPreview";
    case R::kCapture: return "Capture";
    case R::kSnapShot: return "SnapShot";
    case R::kRecord: return "Record";
    case R::kStop: return "StopPreview";
  }
  return "?";
}

const Rule kRules[] = {
    {S::kIdle, R::kStartPreview, 1, {}, S::kPreview},
    {S::kIdle, R::kCapture, 1, {}, S::kCapture},
    {S::kIdle, R::kSnapShot, 1, {}, S::kIdle},
    {S::kIdle, R::kRecord, 1, {}, S::kRecording},
    {S::kIdle, R::kStop, 1, {}, S::kIdle},
    {S::kPreview, R::kStartPreview, 1, {}, S::kPreview},
    {S::kPreview, R::kCapture, 0, {ORVANE_ERR_NOT_NOW}, S::kPreview},
    {S::kPreview, R::kSnapShot, 0, {ORVANE_ERR_NOT_NOW}, S::kPreview},
    {S::kPreview, R::kRecord, 1, {}, S::kRecording},
    {S::kPreview, R::kStop, 1, {}, S::kIdle},
    {S::kStreamLost, R::kStartPreview, 1, {}, S::kStreamLost},
    {S::kStreamLost, R::kCapture, 0, {ORVANE_ERR_NOT_NOW}, S::kStreamLost},
    {S::kStreamLost, R::kSnapShot, 0, {ORVANE_ERR_NOT_NOW}, S::kStreamLost},
    {S::kStreamLost, R::kRecord, 1, {}, S::kRecording},
    {S::kStreamLost, R::kStop, 1, {}, S::kIdle},
    {S::kRecording, R::kStartPreview, 1, {}, S::kRecording},
    {S::kRecording, R::kCapture, 0, {ORVANE_ERR_NOT_NOW}, S::kRecording},
    {S::kRecording, R::kSnapShot, 0, {ORVANE_ERR_NOT_NOW}, S::kRecording},
    {S::kRecording, R::kRecord, 0, {ORVANE_ERR_NOT_NOW}, S::kRecording},
    {S::kRecording, R::kStop, 1, {}, S::kIdle},
    {S::kCapture, R::kStartPreview, 0, {ORVANE_ERR_NOT_NOW}, S::kCapture},
    {S::kCapture, R::kCapture, 1, {}, S::kCapture},
    {S::kCapture, R::kSnapShot, 1, {}, S::kCapture},
    // The recording's preview is refused in capture mode; the recording closes the object.
    {S::kCapture, R::kRecord, 0, {ORVANE_ERR_CONVERSION, ORVANE_ERR_NOT_NOW}, S::kIdle},
    {S::kCapture, R::kStop, 1, {}, S::kIdle},
};

TEST_F(FakeCameraRules, EachRequestInEachStateGivesItsResultCodesAndNextState) {
  for (const Rule& rule : kRules) {
    SCOPED_TRACE(std::string(orvane::sdk::StateName(rule.from)) + " + " + RequestName(rule.request));
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(Enter(rule.from));
    const int startsBefore = fake_->Starts();
    EXPECT_EQ(Request(rule.request), rule.result);
    EXPECT_EQ(Errors(), rule.errors);
    EXPECT_EQ(State(), rule.after);
    // A request that finds its state already there starts no stream.
    if (rule.from == rule.after && rule.request == R::kStartPreview) {
      EXPECT_EQ(fake_->Starts(), startsBefore);
    }
  }
}

TEST_F(FakeCameraRules, CloseFromEveryStateEndsIdleWithNothingStreaming) {
  for (S from : {S::kIdle, S::kPreview, S::kStreamLost, S::kRecording, S::kCapture}) {
    SCOPED_TRACE(orvane::sdk::StateName(from));
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(Enter(from));
    EXPECT_EQ(sdk_->Close(), 1);
    EXPECT_EQ(State(), S::kIdle);
    EXPECT_FALSE(fake_->Streaming());
    EXPECT_EQ(Errors(), std::vector<int>{});
  }
}

TEST(AcquisitionDecision, TheTransientStatesAllowOnlyAStop) {
  for (S state : {S::kSnapshot, S::kStopping}) {
    for (R request : {R::kStartPreview, R::kCapture, R::kSnapShot, R::kRecord}) {
      orvane::sdk::Decision decision = orvane::sdk::Decide(state, request);
      EXPECT_EQ(decision.verdict, orvane::sdk::Verdict::kRefuse) << orvane::sdk::StateName(state);
      EXPECT_EQ(decision.error, ORVANE_ERR_NOT_NOW);
    }
    EXPECT_EQ(orvane::sdk::Decide(state, R::kStop).verdict, orvane::sdk::Verdict::kProceed);
  }
}

TEST(AcquisitionDecision, WithoutADeviceObjectEveryStartIsError1) {
  UseFreshSettingsStore();
  COrvane sdk([] { return std::unique_ptr<COrvaneR3O5Base>(); });
  ASSERT_FALSE(sdk.Setup(nullptr));
  unsigned char pixel = 0;
  const struct {
    const char* what;
    int result;
  } kCalls[] = {{"StartPreview", sdk.StartPreview()},
                {"Preview", sdk.Preview()},
                {"Capture", sdk.Capture()},
                {"SnapShot", sdk.SnapShot(&pixel, 1, 1)},
                {"Record", sdk.Record("never.avi", 1000, 0)},
                {"StopPreview", sdk.StopPreview()},
                {"GetImage", sdk.GetImage(&pixel, 1, 1)}};
  for (const auto& call : kCalls) {
    EXPECT_EQ(call.result, 0) << call.what;
    EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_NOT_NOW) << call.what;
  }
  EXPECT_EQ(sdk.Close(), 1);
}

}  // namespace
