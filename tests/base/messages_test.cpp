#include "ui/messages.h"

#include <gtest/gtest.h>

namespace floppyset {
namespace {

TEST(FormatSize, UnitsOf1024WithTwoDecimalsUnlessExact) {
  EXPECT_EQ(FormatSize(0), "0 B");
  EXPECT_EQ(FormatSize(1023), "1023 B");
  EXPECT_EQ(FormatSize(1024), "1 KB");
  EXPECT_EQ(FormatSize(1536), "1.50 KB");
  EXPECT_EQ(FormatSize(1474560), "1.41 MB");
  EXPECT_EQ(FormatSize(7208960), "6.88 MB");
  EXPECT_EQ(FormatSize(1048575), "1024.00 KB");
  EXPECT_EQ(FormatSize(1048576), "1 MB");
  EXPECT_EQ(FormatSize(int64_t{1} << 30), "1 GB");
}

TEST(Messages, MissingIdIsEmptyAndFormattingIsCutAtTheBufferLimit) {
  EXPECT_EQ(LoadMessage(501), "");
  EXPECT_EQ(FormatMessageId(kMsgBadDiskNumber, 4), "Incorrect disk number: 4");
  const std::string long_text(20000, 'x');
  EXPECT_EQ(FormatText("%s", long_text.c_str()).size(), kTextLimit - 1);
}

}  // namespace
}  // namespace floppyset
