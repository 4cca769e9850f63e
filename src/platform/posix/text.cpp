#include "platform/text.h"

#include <cstdint>

namespace orvane::platform {

namespace {

constexpr bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

bool WideToAnsi(const ORVANE_WCHAR* text, char* out, size_t outBytes) {
  if (text == nullptr || out == nullptr || outBytes == 0) return false;
  size_t n = 0;
  auto put = [&](uint32_t byte) {
    if (n + 1 >= outBytes) return false;  // keep room for the terminator
    out[n++] = static_cast<char>(byte);
    return true;
  };
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t u = static_cast<uint16_t>(text[i]);
    uint32_t cp = u;
    if (IsHighSurrogate(u)) {
      uint32_t next = static_cast<uint16_t>(text[i + 1]);
      if (!IsLowSurrogate(next)) {
        out[0] = '\0';
        return false;
      }
      cp = 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    } else if (IsLowSurrogate(u)) {
      out[0] = '\0';
      return false;
    }
    bool ok;
    if (cp < 0x80) {
      ok = put(cp);
    } else if (cp < 0x800) {
      ok = put(0xC0 | (cp >> 6)) && put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      ok = put(0xE0 | (cp >> 12)) && put(0x80 | ((cp >> 6) & 0x3F)) && put(0x80 | (cp & 0x3F));
    } else {
      ok = put(0xF0 | (cp >> 18)) && put(0x80 | ((cp >> 12) & 0x3F)) && put(0x80 | ((cp >> 6) & 0x3F)) &&
           put(0x80 | (cp & 0x3F));
    }
    if (!ok) {
      out[0] = '\0';
      return false;
    }
  }
  out[n] = '\0';
  return true;
}

bool AnsiToWide(const char* text, ORVANE_WCHAR* out, size_t outChars) {
  if (text == nullptr || out == nullptr || outChars == 0) return false;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t n = 0;
  auto fail = [&] {
    out[0] = 0;
    return false;
  };
  auto put = [&](uint32_t unit) {
    if (n + 1 >= outChars) return false;
    out[n++] = static_cast<ORVANE_WCHAR>(unit);
    return true;
  };
  size_t i = 0;
  while (s[i] != 0) {
    uint32_t b = s[i];
    uint32_t cp;
    int extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      return fail();
    }
    for (int k = 1; k <= extra; ++k) {
      uint32_t c = s[i + k];
      if ((c & 0xC0) != 0x80) return fail();  // also stops at the terminator
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail();
    i += static_cast<size_t>(extra) + 1;
    bool ok = cp < 0x10000 ? put(cp) : put(0xD800 + ((cp - 0x10000) >> 10)) && put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    if (!ok) return fail();
  }
  out[n] = 0;
  return true;
}

}  // namespace orvane::platform
