#include "base/time.h"

#include <gtest/gtest.h>

namespace floppyset {
namespace {

TEST(Time, CalendarAndFileTimeRoundTripWithWeekday) {
  // 2007-09-27 16:56:42.094 was a Thursday (day of week 4).
  const CalendarTime t{2007, 9, 0, 27, 16, 56, 42, 94};
  const auto file_time = CalendarToFileTime(t);
  ASSERT_TRUE(file_time);
  const auto back = FileTimeToCalendar(*file_time);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->day_of_week, 4);
  EXPECT_EQ(back->year, 2007);
  EXPECT_EQ(back->second, 42);
  EXPECT_EQ(back->milliseconds, 94);
  EXPECT_EQ(FileTimeToUnixSeconds(*file_time), 1190912202);
}

TEST(Time, DosDateTimeDecodesAndRejectsInvalidFields) {
  const auto t = DosDateTimeToCalendar(0x2E21, 0x8000);  // 2003-01-01 16:00:00
  ASSERT_TRUE(t);
  EXPECT_EQ(*t, (CalendarTime{2003, 1, 3, 1, 16, 0, 0, 0}));
  EXPECT_FALSE(DosDateTimeToCalendar(0, 0));            // day and month 0
  EXPECT_FALSE(DosDateTimeToCalendar(0x2E5E, 0));       // 2003-02-30
  EXPECT_FALSE(DosDateTimeToCalendar(0x2E21, 0xC000));  // hour 24
}

TEST(Time, FileTimesAboveTheWin32LimitAreRejected) {
  EXPECT_FALSE(FileTimeToCalendar(FileTime{uint64_t{1} << 63}));
  EXPECT_TRUE(FileTimeToCalendar(FileTime{0}));
}

}  // namespace
}  // namespace floppyset
