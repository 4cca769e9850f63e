// Test programs that drive the SDK against one virtual camera include this header.
#pragma once

#include <stdlib.h>

// One virtual camera for the whole test program, chosen before the first handle exists (tests read
// it in an assertion so that the initialisation is not dropped).
inline const bool kOneVirtualCamera = [] {
#ifdef _WIN32
  _putenv_s("ORVANE_SIM_CAMERAS", "1");
#else
  setenv("ORVANE_SIM_CAMERAS", "1", 1);
#endif
  return true;
}();
