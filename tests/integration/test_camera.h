// Test programs that drive the SDK against one virtual camera include this header.
#pragma once

#include "test_environment.h"

// One virtual camera for the whole test program, chosen before the first handle exists (tests read
// it in an assertion so that the initialisation is not dropped).
inline const bool kOneVirtualCamera = SetTestVariable("ORVANE_SIM_CAMERAS", "1");
