// Win32-compatible time records and the pure conversions between them.
#pragma once

#include <cstdint>
#include <optional>

namespace floppyset {

// 100-nanosecond intervals since 1601-01-01 00:00:00 UTC (Win32 FILETIME).
struct FileTime {
  uint64_t value = 0;
  friend bool operator==(FileTime, FileTime) = default;
};

// Win32 SYSTEMTIME: year, month, day of week, day, hour, minute, second, milliseconds.
struct CalendarTime {
  uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
  friend bool operator==(const CalendarTime&, const CalendarTime&) = default;
};

// FileTimeToSystemTime; nullopt for values Win32 rejects (at or above 2^63).
std::optional<CalendarTime> FileTimeToCalendar(FileTime time);
// SystemTimeToFileTime; nullopt for fields out of range (year 1601..30827).
std::optional<FileTime> CalendarToFileTime(const CalendarTime& time);
// DosDateTimeToFileTime without a time-zone step; nullopt when the date is invalid
// (day or month 0, month above 12, hours above 23, minutes above 59, seconds above 59).
std::optional<CalendarTime> DosDateTimeToCalendar(uint16_t dos_date, uint16_t dos_time);
// Seconds since 1970-01-01 UTC as FILETIME.
FileTime UnixSecondsToFileTime(int64_t seconds);
int64_t FileTimeToUnixSeconds(FileTime time);

}  // namespace floppyset
