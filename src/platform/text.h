// Conversion between the SDK's wide strings (UTF-16) and 8-bit strings in the thread's ANSI code
// page (Windows) or UTF-8 (Linux).
#pragma once

#include <cstddef>

#include "OrvaneSdk.h"

namespace orvane::platform {

// Converts the terminated wide string `text` into `out` (outBytes bytes, terminator included).
// False when the text cannot be converted (on Linux: a lone surrogate) or does not fit; `out` is
// then left terminated-empty when outBytes > 0.
bool WideToAnsi(const ORVANE_WCHAR* text, char* out, size_t outBytes);

// Converts the terminated 8-bit string `text` into `out` (outChars wide characters, terminator
// included). False when the text is not valid in the code page (on Linux: malformed UTF-8) or does
// not fit.
bool AnsiToWide(const char* text, ORVANE_WCHAR* out, size_t outChars);

}  // namespace orvane::platform
