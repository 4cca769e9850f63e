// Thread priorities.
#pragma once

namespace orvane::platform {

// Raises the calling thread to the highest (time-critical) priority the system grants. Best effort:
// where the process may not raise priorities the thread keeps its priority and false is returned.
bool SetCurrentThreadTimeCritical();

}  // namespace orvane::platform
