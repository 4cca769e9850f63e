#include "platform/debug_output.h"

#include <mutex>

namespace orvane::platform {

namespace detail {
void SystemDebugOutput(const char* utf8Line);
}

namespace {
std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
// Guarded by SinkMutex().
std::function<void(const std::string&)>& Sink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void DebugOutput(const char* utf8Line) {
  if (utf8Line == nullptr) return;
  detail::SystemDebugOutput(utf8Line);
  std::lock_guard<std::mutex> lock(SinkMutex());
  if (Sink()) Sink()(utf8Line);
}

void SetDebugSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

}  // namespace orvane::platform
