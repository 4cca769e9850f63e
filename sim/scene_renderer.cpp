#include "sim/scene_renderer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane::sim {
namespace {

// Scene bands, in sensor lines.
constexpr int kPatchBandEnd = 1200;
constexpr int kGrayRampEnd = 1650;
constexpr int kColourRampEnd = 2100;
constexpr int kPatchColumns = 6;
constexpr int kPatchRows = 4;
constexpr int kPatchBorder = 16;

// 24 patches (8-bit sRGB-like triples): skin tones, primaries, secondaries and a gray row.
constexpr uint8_t kPatchColours[kPatchRows * kPatchColumns][3] = {
    {115, 82, 68},  {194, 150, 130}, {98, 122, 157}, {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44}, {80, 91, 166},   {193, 90, 99},  {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},  {70, 148, 73},   {175, 54, 60},  {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},   {52, 52, 52},
};

constexpr uint16_t kDetailDark = 0x1800;
constexpr uint16_t kDetailLight = 0xD800;

uint16_t Detail(int x, int y) {
  const int third = kSceneWidth / 3;
  bool light;
  if (x < third) {
    light = ((x ^ y) & 1) != 0;  // one-pixel checkerboard
  } else if (x < 2 * third) {
    const int dx = x - third;
    light = ((dx * dx / 2048) & 1) != 0;  // stripes getting finer to the right
  } else {
    const int dx = x - (5 * kSceneWidth) / 6;
    const int dy = y - (kColourRampEnd + kSceneHeight) / 2;
    light = (((dx * dx + dy * dy) >> 10) & 1) != 0;  // concentric rings
  }
  return light ? kDetailLight : kDetailDark;
}

// Deterministic normal deviates (xorshift + Box-Muller), seeded per frame variant.
class NoiseSource {
 public:
  explicit NoiseSource(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  double Next() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    const double u1 = (static_cast<double>(NextBits() >> 11) + 1.0) / 9007199254740993.0;
    const double u2 = static_cast<double>(NextBits() >> 11) / 9007199254740992.0;
    const double r = std::sqrt(-2.0 * std::log(u1));
    spare_ = r * std::sin(2.0 * std::numbers::pi * u2);
    hasSpare_ = true;
    return r * std::cos(2.0 * std::numbers::pi * u2);
  }

 private:
  uint64_t NextBits() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  uint64_t state_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

}  // namespace

uint16_t SceneSample(int x, int y, int channel) {
  x = std::clamp(x, 0, kSceneWidth - 1);
  y = std::clamp(y, 0, kSceneHeight - 1);
  channel = std::clamp(channel, 0, 2);
  if (y < kPatchBandEnd) {
    const int pw = kSceneWidth / kPatchColumns;
    const int ph = kPatchBandEnd / kPatchRows;
    const int col = std::min(x / pw, kPatchColumns - 1);
    const int row = y / ph;
    const int px = x - col * pw;
    const int py = y - row * ph;
    if (px < kPatchBorder || py < kPatchBorder) return 0x0800;
    return static_cast<uint16_t>(kPatchColours[row * kPatchColumns + col][channel] * 257);
  }
  if (y < kGrayRampEnd) return static_cast<uint16_t>(static_cast<uint32_t>(x) * 65535u / (kSceneWidth - 1));
  if (y < kColourRampEnd) {
    const uint32_t h = static_cast<uint32_t>(x) * 65535u / (kSceneWidth - 1);
    const uint32_t v = static_cast<uint32_t>(y - kGrayRampEnd) * 65535u / (kColourRampEnd - kGrayRampEnd - 1);
    if (channel == 0) return static_cast<uint16_t>(h);
    if (channel == 1) return static_cast<uint16_t>(v);
    return static_cast<uint16_t>(65535u - h);
  }
  return Detail(x, y);
}

FrameBytes RenderFrame(const RenderSettings& s, int variant) {
  auto out = std::make_shared<std::vector<uint8_t>>(s.width > 0 && s.height > 0 ? s.FrameBytes() : 0);
  if (out->empty()) return out;
  const int step = s.subSampled ? 2 : 1;
  const bool noisy = s.noiseStdDev > 0.0;
  NoiseSource noise(static_cast<uint64_t>(s.noiseSeed) * 131u + static_cast<uint64_t>(variant) + 1u);
  const double sigma16 = s.noiseStdDev * 257.0;
  // Integer brightness in 1/4096 steps keeps the common (noise-free) path in integer arithmetic.
  const uint64_t gain = static_cast<uint64_t>(std::llround(std::clamp(s.brightness, 0.0, 1024.0) * 4096.0));
  uint8_t* p = out->data();
  for (int row = 0; row < s.height; ++row) {
    // The vertical mirror reverses the readout of photosite rows: output row `row` is window row
    // `windowRow`, and the colour filter belongs to the photosite, so it travels with the row.
    const int windowRow = s.mirrorV ? s.height - 1 - row : row;
    const int sy = s.originY + windowRow * step;
    const int rowPhase = windowRow & 1;
    for (int col = 0; col < s.width; ++col) {
      // Colour filter of the window's first photosite row: blue, green; of its second: green, red.
      const int channel = rowPhase == 0 ? ((col & 1) == 0 ? 2 : 1) : ((col & 1) == 0 ? 1 : 0);
      const int sx = s.originX + col * step;
      uint64_t v = (static_cast<uint64_t>(SceneSample(sx, sy, channel)) * gain) >> 12;
      if (noisy) {
        const double n = static_cast<double>(v) + noise.Next() * sigma16;
        v = static_cast<uint64_t>(std::clamp(n, 0.0, 65535.0));
      }
      if (v > 65535) v = 65535;
      if (s.bytesPerPixel == 2) {
        *p++ = static_cast<uint8_t>(v);
        *p++ = static_cast<uint8_t>(v >> 8);
      } else {
        *p++ = static_cast<uint8_t>(v >> 8);
      }
    }
  }
  return out;
}

}  // namespace orvane::sim
