// Thread priorities and the process's identity.
#pragma once

namespace orvane::platform {

// Raises the calling thread to the highest (time-critical) priority the system grants. Best effort:
// where the process may not raise priorities the thread keeps its priority and false is returned.
bool SetCurrentThreadTimeCritical();

// The calling process's id (getpid, GetCurrentProcessId).
unsigned long CurrentProcessId();

}  // namespace orvane::platform
