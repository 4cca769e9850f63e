#include "platform/log.h"

#include <chrono>
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

namespace {
thread_local const char* tCurrentExport = nullptr;  // this thread's export, see ExportScope
const auto kLoadTime = std::chrono::steady_clock::now();

// A small number per thread, in the order threads first log (readable, unlike native ids).
unsigned ThreadNumber() {
  static std::atomic<unsigned> next{1};
  thread_local const unsigned number = next.fetch_add(1, std::memory_order_relaxed);
  return number;
}
}  // namespace

const char* CurrentExport() { return tCurrentExport != nullptr ? tCurrentExport : "a library thread"; }

ExportScope::ExportScope(const char* exportName) : previous_(tCurrentExport) { tCurrentExport = exportName; }

ExportScope::~ExportScope() { tCurrentExport = previous_; }

const char* Name(Category category) { return kCategoryNames[static_cast<int>(category)]; }
const char* Name(Level level) { return kLevelNames[static_cast<int>(level)]; }

namespace {

// One item of the comma-separated form: "LEVEL", "cat:LEVEL" or "cat:LEVEL:FILE" (the file takes the
// rest of the item). False when a name is unknown.
bool ApplyItem(const std::string& item, uint8_t* thresholds, std::string* fileName) {
  Level level;
  const size_t sep = item.find(':');
  if (sep == std::string::npos) {
    if (!ParseLevel(item, &level)) return false;
    for (int i = 0; i < static_cast<int>(Category::kCount); ++i) thresholds[i] = static_cast<uint8_t>(level);
    return true;
  }
  int category = 0;
  const size_t fileSep = item.find(':', sep + 1);
  const std::string levelText = item.substr(sep + 1, fileSep == std::string::npos ? std::string::npos : fileSep - sep - 1);
  if (!ParseCategory(item.substr(0, sep), &category) || !ParseLevel(levelText, &level)) return false;
  thresholds[category] = static_cast<uint8_t>(level);
  if (fileSep != std::string::npos) *fileName = item.substr(fileSep + 1);
  return true;
}

// Opens `fileName` for appending and makes it the log file; false (the old file kept) when it cannot.
bool OpenLogFile(const std::string& fileName) {
  LogFile& f = File();
  std::lock_guard<std::mutex> lock(f.mutex);
  FILE* opened = std::fopen(fileName.c_str(), "a");
  if (opened == nullptr) return false;
  if (f.file != nullptr) std::fclose(f.file);
  f.file = opened;
  return true;
}

void CloseLogFile() {
  LogFile& f = File();
  std::lock_guard<std::mutex> lock(f.mutex);
  if (f.file != nullptr) std::fclose(f.file);
  f.file = nullptr;
}

}  // namespace

// "LEVEL[:FILE]" (the file name is the whole rest, commas included), or comma-separated items
// "LEVEL", "cat:LEVEL", "cat:LEVEL:FILE" applied left to right. A form naming no file keeps the
// current one; "LEVEL:" with nothing after the colon closes it.
bool Configure(const char* value) {
  if (value == nullptr) return false;
  const std::string text(value);
  uint8_t thresholds[static_cast<int>(Category::kCount)];
  for (int i = 0; i < static_cast<int>(Category::kCount); ++i) {
    thresholds[i] = detail::gThreshold[i].load(std::memory_order_relaxed);
  }
  std::string fileName;
  Level level;
  const size_t colon = text.find(':');
  if (colon != std::string::npos && ParseLevel(text.substr(0, colon), &level)) {
    for (auto& t : thresholds) t = static_cast<uint8_t>(level);
    fileName = text.substr(colon + 1);
    if (fileName.empty()) CloseLogFile();
  } else {
    for (size_t start = 0; start <= text.size();) {
      size_t end = text.find(',', start);
      if (end == std::string::npos) end = text.size();
      if (!ApplyItem(text.substr(start, end - start), thresholds, &fileName)) return false;
      start = end + 1;
    }
  }
  if (!fileName.empty() && !OpenLogFile(fileName)) return false;
  for (int i = 0; i < static_cast<int>(Category::kCount); ++i) {
    detail::gThreshold[i].store(thresholds[i], std::memory_order_relaxed);
  }
  return true;
}

void Write(Category category, Level level, const char* format, ...) {
  char text[1024];
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - kLoadTime).count();
  int prefix = std::snprintf(text, sizeof text, "orvane %s %s +%.3f [%u]: ", Name(level), Name(category), seconds,
                             ThreadNumber());
  if (prefix < 0 || prefix >= static_cast<int>(sizeof text)) prefix = 0;
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
