#include "text/calendar.h"

namespace vna {

namespace {

const unsigned kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const unsigned kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

int64_t firstDayOfYear(uint32_t year) {
  if (year == 0) return 0;
  int64_t y = year;
  return 365 * y + (y - 1) / 4 - (y - 1) / 100 + (y - 1) / 400 + 1;
}

int64_t unixEpochDayNumber() {
  static const int64_t kDay = [] {
    CalendarDate epoch;
    epoch.day = 1;
    epoch.month = 1;
    epoch.year = 1970;
    return epoch.dayNumber();
  }();
  return kDay;
}

}  // namespace

bool isLeapYear(uint32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned daysInMonth(int32_t month, bool leap) {
  if (month < 1 || month > 12) return 0;
  return kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

unsigned daysBeforeMonth(int32_t month, bool leap) {
  if (month < 1 || month > 12) return 0;
  return kDaysBeforeMonth[month - 1] + (month >= 3 && leap ? 1 : 0);
}

int32_t monthOfDayOfYear(uint32_t d, bool leap) {
  if (leap && d >= 59) --d;
  for (int i = 2; i <= 12; ++i) {
    if (kDaysBeforeMonth[i - 1] > d) return i - 1;
  }
  return 12;
}

int64_t CalendarDate::dayNumber() const {
  return firstDayOfYear(year) + daysBeforeMonth(month, isLeapYear(year)) + day - 1;
}

void CalendarDate::setFromDayNumber(uint32_t n) {
  uint32_t e = n > 0 ? n - 1 : 0;
  e = e - e / 146097;
  e = e + e / 36524;
  e = e - e / 1461;
  year = e / 365;
  uint32_t d = static_cast<uint32_t>(n - firstDayOfYear(year));
  setFromDayOfYear(d);
}

void CalendarDate::setFromDayOfYear(uint32_t d) {
  bool leap = isLeapYear(year);
  month = monthOfDayOfYear(d, leap);
  day = static_cast<uint8_t>(d - daysBeforeMonth(month, leap) + 1);
}

int CalendarDate::dayOfWeek() const { return static_cast<int>((dayNumber() + 6) % 7); }

void CalendarDate::addDays(int64_t k) { setFromDayNumber(static_cast<uint32_t>(dayNumber() + k)); }

bool CalendarDate::isValid() const {
  return month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(month, isLeapYear(year));
}

void TimeOfDay::addSeconds(uint32_t u) {
  uint32_t total = secondsOfDay() + u;
  second = static_cast<uint8_t>(total % 60);
  minute = static_cast<uint8_t>((total / 60) % 60);
  hour = static_cast<uint8_t>(total / 3600);
}

void TimeOfDay::subtractSeconds(uint32_t u) {
  uint32_t total = secondsOfDay() - u;
  second = static_cast<uint8_t>(total % 60);
  minute = static_cast<uint8_t>((total / 60) % 60);
  hour = static_cast<uint8_t>(total / 3600);
}

DateTime DateTime::fromMicroseconds(int64_t t, int32_t zone) {
  DateTime result;
  result.date.day = 1;
  result.date.month = 1;
  result.date.year = 1970;
  result.addSeconds(t / 1000000);
  result.addSeconds(static_cast<int64_t>(zone) - result.zone);
  result.zone = zone;
  return result;
}

void DateTime::addSeconds(int64_t s) {
  int64_t q = s / 86400;
  int64_t r = s % 86400;
  if (s < 0 && r != 0) {
    q -= 1;
    r += 86400;
  }
  date.addDays(q);
  if (time.secondsOfDay() + r < 86400) {
    time.addSeconds(static_cast<uint32_t>(r));
  } else {
    date.addDays(1);
    time.subtractSeconds(static_cast<uint32_t>(86400 - r));
  }
}

int64_t DateTime::toMicroseconds() const {
  return (date.dayNumber() - unixEpochDayNumber()) * 86400000000LL +
         static_cast<int64_t>(time.secondsOfDay()) * 1000000 -
         static_cast<int64_t>(zone) * 1000000;
}

}  // namespace vna
