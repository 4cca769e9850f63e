// The synthetic scene the virtual camera images: colour patches, gradients and fine detail on a
// 4000 x 3000 sensor area, seen through the window and pixel format the FPGA and sensor registers
// select, behind a colour filter that reads blue, green / green, red at the window origin. The
// vertical mirror reverses the order in which photosite rows are read out, filters included, so with
// an even window height the frame's first row reads green, red (the phase at the origin changes, as
// on the camera). Rendering is done once per settings change; frames reuse the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane::sim {

inline constexpr int kSceneWidth = 4000;
inline constexpr int kSceneHeight = 3000;

struct RenderSettings {
  int width = 4000;           // pixels per line (FPGA line length)
  int height = 3000;          // lines
  int bytesPerPixel = 1;      // 1: 8-bit samples; 2: 16-bit little-endian samples, full scale
  int originX = 0;            // window origin on the sensor, full-resolution pixels
  int originY = 0;
  bool subSampled = false;    // each window pixel covers 2 x 2 sensor pixels
  bool mirrorV = false;       // photosite rows read out bottom first
  double brightness = 1.0;    // exposure x gain relative to the default settings
  double noiseStdDev = 0.0;   // in 8-bit levels; 0: none
  uint32_t noiseSeed = 1;

  friend bool operator==(const RenderSettings&, const RenderSettings&) = default;
  size_t FrameBytes() const {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bytesPerPixel);
  }
};

using FrameBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Noise-free 16-bit value of colour channel `channel` (0 red, 1 green, 2 blue) of the scene at sensor
// pixel (x, y), before brightness.
uint16_t SceneSample(int x, int y, int channel);

// Renders one raw frame. `variant` selects one of the seeded noise patterns (ignored without noise).
FrameBytes RenderFrame(const RenderSettings& settings, int variant = 0);

}  // namespace orvane::sim
