#include "platform/text.h"

namespace orvane::platform {

bool WideToAnsi(const ORVANE_WCHAR* text, char* out, size_t outBytes) {
  if (text == nullptr || out == nullptr || outBytes == 0) return false;
  // A character the code page cannot represent would be replaced by the default character and name
  // another file: that is a failed conversion, not a lossy success.
  BOOL usedDefault = FALSE;
  int written =
      WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, out, static_cast<int>(outBytes), nullptr, &usedDefault);
  if (written == 0 || usedDefault) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool AnsiToWide(const char* text, ORVANE_WCHAR* out, size_t outChars) {
  if (text == nullptr || out == nullptr || outChars == 0) return false;
  int written = MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, text, -1, out, static_cast<int>(outChars));
  if (written == 0) {
    out[0] = 0;
    return false;
  }
  return true;
}

}  // namespace orvane::platform
