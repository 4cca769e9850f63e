// Diagnostic logging: the one place the library says what it is doing. Lines go to the debug channel
// (debug_output.h: an attached debugger on Windows, the installed sink everywhere) and, when
// ORVANE_LOG names a file, to that file. Nothing is ever written to stdout or stderr. Each line reads
// "orvane LEVEL CATEGORY +SECONDS [THREAD]: text", seconds counted from the library's load.
//
// ORVANE_LOG=LEVEL[:FILE] switches every category to LEVEL (off, error, warn, info, debug); per-category
// forms such as "usb:debug,image:warn" are read too, applied left to right ("warn,usb:debug"), and one
// item may name the file: "warn,device:debug:/tmp/orvane.log"; "LEVEL:" closes the file. Unset, only the debug channel's sink sees
// errors. A disabled level costs one relaxed load and one comparison, and nothing is formatted.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvane::log {

enum class Level : uint8_t { kOff = 0, kError = 1, kWarn = 2, kInfo = 3, kDebug = 4 };

// Where a line comes from; each has its own level.
enum class Category : uint8_t { kGeneral, kApi, kSdk, kDevice, kUsb, kImage, kOutput, kSettings, kCount };

namespace detail {
// Per-category thresholds, read lock-free on every log call.
extern std::atomic<uint8_t> gThreshold[static_cast<int>(Category::kCount)];
}  // namespace detail

inline bool Enabled(Category category, Level level) {
  return static_cast<uint8_t>(level) <=
         detail::gThreshold[static_cast<int>(category)].load(std::memory_order_relaxed);
}

// Formats and writes one line (printf conventions). Call through ORVANE_LOG so that a disabled level
// formats nothing.
// (mingw-w64's C++ runtime formats with its own ANSI stdio, so %zu and %llu are checked as GNU.)
void Write(Category category, Level level, const char* format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 3, 4)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Sets the thresholds from a value in the ORVANE_LOG form (tests; the library reads the
// variable itself when it loads). Returns false, leaving the thresholds as they were, when it
// cannot be read.
bool Configure(const char* value);

// The short name of a category ("usb") or level ("debug").
const char* Name(Category category);
const char* Name(Level level);

// The name of the export running on this thread ("Orvane_SetGamma"), or "a library thread" outside
// of any export (the acquisition and recording threads), so that a logged error says who recorded it.
const char* CurrentExport();

// Names the export running on this thread for the scope's lifetime; the export wrapper makes one per
// call. Nested scopes restore the outer name. Costs one thread-local store each way.
class ExportScope {
 public:
  explicit ExportScope(const char* exportName);
  ~ExportScope();
  ExportScope(const ExportScope&) = delete;
  ExportScope& operator=(const ExportScope&) = delete;

 private:
  const char* previous_;
};

}  // namespace orvane::log

#define ORVANE_LOG(category, level, ...)                                                          \
  do {                                                                                            \
    if (::orvane::log::Enabled(::orvane::log::Category::category, ::orvane::log::Level::level))   \
      ::orvane::log::Write(::orvane::log::Category::category, ::orvane::log::Level::level,        \
                           __VA_ARGS__);                                                          \
  } while (0)
