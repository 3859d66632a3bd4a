#include "base/path.h"

#include <gtest/gtest.h>

namespace floppyset {
namespace {

TEST(Path, PlainFileNamesStayInsideTheirDirectory) {
  for (const char* good :
       {"image00.tii", "README.", "A B", "x", "CONFIG.SYS", "COM10", "LPT0", "NULL"}) {
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  }
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "C:x", "/etc", "\\x", "a\nb", "CON",
                          "nul.txt", "Aux", "PRN.", "com1", "LPT9.DOC", "con .txt"}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
}

TEST(Path, RelativePathsRejectEveryEscape) {
  EXPECT_TRUE(IsSafeRelativePath("DIR\\SUB\\FILE.TXT"));
  EXPECT_TRUE(IsSafeRelativePath("FILE"));
  for (const char* bad :
       {"\\abs", "C:\\x", "a\\..\\b", "..", "a\\\\b", "a\\", "a/b", "", "A\\CON.TXT"}) {
    EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
  }
}

TEST(Path, JoinAddsOneSeparator) {
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ(JoinPath("d", "f"), "d" + sep + "f");
  EXPECT_EQ(JoinPath("d" + sep, "f"), "d" + sep + "f");
  EXPECT_EQ(WithTrailingSeparator(""), "");
}

}  // namespace
}  // namespace floppyset
