#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using orvane::platform::AnsiToWide;
using orvane::platform::WideToAnsi;

const ORVANE_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const ORVANE_WCHAR*>(s.c_str()); }
std::u16string U(const ORVANE_WCHAR* s) { return reinterpret_cast<const char16_t*>(s); }

TEST(WideToAnsi, RefusesLoneSurrogatesAndShortBuffers) {
  char narrow[16] = "unchanged";
  const std::u16string cases[] = {std::u16string{u'a', char16_t(0xD800)}, std::u16string{char16_t(0xDC00), u'b'},
                                  std::u16string{char16_t(0xD83D), u'x'}};
  for (const auto& text : cases) {
    EXPECT_FALSE(WideToAnsi(W(text), narrow, sizeof(narrow)));
    EXPECT_STREQ(narrow, "");
  }
  // Never a write past the buffer in either direction.
  EXPECT_FALSE(WideToAnsi(W(u"123456789abcdef0"), narrow, 16));  // 16 characters need 17 bytes
  EXPECT_TRUE(WideToAnsi(W(u"123456789abcdef"), narrow, 16));
  EXPECT_STREQ(narrow, "123456789abcdef");
  EXPECT_FALSE(WideToAnsi(nullptr, narrow, 16));
  EXPECT_FALSE(WideToAnsi(W(u"x"), nullptr, 16));
  EXPECT_FALSE(WideToAnsi(W(u"x"), narrow, 0));
  ORVANE_WCHAR wide[4] = {9, 9, 9, 9};
  EXPECT_FALSE(AnsiToWide("abcd", wide, 4));
  EXPECT_TRUE(AnsiToWide("abc", wide, 4));
  EXPECT_EQ(U(wide), u"abc");
}

#ifndef _WIN32
TEST(AnsiToWide, Utf8OnLinuxRoundTripsAndRefusesMalformedInput) {
  char narrow[32];
  ASSERT_TRUE(WideToAnsi(W(u"\u00e9\u65e5\U0001F600"), narrow, sizeof(narrow)));
  EXPECT_STREQ(narrow, "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80");
  ORVANE_WCHAR wide[8];
  ASSERT_TRUE(AnsiToWide(narrow, wide, 8));
  EXPECT_EQ(U(wide), u"\u00e9\u65e5\U0001F600");
  for (const char* bad : {"\xc3", "\x80", "\xe6\x97", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
    EXPECT_FALSE(AnsiToWide(bad, wide, 8)) << bad;
  }
}
#endif

}  // namespace
