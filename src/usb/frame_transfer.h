// One frame transfer: the request record the device core hands to the controller for a frame read of
// endpoint 0x81. The controller fills the 64-byte header and the copy of its word at byte 32, and
// reads the payload into `buffer`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "usb/transfer_record.h"

namespace orvane::usb {

struct FrameTransferRequest {
  uint8_t header[kFrameHeaderSize] = {};
  uint32_t frameCounterWord = 0;  // copy of the header's frame-counter word (byte 32)
  uint8_t* buffer = nullptr;  // transfer buffer (not owned)
  size_t bufferSize = 0;      // bytes available at `buffer`
  size_t frameSize = 0;       // bytes of one frame (auxiliary reads)
  uint32_t timeouts = 0;      // bulk waits of this request's reads that ran out (added to, never cleared)

  uint32_t PayloadLength() const { return LoadU32(header + frame_header::kPayloadLength); }
  // Status word 0..3 of the header (bytes 28, 32, 40, 44).
  int32_t StatusWord(int i) const {
    return static_cast<int32_t>(LoadU32(header + frame_header::kStatusWordOffsets[i & 3]));
  }
  uint8_t FrameCounter() const { return header[frame_header::kFrameCounter]; }
};

}  // namespace orvane::usb
