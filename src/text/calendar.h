// Proleptic Gregorian calendar from 1 January of year 0 (a leap year), time
// of day in whole seconds, and a zone offset in seconds east of UTC.
#pragma once

#include <cstdint>

namespace vna {

bool isLeapYear(uint32_t year);
// Months 1..12; 0 for anything else.
unsigned daysInMonth(int32_t month, bool leap);
unsigned daysBeforeMonth(int32_t month, bool leap);
// Month 1..12 of a 0-based day of the year.
int32_t monthOfDayOfYear(uint32_t dayOfYear, bool leap);

struct CalendarDate {
  uint8_t day = 1;
  int32_t month = 1;
  uint32_t year = 0;

  // Days since 0000-01-01 (1970-01-01 is 719528).
  int64_t dayNumber() const;
  void setFromDayNumber(uint32_t n);
  void setFromDayOfYear(uint32_t dayOfYear);
  // 0 = Sunday.
  int dayOfWeek() const;
  void addDays(int64_t k);
  bool isValid() const;
};

struct TimeOfDay {
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;

  bool isValid() const { return hour <= 23 && minute <= 59 && second <= 59; }
  uint32_t secondsOfDay() const { return hour * 3600u + minute * 60u + second; }
  // The caller keeps the result within one day.
  void addSeconds(uint32_t u);
  void subtractSeconds(uint32_t u);
};

struct DateTime {
  CalendarDate date;
  TimeOfDay time;
  int32_t zone = 0;  // seconds east of UTC; the fields are local to it

  // Local time of `t` (microseconds since 1970 UTC) in `zone`; fractions of
  // a second are dropped (toward zero).
  static DateTime fromMicroseconds(int64_t t, int32_t zone);
  void addSeconds(int64_t s);
  int64_t toMicroseconds() const;
};

}  // namespace vna
