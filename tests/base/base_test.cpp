// Name safety, calendar conversions, code pages and size formatting: the helpers every module
// trusts.
#include <gtest/gtest.h>

#include "base/codepage.h"
#include "base/path.h"
#include "base/time.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

TEST(Path, NamesFromPackagesNeverLeaveTheirDirectory) {
  for (const char* good : {"image00.tii", "README.", "A B", "CONFIG.SYS", "COM10", "NULL"}) {
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  }
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "C:x", "/etc", "\\x", "a\nb", "CON",
                          "nul.txt", "Aux", "PRN.", "com1", "LPT9.DOC", "con .txt"}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
  EXPECT_TRUE(IsSafeRelativePath("DIR\\SUB\\FILE.TXT"));
  for (const char* bad :
       {"\\abs", "C:\\x", "a\\..\\b", "..", "a\\\\b", "a\\", "a/b", "", "A\\CON.TXT"}) {
    EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
  }
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ(JoinPath("d", "f"), "d" + sep + "f");
  EXPECT_EQ(JoinPath("d" + sep, "f"), "d" + sep + "f");
}

TEST(Time, ConversionsKeepWeekdayAndRejectImpossibleFields) {
  const auto file_time = CalendarToFileTime({2007, 9, 0, 27, 16, 56, 42, 94});  // a Thursday
  ASSERT_TRUE(file_time);
  EXPECT_EQ(FileTimeToCalendar(*file_time), (CalendarTime{2007, 9, 4, 27, 16, 56, 42, 94}));
  EXPECT_EQ(FileTimeToUnixSeconds(*file_time), 1190912202);
  EXPECT_FALSE(FileTimeToCalendar(FileTime{uint64_t{1} << 63}));  // above the Win32 limit
  EXPECT_EQ(DosDateTimeToCalendar(0x2E21, 0x8000), (CalendarTime{2003, 1, 3, 1, 16, 0, 0, 0}));
  EXPECT_FALSE(DosDateTimeToCalendar(0, 0));            // day and month 0
  EXPECT_FALSE(DosDateTimeToCalendar(0x2E5E, 0));       // 2003-02-30
  EXPECT_FALSE(DosDateTimeToCalendar(0x2E21, 0xC000));  // hour 24
}

TEST(Messages, SizesInUnitsOf1024AndTextsCutAtTheBufferLimit) {
  const std::pair<int64_t, const char*> sizes[] = {
      {1023, "1023 B"},     {1024, "1 KB"},          {1536, "1.50 KB"},
      {7208960, "6.88 MB"}, {1048575, "1024.00 KB"}, {int64_t{1} << 30, "1 GB"}};
  for (const auto& [size, text] : sizes) EXPECT_EQ(FormatSize(size), text);
  EXPECT_EQ(FormatText("%s", std::string(20000, 'x').c_str()).size(), kTextLimit - 1);
}

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
