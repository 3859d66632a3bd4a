#include "base/time.h"

namespace floppyset {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool IsLeap(unsigned y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<CalendarTime> FileTimeToCalendar(FileTime time) {
  if (time.value >= (uint64_t{1} << 63)) return std::nullopt;
  const uint64_t total_seconds = time.value / kTicksPerSecond;
  const int64_t days_since_1601 = static_cast<int64_t>(total_seconds / 86400);
  const uint64_t second_of_day = total_seconds % 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days_since_1601 + DaysFromCivil(1601, 1, 1), year, month, day);
  CalendarTime out;
  out.year = static_cast<uint16_t>(year);
  out.month = static_cast<uint16_t>(month);
  out.day = static_cast<uint16_t>(day);
  out.day_of_week = static_cast<uint16_t>((days_since_1601 + 1) % 7);  // 1601-01-01 was a Monday
  out.hour = static_cast<uint16_t>(second_of_day / 3600);
  out.minute = static_cast<uint16_t>(second_of_day / 60 % 60);
  out.second = static_cast<uint16_t>(second_of_day % 60);
  out.milliseconds = static_cast<uint16_t>(time.value % kTicksPerSecond / 10'000);
  return out;
}

std::optional<FileTime> CalendarToFileTime(const CalendarTime& t) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.milliseconds > 999) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(1601, 1, 1);
  const uint64_t seconds =
      static_cast<uint64_t>(days) * 86400 + t.hour * 3600u + t.minute * 60u + t.second;
  return FileTime{seconds * kTicksPerSecond + t.milliseconds * 10'000ull};
}

std::optional<CalendarTime> DosDateTimeToCalendar(uint16_t dos_date, uint16_t dos_time) {
  CalendarTime t;
  t.year = static_cast<uint16_t>(1980 + (dos_date >> 9));
  t.month = static_cast<uint16_t>((dos_date >> 5) & 0x0F);
  t.day = static_cast<uint16_t>(dos_date & 0x1F);
  t.hour = static_cast<uint16_t>(dos_time >> 11);
  t.minute = static_cast<uint16_t>((dos_time >> 5) & 0x3F);
  t.second = static_cast<uint16_t>((dos_time & 0x1F) * 2);
  const auto file_time = CalendarToFileTime(t);
  if (!file_time) return std::nullopt;
  return FileTimeToCalendar(*file_time);  // fills in the day of the week
}

FileTime UnixSecondsToFileTime(int64_t seconds) {
  return FileTime{static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond};
}

int64_t FileTimeToUnixSeconds(FileTime time) {
  return static_cast<int64_t>(time.value / kTicksPerSecond) - kSecondsFrom1601To1970;
}

}  // namespace floppyset
