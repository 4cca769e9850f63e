#include "platform/debug_output.h"

#include <windows.h>

#include <string>

namespace orvane::platform::detail {

// Only with a debugger attached: without one nobody reads the line, and the conversion would be
// wasted. Plain ASCII lines go through OutputDebugStringA as they are; others are converted to
// UTF-16 so that they read the same on every code page.
void SystemDebugOutput(const char* utf8Line) {
  if (!IsDebuggerPresent()) return;
  bool ascii = true;
  for (const char* c = utf8Line; *c != '\0' && ascii; ++c) ascii = static_cast<unsigned char>(*c) < 0x80;
  const int n = ascii ? 0 : MultiByteToWideChar(CP_UTF8, 0, utf8Line, -1, nullptr, 0);
  if (n <= 0) {
    OutputDebugStringA(utf8Line);
    return;
  }
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8Line, -1, wide.data(), n);
  OutputDebugStringW(wide.c_str());
}

}  // namespace orvane::platform::detail
