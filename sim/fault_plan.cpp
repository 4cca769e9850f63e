#include "sim/fault_plan.h"

#include <cmath>
#include <cstdlib>

#include "platform/log.h"

namespace orvane::sim {
namespace {

struct KindName {
  std::string_view name;
  FaultKind kind;
  bool counted;  // takes a count
};

constexpr KindName kKinds[] = {
    {"unplug", FaultKind::kUnplug, false},
    {"replug", FaultKind::kReplug, false},
    {"header-fail", FaultKind::kHeaderFail, true},
    {"payload-fail", FaultKind::kPayloadFail, true},
    {"payload-short", FaultKind::kPayloadShort, true},
    {"bulk-fail", FaultKind::kBulkFail, true},
    {"bulk-stall", FaultKind::kBulkStall, true},
    {"fpga-busy", FaultKind::kFpgaBusy, false},
    {"fpga-ready", FaultKind::kFpgaReady, false},
    {"eeprom-fail", FaultKind::kEepromFail, false},
    {"eeprom-ok", FaultKind::kEepromOk, false},
    {"gpio25-low", FaultKind::kGpio25Low, false},
    {"gpio25-ok", FaultKind::kGpio25Ok, false},
};

constexpr uint64_t kMaxCount = 1000000;
constexpr double kMaxSeconds = 1e6;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal integer 1..max with nothing around it.
bool ParseCount(std::string_view s, uint64_t max, uint64_t* out) {
  if (s.empty() || s.size() > 9) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v < 1 || v > max) return false;
  *out = v;
  return true;
}

// "2.5s" or "300ms", into milliseconds.
bool ParseTime(std::string_view s, uint64_t* ms) {
  double scale = 0;
  if (s.size() > 2 && s.substr(s.size() - 2) == "ms") {
    scale = 1.0;
    s.remove_suffix(2);
  } else if (s.size() > 1 && s.back() == 's') {
    scale = 1000.0;
    s.remove_suffix(1);
  } else {
    return false;
  }
  if (s.empty() || s.size() > 32) return false;
  int dots = 0;
  for (char c : s) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  if (dots > 1 || s == ".") return false;
  const std::string digits(s);
  const double v = std::strtod(digits.c_str(), nullptr) * scale;
  if (!(v >= 0.0) || v > kMaxSeconds * 1000.0) return false;
  *ms = static_cast<uint64_t>(std::llround(v));
  return true;
}

bool ParseTrigger(std::string_view s, FaultStep* step) {
  if (s.starts_with("frame:")) {
    step->trigger = FaultTrigger::kFrame;
    return ParseCount(s.substr(6), 0xFFFFFFFFull, &step->value);
  }
  if (s.starts_with("stream+")) {
    step->trigger = FaultTrigger::kSinceStream;
    return ParseTime(s.substr(7), &step->value);
  }
  step->trigger = FaultTrigger::kSinceOpen;
  return ParseTime(s, &step->value);
}

// One item; an empty string when it is well formed, else why not.
std::string ParseItem(std::string_view item, FaultStep* step) {
  if (item.empty()) return "empty item";
  if (const size_t at = item.find('@'); at != std::string_view::npos) {
    if (!ParseTrigger(item.substr(at + 1), step)) return "bad trigger";
    item = item.substr(0, at);
  }
  if (item.starts_with("cam")) {
    const size_t colon = item.find(':');
    uint64_t camera = 0;
    if (colon == std::string_view::npos || !ParseCount(item.substr(3, colon - 3), 32, &camera)) {
      return "bad camera selector";
    }
    step->camera = static_cast<int>(camera);
    item = item.substr(colon + 1);
  }
  std::string_view name = item;
  std::string_view count;
  if (const size_t colon = item.find(':'); colon != std::string_view::npos) {
    name = item.substr(0, colon);
    count = item.substr(colon + 1);
  }
  for (const KindName& k : kKinds) {
    if (k.name != name) continue;
    step->kind = k.kind;
    if (count.empty() && item.size() == name.size()) return {};
    uint64_t n = 0;
    if (!k.counted) return "this fault takes no count";
    if (!ParseCount(count, kMaxCount, &n)) return "bad count";
    step->count = static_cast<int>(n);
    return {};
  }
  return "unknown fault";
}

}  // namespace

bool ParseFaultPlan(std::string_view text, std::vector<FaultStep>* steps, std::string* error) {
  std::vector<FaultStep> parsed;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    FaultStep step;
    const std::string why = ParseItem(item, &step);
    if (!why.empty()) {
      if (error != nullptr) *error = why + " in \"" + std::string(item.substr(0, 64)) + "\"";
      return false;
    }
    parsed.push_back(step);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *steps = std::move(parsed);
  return true;
}

std::vector<FaultStep> FaultsRequestedByEnvironment() {
  std::vector<FaultStep> steps;
  const char* value = std::getenv("ORVANE_SIM_FAULTS");
  if (value == nullptr || *value == '\0') return steps;
  std::string error;
  if (!ParseFaultPlan(value, &steps, &error)) {
    ORVANE_LOG(kDevice, kError, "ORVANE_SIM_FAULTS ignored: %s", error.c_str());
    return {};
  }
  ORVANE_LOG(kDevice, kInfo, "ORVANE_SIM_FAULTS: %zu fault(s) scheduled", steps.size());
  return steps;
}

}  // namespace orvane::sim
