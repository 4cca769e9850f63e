#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/debug_output.h"

namespace orvane::log {

namespace detail {
std::atomic<uint8_t> gThreshold[static_cast<int>(Category::kCount)] = {
    static_cast<uint8_t>(Level::kError), static_cast<uint8_t>(Level::kError), static_cast<uint8_t>(Level::kError),
    static_cast<uint8_t>(Level::kError), static_cast<uint8_t>(Level::kError), static_cast<uint8_t>(Level::kError),
    static_cast<uint8_t>(Level::kError), static_cast<uint8_t>(Level::kError)};
}  // namespace detail

namespace {

constexpr const char* kCategoryNames[] = {"general", "api", "sdk", "device", "usb", "image", "output", "settings"};
constexpr const char* kLevelNames[] = {"off", "error", "warn", "info", "debug"};
static_assert(sizeof(kCategoryNames) / sizeof(kCategoryNames[0]) == static_cast<int>(Category::kCount));

// The log file named by ORVANE_LOG, if any; opened once, written under its mutex.
struct LogFile {
  std::mutex mutex;
  FILE* file = nullptr;  // guarded by mutex
};
LogFile& File() {
  static LogFile f;
  return f;
}

bool ParseLevel(const std::string& text, Level* level) {
  for (int i = 0; i <= static_cast<int>(Level::kDebug); ++i) {
    if (text == kLevelNames[i]) {
      *level = static_cast<Level>(i);
      return true;
    }
  }
  return false;
}

bool ParseCategory(const std::string& text, int* category) {
  for (int i = 0; i < static_cast<int>(Category::kCount); ++i) {
    if (text == kCategoryNames[i]) {
      *category = i;
      return true;
    }
  }
  return false;
}

// Reads ORVANE_LOG once when the library loads.
struct FromEnvironment {
  FromEnvironment() {
    const char* value = std::getenv("ORVANE_LOG");
    if (value != nullptr && *value != '\0') Configure(value);
  }
} gFromEnvironment;

}  // namespace

const char* Name(Category category) { return kCategoryNames[static_cast<int>(category)]; }
const char* Name(Level level) { return kLevelNames[static_cast<int>(level)]; }

// "LEVEL[:FILE]" or "cat:LEVEL,cat:LEVEL[,...]" (a bare LEVEL among them sets every category).
bool Configure(const char* specification) {
  if (specification == nullptr) return false;
  const std::string spec(specification);
  uint8_t thresholds[static_cast<int>(Category::kCount)];
  for (int i = 0; i < static_cast<int>(Category::kCount); ++i) {
    thresholds[i] = detail::gThreshold[i].load(std::memory_order_relaxed);
  }
  std::string fileName;
  Level level;
  const size_t colon = spec.find(':');
  if (colon != std::string::npos && ParseLevel(spec.substr(0, colon), &level)) {
    // LEVEL:FILE
    for (auto& t : thresholds) t = static_cast<uint8_t>(level);
    fileName = spec.substr(colon + 1);
  } else {
    size_t start = 0;
    while (start <= spec.size()) {
      size_t end = spec.find(',', start);
      if (end == std::string::npos) end = spec.size();
      const std::string item = spec.substr(start, end - start);
      const size_t sep = item.find(':');
      int category = 0;
      if (sep == std::string::npos) {
        if (!ParseLevel(item, &level)) return false;
        for (auto& t : thresholds) t = static_cast<uint8_t>(level);
      } else {
        if (!ParseCategory(item.substr(0, sep), &category) || !ParseLevel(item.substr(sep + 1), &level)) return false;
        thresholds[category] = static_cast<uint8_t>(level);
      }
      start = end + 1;
    }
  }
  if (!fileName.empty()) {
    LogFile& f = File();
    std::lock_guard<std::mutex> lock(f.mutex);
    FILE* opened = std::fopen(fileName.c_str(), "a");
    if (opened == nullptr) return false;
    if (f.file != nullptr) std::fclose(f.file);
    f.file = opened;
  }
  for (int i = 0; i < static_cast<int>(Category::kCount); ++i) {
    detail::gThreshold[i].store(thresholds[i], std::memory_order_relaxed);
  }
  return true;
}

void Write(Category category, Level level, const char* format, ...) {
  char text[1024];
  const int prefix = std::snprintf(text, sizeof text, "orvane %s %s: ", Name(level), Name(category));
  va_list args;
  va_start(args, format);
  std::vsnprintf(text + prefix, sizeof text - static_cast<size_t>(prefix), format, args);
  va_end(args);
  platform::DebugOutput(text);
  LogFile& f = File();
  std::lock_guard<std::mutex> lock(f.mutex);
  if (f.file != nullptr) {
    std::fputs(text, f.file);
    std::fputc('\n', f.file);
    std::fflush(f.file);
  }
}

}  // namespace orvane::log
