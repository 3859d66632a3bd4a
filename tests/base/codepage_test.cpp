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

}  // namespace
}  // namespace floppyset
