#include <gtest/gtest.h>

#include "text/calendar.h"

namespace vna {
namespace {

CalendarDate date(uint32_t year, int32_t month, uint8_t day) {
  CalendarDate d;
  d.year = year;
  d.month = month;
  d.day = day;
  return d;
}

TEST(CalendarDate, DayNumbersAndWeekdays) {
  EXPECT_EQ(date(1970, 1, 1).dayNumber(), 719528);
  EXPECT_EQ(date(1, 1, 1).dayNumber(), 366);
  EXPECT_EQ(date(9999, 12, 31).dayNumber(), 3652424);
  EXPECT_EQ(date(9999, 12, 31).dayOfWeek(), 5);
  EXPECT_EQ(date(1970, 1, 1).dayOfWeek(), 4);
  CalendarDate d;
  d.setFromDayNumber(0);
  EXPECT_EQ(d.year, 0u);
  EXPECT_EQ(d.month, 1);
  EXPECT_EQ(d.day, 1);
  d.setFromDayNumber(366);
  EXPECT_EQ(d.year, 1u);
}

TEST(CalendarDate, DayNumberRoundTripsForEveryDayOfTenThousandYears) {
  CalendarDate d;
  for (uint32_t n = 0; n <= 3652424; ++n) {
    d.setFromDayNumber(n);
    ASSERT_TRUE(d.isValid()) << n;
    ASSERT_EQ(d.dayNumber(), static_cast<int64_t>(n)) << n;
  }
}

TEST(CalendarDate, Validity) {
  EXPECT_TRUE(date(2000, 2, 29).isValid());
  EXPECT_TRUE(date(0, 2, 29).isValid());
  EXPECT_FALSE(date(1900, 2, 29).isValid());
  EXPECT_FALSE(date(2004, 4, 31).isValid());
  EXPECT_FALSE(date(2004, 1, 0).isValid());
  EXPECT_FALSE(date(2004, 13, 1).isValid());
  EXPECT_FALSE(date(2004, 0, 1).isValid());
}

TEST(DateTime, FromMicroseconds) {
  struct Case {
    int64_t t;
    int32_t zone;
    uint32_t year;
    int32_t month;
    int day, hour, minute, second;
  } cases[] = {
      {0, 0, 1970, 1, 1, 0, 0, 0},
      {1078495629250000LL, 0, 2004, 3, 5, 14, 7, 9},
      {-1, 0, 1970, 1, 1, 0, 0, 0},
      {-1000000, 0, 1969, 12, 31, 23, 59, 59},
      {0, -18000, 1969, 12, 31, 19, 0, 0},
  };
  for (const Case& c : cases) {
    DateTime v = DateTime::fromMicroseconds(c.t, c.zone);
    EXPECT_EQ(v.date.year, c.year) << c.t;
    EXPECT_EQ(v.date.month, c.month) << c.t;
    EXPECT_EQ(v.date.day, c.day) << c.t;
    EXPECT_EQ(v.time.hour, c.hour) << c.t;
    EXPECT_EQ(v.time.minute, c.minute) << c.t;
    EXPECT_EQ(v.time.second, c.second) << c.t;
    EXPECT_EQ(v.zone, c.zone);
  }
  EXPECT_EQ(DateTime::fromMicroseconds(1078495629250000LL, 0).toMicroseconds(), 1078495629000000LL);
  EXPECT_EQ(DateTime::fromMicroseconds(0, -18000).toMicroseconds(), 0);
  EXPECT_EQ(DateTime::fromMicroseconds(0, 0).date.dayOfWeek(), 4);
}

TEST(DateTime, AddSecondsCrossesYears) {
  DateTime v = DateTime::fromMicroseconds(0, 0);
  v.date = date(2004, 12, 31);
  v.time.hour = 23;
  v.time.minute = 59;
  v.time.second = 59;
  v.addSeconds(1);
  EXPECT_EQ(v.date.year, 2005u);
  EXPECT_EQ(v.date.month, 1);
  EXPECT_EQ(v.date.day, 1);
  EXPECT_EQ(v.time.secondsOfDay(), 0u);
  v.addSeconds(-1);
  EXPECT_EQ(v.date.year, 2004u);
  EXPECT_EQ(v.date.day, 31);
  EXPECT_EQ(v.time.secondsOfDay(), 86399u);
}

}  // namespace
}  // namespace vna
