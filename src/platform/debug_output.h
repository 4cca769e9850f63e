// The one diagnostic channel of the library: a debug string for an attached debugger
// (OutputDebugStringA on Windows). On Linux the line goes to a sink that tests may install and is
// otherwise dropped; nothing is written to stdout or stderr.
#pragma once

#include <functional>
#include <string>

namespace orvane::platform {

// Sends `utf8Line` to the debugger (Windows) or to the installed sink (Linux; dropped without one).
void DebugOutput(const char* utf8Line);

// Installs a sink that receives every debug line (also on Windows, in addition to the debugger);
// an empty function removes it. Thread-safe.
void SetDebugSink(std::function<void(const std::string&)> sink);

}  // namespace orvane::platform
