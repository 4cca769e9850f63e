// The SDK object's side of the extension exports (include/OrvaneSdkEx.h): the application's frame
// callback, the newest frame with its metadata, and the stream counts in the application's records.

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/frame_copies.h"
#include "platform/log.h"
#include "sdk/orvane.h"

namespace {

// A caller's record must hold every field: a smaller (older or wrong) size is refused.
constexpr uint32_t kMetadataSize = sizeof(OrvaneExFrameMetadata);
constexpr uint32_t kStatsSize = sizeof(OrvaneExStreamStats);

OrvaneExFrameMetadata MetadataRecord(const COrvane::DeliveredFrame& frame) {
  OrvaneExFrameMetadata record{};
  record.size = kMetadataSize;
  record.width = frame.width;
  record.height = frame.height;
  record.bitsPerPixel = frame.bitsPerPixel;
  record.stride = frame.stride;
  record.status = frame.metadata.status == orvane::device::TransferStatus::kComplete ? ORVANE_EX_TRANSFER_OK
                                                                                    : ORVANE_EX_TRANSFER_SHORT;
  record.sequence = frame.metadata.sequence;
  record.hostTimeNs = frame.metadata.hostTimeNs;
  record.cameraCounter = frame.metadata.cameraCounter;
  record.skipped = frame.metadata.skipped;
  return record;
}

// Fills the caller's record after its `size` field, which stays as the caller set it.
template <typename Record>
void FillRecord(Record* out, const Record& full) {
  constexpr size_t kSizeField = sizeof(uint32_t);
  std::memcpy(reinterpret_cast<unsigned char*>(out) + kSizeField,
              reinterpret_cast<const unsigned char*>(&full) + kSizeField, sizeof(Record) - kSizeField);
}

}  // namespace

bool COrvane::InFrameCallback() const { return callbackThread_.load() == std::this_thread::get_id(); }

bool COrvane::RefuseInFrameCallback() {
  if (!InFrameCallback()) return false;
  // The callback runs on the acquisition thread, which a start, stop, snapshot or close waits for.
  ORVANE_LOG(kApi, kWarn, "refused inside the frame callback: the call would wait for the callback's own thread");
  ReportError(ORVANE_ERR_NOT_NOW);
  return true;
}

void COrvane::FrameDelivered(const DeliveredFrame& frame) {
  orvane::platform::MutexLock lock(callbackMutex_);
  if (frameCallback_.function == nullptr || frame.topRow == nullptr) return;
  const OrvaneExFrameMetadata record = MetadataRecord(frame);
  callbackThread_ = std::this_thread::get_id();
  try {
    frameCallback_.function(frameCallback_.context, frame.topRow, frame.size, &record);
  } catch (...) {
    // A C++ callback that throws: the frame path goes on.
    ORVANE_LOG(kApi, kError, "the frame callback threw an exception");
  }
  callbackThread_ = std::thread::id();
}

void COrvane::SetFrameCallbackHeld(const FrameCallback& callback) { frameCallback_ = callback; }

int COrvane::SetFrameCallback(OrvaneExFrameCallback callback, void* context) {
  if (InFrameCallback()) {
    // From inside the callback, whose thread holds callbackMutex_ already: the callback replaced is the
    // one running, which returns after the change.
    [this, callback, context]() ORVANE_NO_THREAD_SAFETY_ANALYSIS { SetFrameCallbackHeld({callback, context}); }();
    return 1;
  }
  orvane::platform::MutexLock lock(callbackMutex_);
  SetFrameCallbackHeld({callback, context});
  return 1;
}

int COrvane::GetNewestFrame(unsigned char* buffer, int size, int rowOrder, OrvaneExFrameMetadata* metadata) {
  if (metadata == nullptr || metadata->size < kMetadataSize || buffer == nullptr || size < 0) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  int code = ORVANE_ERR_NOT_NOW;  // nothing delivered since the last Close
  ReadNewestFrame([&](const DeliveredFrame& frame) {
    const size_t rowBytes = static_cast<size_t>(std::abs(frame.stride));
    if (static_cast<size_t>(size) < rowBytes * static_cast<size_t>(frame.height)) {
      code = ORVANE_ERR_MEMORY;
      return;
    }
    for (int y = 0; y < frame.height; ++y) {
      const int source = rowOrder != 0 ? y : frame.height - 1 - y;
      std::memcpy(buffer + rowBytes * static_cast<size_t>(y),
                  frame.topRow + static_cast<ptrdiff_t>(frame.stride) * source, rowBytes);
    }
    orvane::platform::CountFrameCopy();
    FillRecord(metadata, MetadataRecord(frame));
    code = ORVANE_ERR_NONE;
  });
  if (code == ORVANE_ERR_NONE) return 1;
  ReportError(code);
  return 0;
}

int COrvane::GetStreamStats(OrvaneExStreamStats* stats) {
  if (stats == nullptr || stats->size < kStatsSize) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  const orvane::device::StreamStatistics counts = StreamStats();
  OrvaneExStreamStats record{};
  record.framesRead = counts.framesRead;
  record.framesDelivered = counts.framesDelivered;
  record.framesSkipped = counts.framesSkipped;
  record.failedTransfers = counts.failedTransfers;
  record.timeouts = counts.timeouts;
  record.resets = counts.resets;
  FillRecord(stats, record);
  return 1;
}
