// Sets a variable of the test program's environment, which the library reads when it first looks
// for cameras.
#pragma once

#include <stdlib.h>

inline bool SetTestVariable(const char* name, const char* value) {
#ifdef _WIN32
  return _putenv_s(name, value) == 0;
#else
  return setenv(name, value, 1) == 0;
#endif
}
