// What is known of one frame, captured where the frame is read from the camera and carried with it to
// delivery, and the counts of a stream since its start.
#pragma once

#include <cstdint>

namespace orvane::device {

enum class TransferStatus : uint8_t {
  kComplete,  // the whole frame arrived
  kShort,     // fewer bytes than a frame arrived; the rest of the slot is stale
};

struct FrameMetadata {
  uint64_t sequence = 0;       // every frame read since the stream started counts one; the first is 1
  uint64_t hostTimeNs = 0;     // host monotonic clock at the end of the transfer
  int64_t cameraCounter = -1;  // the camera's own frame counter, -1 where the header has none
  uint32_t skipped = 0;        // frames read but not delivered since the previous delivered frame
  TransferStatus status = TransferStatus::kComplete;
};

struct StreamStatistics {
  uint64_t framesRead = 0;
  uint64_t framesDelivered = 0;
  uint64_t framesSkipped = 0;
  uint64_t failedTransfers = 0;
  uint64_t timeouts = 0;
  uint64_t resets = 0;
};

}  // namespace orvane::device
