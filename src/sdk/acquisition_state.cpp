#include "sdk/acquisition_state.h"

#include <array>
#include <cstddef>

#include "OrvaneSdk.h"

namespace orvane::sdk {
namespace {

constexpr size_t kStates = static_cast<size_t>(AcquisitionState::kStopping) + 1;
constexpr size_t kRequests = static_cast<size_t>(AcquisitionRequest::kStop) + 1;

constexpr Decision kGo{Verdict::kProceed, 0};
constexpr Decision kDone{Verdict::kAlready, 0};
// A request that conflicts with the current mode records "not now".
constexpr Decision kNo{Verdict::kRefuse, ORVANE_ERR_NOT_NOW};

// Rows: requests; columns: states in the order of AcquisitionState (idle, preview, stream lost,
// recording, capture, snapshot, stopping). The snapshot and stopping states last only inside the
// control lock, so the exports, which take that lock, meet them only when a state is read without it.
constexpr std::array<std::array<Decision, kStates>, kRequests> kRules{{
    //          idle   preview lost   record capture snap stopping
    /* start */ {kGo, kDone, kDone, kDone, kNo, kNo, kNo},
    /* capt. */ {kGo, kNo, kNo, kNo, kDone, kNo, kNo},
    /* snap  */ {kGo, kNo, kNo, kNo, kGo, kNo, kNo},
    // A recording starts its own preview (or joins the running one); in capture mode that preview is
    // refused, which the recording then reports as its own failure.
    /* rec.  */ {kGo, kGo, kGo, kNo, kGo, kNo, kNo},
    /* stop  */ {kGo, kGo, kGo, kGo, kGo, kGo, kGo},
}};

}  // namespace

Decision Decide(AcquisitionState state, AcquisitionRequest request) {
  return kRules[static_cast<size_t>(request)][static_cast<size_t>(state)];
}

bool HoldsPreparedStream(AcquisitionState state) {
  return state == AcquisitionState::kPreview || state == AcquisitionState::kStreamLost ||
         state == AcquisitionState::kRecording || state == AcquisitionState::kCapture;
}

bool PreviewIsUp(AcquisitionState state) {
  return state == AcquisitionState::kPreview || state == AcquisitionState::kStreamLost ||
         state == AcquisitionState::kRecording;
}

const char* StateName(AcquisitionState state) {
  switch (state) {
    case AcquisitionState::kIdle: return "idle";
    case AcquisitionState::kPreview: return "preview";
    case AcquisitionState::kStreamLost: return "stream lost";
    case AcquisitionState::kRecording: return "recording";
    case AcquisitionState::kCapture: return "capture";
    case AcquisitionState::kSnapshot: return "snapshot";
    case AcquisitionState::kStopping: return "stopping";
  }
  return "?";
}

}  // namespace orvane::sdk
