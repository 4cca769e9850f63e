// The filter table: one row per filter id of Orvane_SetFilterValue / Orvane_GetFilterValue. A row says
// how the id is set and read back (its kind), the inclusive range and default of a value the SDK object
// keeps, where the value is stored per camera (subkey and value name) and which field of the pipeline's
// per-frame settings takes it. The filter exports, the per-camera store and the pipeline hand-over all
// read these rows; nothing else spells out a filter's range, default or stored name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "OrvaneSdk.h"
#include "image/image_pipeline.h"

namespace orvane::settings {

// Inclusive range of a 32-bit setting.
struct Range {
  int32_t min;
  int32_t max;
  constexpr bool Contains(int32_t value) const { return value >= min && value <= max; }
};

// How an id is set and read back.
enum class FilterKind {
  kStored,          // range-checked, kept, read back
  kStoredSetOnly,   // range-checked and kept; reading it back is refused as an unknown id
  kPackedRgb,       // the three Bayer gains packed as red + green * 256 + blue * 65536, no range check
  kSwitch,          // any value, kept as 0 or 1
  kGlobalGain,      // forwarded: device range, cached with all four colour gains
  kColorGain,       // forwarded: device colour-gain range, cached
  kExposure,        // forwarded: device exposure range (100 us units), cached with its seconds
  kPeltier,         // forwarded when the device has one
  kTemperature,     // read-only through Orvane_GetTemperatureEx; refused here
  kGainMode,        // forwarded, the device's result returned, never reported
  kShortExposure,   // forwarded when supported; device failure reported
  kBlackLevel,      // forwarded when supported, cached; device failure reported
};

// The subkey of the camera's key that stores a value (kNone: not stored per camera).
enum class StoredKey { kNone, kFilter, kGray };

// The pipeline field a value is handed over in (null: the pipeline does not read it).
using PipelineField = int& (*)(image::PipelineSettings&);

struct FilterRow {
  int id;
  FilterKind kind;
  Range range;            // kStored, kStoredSetOnly, kSwitch; forwarded kinds take the device's
  int32_t defaultValue;   // the value with nothing stored
  StoredKey key;
  const char* storedName;  // value name below `key`
  PipelineField pipeline;
};

// True for the kinds whose value the image settings keep (all others reach the device).
constexpr bool IsImageKind(FilterKind kind) {
  return kind == FilterKind::kStored || kind == FilterKind::kStoredSetOnly || kind == FilterKind::kSwitch;
}

// True for the ids the image settings answer (their values and the packed Bayer gains); the device
// settings answer the others.
constexpr bool AnsweredByImageSettings(FilterKind kind) { return IsImageKind(kind) || kind == FilterKind::kPackedRgb; }

namespace detail {
using image::PipelineSettings;
constexpr Range kNoRange{0, 0};
constexpr FilterRow Device(int id, FilterKind kind) {
  return {id, kind, kNoRange, 0, StoredKey::kNone, nullptr, nullptr};
}
}  // namespace detail

// Sorted by id. Gray gains and offsets are 128 when nothing is stored (unity gain; the offset's 128 is
// the stored neutral value, kept as it is for existing stores).
inline constexpr FilterRow kFilters[] = {
    {ORVANE_FILTER_BRIGHTNESS, FilterKind::kStored, {-255, 255}, 0, StoredKey::kFilter, "Brightness",
     [](detail::PipelineSettings& s) -> int& { return s.brightness; }},
    {ORVANE_FILTER_CONTRAST, FilterKind::kStored, {-127, 127}, 0, StoredKey::kFilter, "Contrast",
     [](detail::PipelineSettings& s) -> int& { return s.contrast; }},
    {ORVANE_FILTER_HUE, FilterKind::kStored, {-360, 360}, 0, StoredKey::kFilter, "Hue",
     [](detail::PipelineSettings& s) -> int& { return s.hue; }},
    {ORVANE_FILTER_SATURATION, FilterKind::kStored, {-255, 255}, 0, StoredKey::kFilter, "Saturation",
     [](detail::PipelineSettings& s) -> int& { return s.saturation; }},
    {ORVANE_FILTER_SHARPNESS, FilterKind::kStored, {0, 30}, 0, StoredKey::kFilter, "Sharpness",
     [](detail::PipelineSettings& s) -> int& { return s.sharpness; }},
    {ORVANE_FILTER_BAYER_GAIN_RGB, FilterKind::kPackedRgb, detail::kNoRange, 0, StoredKey::kNone, nullptr, nullptr},
    {ORVANE_FILTER_BAYER_GAIN_RED, FilterKind::kStored, {0, 400}, 100, StoredKey::kFilter, "R_Gain",
     [](detail::PipelineSettings& s) -> int& { return s.bayerGainRed; }},
    {ORVANE_FILTER_BAYER_GAIN_GREEN, FilterKind::kStored, {0, 400}, 100, StoredKey::kFilter, "G_Gain",
     [](detail::PipelineSettings& s) -> int& { return s.bayerGainGreen; }},
    {ORVANE_FILTER_BAYER_GAIN_BLUE, FilterKind::kStored, {0, 400}, 100, StoredKey::kFilter, "B_Gain",
     [](detail::PipelineSettings& s) -> int& { return s.bayerGainBlue; }},
    {ORVANE_FILTER_BAYER_GAIN_AUTO, FilterKind::kSwitch, {0, 1}, 0, StoredKey::kNone, nullptr,
     [](detail::PipelineSettings& s) -> int& { return s.autoWhiteBalance; }},
    {ORVANE_FILTER_GAMMA, FilterKind::kStored, {0, 200}, 100, StoredKey::kFilter, "Gamma",
     [](detail::PipelineSettings& s) -> int& { return s.gamma; }},
    {ORVANE_FILTER_BAYER_MODE, FilterKind::kStored, {0, 3}, 2, StoredKey::kFilter, "BayerMode",
     [](detail::PipelineSettings& s) -> int& { return s.bayerPhase; }},
    detail::Device(ORVANE_FILTER_GLOBAL_GAIN, FilterKind::kGlobalGain),
    detail::Device(ORVANE_FILTER_COLOR_GAIN_RED, FilterKind::kColorGain),
    detail::Device(ORVANE_FILTER_COLOR_GAIN_GREEN1, FilterKind::kColorGain),
    detail::Device(ORVANE_FILTER_COLOR_GAIN_GREEN2, FilterKind::kColorGain),
    detail::Device(ORVANE_FILTER_COLOR_GAIN_BLUE, FilterKind::kColorGain),
    detail::Device(ORVANE_FILTER_EXPOSURE_TIME, FilterKind::kExposure),
    {ORVANE_FILTER_GRAY_MODE, FilterKind::kStored, {0, 2}, 0, StoredKey::kGray, "Mode",
     [](detail::PipelineSettings& s) -> int& { return s.grayMode; }},
    {ORVANE_FILTER_GRAY_GAIN_R, FilterKind::kStored, {0, 255}, 128, StoredKey::kGray, "GainR1",
     [](detail::PipelineSettings& s) -> int& { return s.grayGain[0]; }},
    {ORVANE_FILTER_GRAY_GAIN_G1, FilterKind::kStored, {0, 255}, 128, StoredKey::kGray, "GainG1",
     [](detail::PipelineSettings& s) -> int& { return s.grayGain[1]; }},
    {ORVANE_FILTER_GRAY_GAIN_G2, FilterKind::kStored, {0, 255}, 128, StoredKey::kGray, "GainG2",
     [](detail::PipelineSettings& s) -> int& { return s.grayGain[2]; }},
    {ORVANE_FILTER_GRAY_GAIN_B, FilterKind::kStored, {0, 255}, 128, StoredKey::kGray, "GainB1",
     [](detail::PipelineSettings& s) -> int& { return s.grayGain[3]; }},
    {ORVANE_FILTER_GRAY_OFFSET_R, FilterKind::kStored, {-255, 255}, 128, StoredKey::kGray, "OffsetR1",
     [](detail::PipelineSettings& s) -> int& { return s.grayOffset[0]; }},
    {ORVANE_FILTER_GRAY_OFFSET_G1, FilterKind::kStored, {-255, 255}, 128, StoredKey::kGray, "OffsetG1",
     [](detail::PipelineSettings& s) -> int& { return s.grayOffset[1]; }},
    {ORVANE_FILTER_GRAY_OFFSET_G2, FilterKind::kStored, {-255, 255}, 128, StoredKey::kGray, "OffsetG2",
     [](detail::PipelineSettings& s) -> int& { return s.grayOffset[2]; }},
    {ORVANE_FILTER_GRAY_OFFSET_B, FilterKind::kStored, {-255, 255}, 128, StoredKey::kGray, "OffsetB1",
     [](detail::PipelineSettings& s) -> int& { return s.grayOffset[3]; }},
    // The one-shot gray balance request: consumed by the next frame's balance.
    {ORVANE_FILTER_AUTO_GRAY_BALANCE, FilterKind::kStoredSetOnly, {0, 1}, 0, StoredKey::kNone, nullptr,
     [](detail::PipelineSettings& s) -> int& { return s.autoGrayBalance; }},
    detail::Device(ORVANE_FILTER_PELTIER, FilterKind::kPeltier),
    detail::Device(ORVANE_FILTER_TEMPERATURE, FilterKind::kTemperature),
    {ORVANE_FILTER_DOT, FilterKind::kStored, {0, 1}, 0, StoredKey::kNone, nullptr,
     [](detail::PipelineSettings& s) -> int& { return s.dotFilter; }},
    {ORVANE_FILTER_MASK, FilterKind::kStored, {0, 1}, 0, StoredKey::kNone, nullptr,
     [](detail::PipelineSettings& s) -> int& { return s.maskFilter; }},
    detail::Device(ORVANE_FILTER_GAIN_MODE, FilterKind::kGainMode),
    detail::Device(ORVANE_FILTER_SHORT_EXPOSURE, FilterKind::kShortExposure),
    detail::Device(ORVANE_FILTER_BLACK_LEVEL, FilterKind::kBlackLevel),
};
inline constexpr size_t kFilterCount = std::size(kFilters);

// The row index of `id`, or -1 when the id is not in the table.
constexpr int FilterIndex(int id) {
  for (size_t i = 0; i < kFilterCount; ++i) {
    if (kFilters[i].id == id) return static_cast<int>(i);
  }
  return -1;
}
constexpr const FilterRow* FindFilter(int id) {
  int index = FilterIndex(id);
  return index < 0 ? nullptr : &kFilters[index];
}

// The values of the image rows, one slot per row (the slots of forwarded rows stay 0). A plain value:
// the image settings keep one under their lock and hand out copies.
class ImageValues {
 public:
  constexpr ImageValues() {
    for (size_t i = 0; i < kFilterCount; ++i) values_[i] = IsImageKind(kFilters[i].kind) ? kFilters[i].defaultValue : 0;
  }
  // The value of an image row; 0 for any other id.
  constexpr int32_t Get(int id) const {
    int index = FilterIndex(id);
    return index < 0 ? 0 : values_[index];
  }
  // Sets an image row's value as given (no range check); other ids are ignored.
  constexpr void Set(int id, int32_t value) {
    int index = FilterIndex(id);
    if (index >= 0 && IsImageKind(kFilters[index].kind)) values_[index] = value;
  }
  constexpr int32_t At(size_t row) const { return values_[row]; }
  bool operator==(const ImageValues&) const = default;

 private:
  std::array<int32_t, kFilterCount> values_{};
};

}  // namespace orvane::settings
