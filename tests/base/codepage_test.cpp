#include "base/codepage.h"

#include <gtest/gtest.h>

namespace floppyset {
namespace {

TEST(CodePage, UpperHalfBecomesUtf8AndUndefinedBytesTheReplacement) {
  struct Case {
    int page;
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {437, "A\x81\xE1\xC9\xFF", "A\u00FC\u00DF\u2554\u00A0"},  // ü ß ╔ no-break space
      {850, "\xD5\x9B", "\u0131\u00F8"},
      {852, "\xA5", "\u0105"},
      {866, "\x80\xEF", "\u0410\u044F"},
      {1250, "\x8A\xB9", "\u0160\u0105"},
      {1251, "\xC0\x80", "\u0410\u0402"},
      {1252, "Caf\xE9 \x80\x81", "Caf\u00E9 \u20AC\uFFFD"},  // 0x81 is undefined in 1252
      {999, "ok\xE9", "ok\uFFFD"},                           // an unknown page
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodePageToUtf8(c.bytes, c.page), c.utf8) << c.page;
    EXPECT_EQ(IsKnownCodePage(c.page), c.page != 999);
  }
}

TEST(CodePage, MixedTextsKeepTheirUtf8AndReadTheRestInThePage) {
  // A 1252 product name beside a UTF-8 path; cut, overlong and surrogate sequences are bytes.
  EXPECT_EQ(MixedToUtf8("Caf\xE9 in /home/j\xC3\xB6rg/", 1252), "Caf\u00E9 in /home/j\u00F6rg/");
  EXPECT_EQ(MixedToUtf8("\xC3", 1252), "\u00C3");
  EXPECT_EQ(MixedToUtf8("\xC0\xAF", 1252), "\u00C0\u00AF");
  EXPECT_EQ(MixedToUtf8("\xED\xA0\x80", 1252), "\u00ED\u00A0\u20AC");
  EXPECT_EQ(MixedToUtf8("\xF0\x9F\x92\xBE", 1252), "\U0001F4BE");
}

}  // namespace
}  // namespace floppyset
