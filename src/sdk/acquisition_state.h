// The acquisition state of one SDK object and the one rule that says which acquisition requests each
// state allows and with which error code it refuses them. Every export that starts, stops, snaps or
// records asks Decide before it does anything.
//
// A preview that delivers into the application's buffer (a callback preview) follows the same rules as
// a plain preview: what it adds is the frame target (window, buffer, size, row order), which is data, not
// a state.
#pragma once

#include <cstdint>

namespace orvane::sdk {

enum class AcquisitionState : uint8_t {
  kIdle,        // nothing streams; a preparation may have sized the images
  kPreview,     // continuous streaming, the acquisition thread running
  kStreamLost,  // a preview whose stream failed (the camera was unplugged or stopped answering): the
                // thread has ended, but the object stays in preview until it is stopped or closed
  kRecording,   // a preview (running or lost) with a recording in progress
  kCapture,     // prepared for snapshots; the device streams only for each snapshot
  kSnapshot,    // a snapshot is being taken (from idle or from capture)
  kStopping,    // a stop or close is ending the thread and the stream
};

enum class AcquisitionRequest : uint8_t {
  kStartPreview,  // StartPreview, Preview, CallBackPreview, and the preview that a recording starts
  kCapture,
  kSnapShot,
  kRecord,
  kStop,  // StopPreview and Close
};

enum class Verdict : uint8_t {
  kProceed,  // do the request's work
  kAlready,  // the object already is where the request leads: succeed without doing anything
  kRefuse,   // fail, recording the decision's error code
};

struct Decision {
  Verdict verdict;
  int error;  // the export's error code when refused, else 0
};

[[nodiscard]] Decision Decide(AcquisitionState state, AcquisitionRequest request);

// True in the states whose images hold a running (or lost) stream's preparation: the output image is
// the one of the prepared colour mode, whatever the colour mode has been set to since.
[[nodiscard]] bool HoldsPreparedStream(AcquisitionState state);

// True while a preview is up (running, lost or recording): a preview request creates no new window.
[[nodiscard]] bool PreviewIsUp(AcquisitionState state);

[[nodiscard]] const char* StateName(AcquisitionState state);

}  // namespace orvane::sdk
