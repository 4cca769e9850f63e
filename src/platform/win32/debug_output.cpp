#include "platform/debug_output.h"

#include <windows.h>

#include <string>

namespace orvane::platform::detail {

// The line is kept as UTF-8; the debugger gets it as UTF-16 so that it reads the same on every code page.
void SystemDebugOutput(const char* utf8Line) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8Line, -1, nullptr, 0);
  if (n <= 0) {
    OutputDebugStringA(utf8Line);
    return;
  }
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8Line, -1, wide.data(), n);
  OutputDebugStringW(wide.c_str());
}

}  // namespace orvane::platform::detail
