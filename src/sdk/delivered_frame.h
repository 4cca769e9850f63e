// A frame as the application received it: the output image after the copy into the application's
// buffer, with the metadata read with it from the camera.
#pragma once

#include <cstdint>

#include "device/frame_metadata.h"

namespace orvane::sdk {

struct DeliveredFrame {
  const uint8_t* topRow = nullptr;  // the image's top row; valid only while the frame is being handed on
  int32_t stride = 0;               // bytes from one row to the one below it (negative for a bottom-up image)
  int32_t size = 0;                 // bytes of the whole image, padding included
  int32_t width = 0, height = 0, bitsPerPixel = 0;
  orvane::device::FrameMetadata metadata;
};

}  // namespace orvane::sdk
