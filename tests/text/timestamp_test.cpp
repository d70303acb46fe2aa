#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "base/errors.h"
#include "text/timestamp.h"

namespace vna {
namespace {

std::string written(const DateTime& value) {
  char buffer[255];
  OutputRange out = writeTimestamp(OutputRange{buffer, buffer + sizeof buffer}, value);
  return std::string(buffer, out.next);
}

DateTime parsed(const std::string& text) { return parseTimestamp(text.data(), text.data() + text.size()); }

enum class Outcome { Ok, Parsing, Stack, Date, TimeOfDay, Weekday, Zone };

Outcome outcome(const std::string& text) {
  try {
    parsed(text);
    return Outcome::Ok;
  } catch (const ParsingFailure&) {
    return Outcome::Parsing;
  } catch (const StackFull&) {
    return Outcome::Stack;
  } catch (const NoSuchDate&) {
    return Outcome::Date;
  } catch (const NoSuchTimeOfDay&) {
    return Outcome::TimeOfDay;
  } catch (const WrongDayOfWeek&) {
    return Outcome::Weekday;
  } catch (const NoTimeZone&) {
    return Outcome::Zone;
  }
}

TEST(Timestamp, WrittenFormRoundTrips) {
  DateTime v = DateTime::fromMicroseconds(1078495629250000LL, 0);
  EXPECT_EQ(written(v), "Fri, 05 Mar 2004 14:07:09 +0000");
  DateTime back = parsed("Fri, 05 Mar 2004 14:07:09 +0000");
  EXPECT_EQ(back.toMicroseconds(), 1078495629000000LL);
  EXPECT_EQ(written(back), "Fri, 05 Mar 2004 14:07:09 +0000");
}

TEST(Timestamp, WriterPadsAndSignsTheZone) {
  DateTime v = DateTime::fromMicroseconds(0, -18000);
  EXPECT_EQ(written(v), "Wed, 31 Dec 1969 19:00:00 -0500");
  DateTime far = DateTime::fromMicroseconds(0, 0);
  far.date.year = 10000;
  far.date.month = 1;
  far.date.day = 1;
  EXPECT_EQ(written(far), "Sat, 01 Jan 10000 00:00:00 +0000");
  EXPECT_EQ(outcome(written(far)), Outcome::Parsing);
  DateTime early = DateTime::fromMicroseconds(0, 0);
  early.date.year = 5;
  EXPECT_EQ(written(early).substr(12, 4), "0005");
}

TEST(Timestamp, WriterRaisesOnlyWhenASeparatorFindsNoRoom) {
  DateTime v = DateTime::fromMicroseconds(0, 0);
  char buffer[31];
  EXPECT_NO_THROW(writeTimestamp(OutputRange{buffer, buffer + 31}, v));
  EXPECT_THROW(writeTimestamp(OutputRange{buffer, buffer + 26}, v), DataOverflow);
  OutputRange cut = writeTimestamp(OutputRange{buffer, buffer + 28}, v);
  EXPECT_EQ(std::string(buffer, cut.next), "Thu, 01 Jan 1970 00:00:00 +0") << "last field cut short";
}

TEST(Timestamp, AcceptedFormsAndTheirValues) {
  DateTime a = parsed("5 MAR 2004 14:07 gmt");
  EXPECT_EQ(a.date.day, 5);
  EXPECT_EQ(a.date.month, 3);
  EXPECT_EQ(a.time.second, 0);
  DateTime b = parsed("05 Mar 04 14:07:00 EST");
  EXPECT_EQ(b.date.year, 1904u);
  EXPECT_EQ(b.zone, -18000);
  EXPECT_EQ(b.toMicroseconds(), -2077246380000000LL);
  EXPECT_EQ(parsed("05 Mar 2004 14:07 +0530").zone, 19800);
  EXPECT_EQ(parsed("05 Mar 2004 14:07 -0800").zone, -28800);
  EXPECT_EQ(parsed("05 Mar 2004 14:07 -0000").zone, 0);
  EXPECT_EQ(parsed("05 Mar 2004 14:07 +0099").zone, 99 * 60);
  EXPECT_EQ(parsed("05Mar2004 14:07:09+0000").time.second, 9);
  EXPECT_EQ(parsed("01 Jan 999 00:00 UT").date.year, 999u);
  EXPECT_EQ(parsed("\t29 Feb 2000 00:00 +0000\r\n").date.day, 29);
  EXPECT_EQ(parsed("Sun, 29 Feb 2004 00:00 PDT").zone, -25200);
}

TEST(Timestamp, RejectionsNameTheirCause) {
  struct Case {
    const char* text;
    Outcome expected;
  } cases[] = {
      {"Thu, 05 Mar 2004 14:07:09 +0000", Outcome::Weekday},
      {"Fri 05 Mar 2004 14:07:09 +0000", Outcome::Parsing},
      {"29 Feb 1900 00:00 +0000", Outcome::Date},
      {"31 Apr 2004 00:00 +0000", Outcome::Date},
      {"29 Feb 2000 00:00 +0000", Outcome::Ok},
      {"05 Mar 2004 24:00 +0000", Outcome::TimeOfDay},
      {"05 Mar 2004 23:59:60 +0000", Outcome::TimeOfDay},
      {"05 Mar 2004 14:07:09", Outcome::Zone},
      {"05 Mar 2004 14:07:09 Z", Outcome::Zone},
      {"05 Mar 2004 14:07:09 UTC", Outcome::Parsing},
      {"05 Mar 2004 14:07 +05:30", Outcome::Parsing},
      {"05 Mar 2004 14:07:09 +0000 x", Outcome::Parsing},
      {"1 2 3 4 5 6 7", Outcome::Stack},
      {"", Outcome::Parsing},
      {"   ", Outcome::Parsing},
      {"05 June 2004 14:07 +0000", Outcome::Parsing},
      {"05 Jan 12004 14:07 +0000", Outcome::Parsing},
      {"05 Jan 2004 14.07 +0000", Outcome::Parsing},
      {"05 Jan 2004 1:07 +0000", Outcome::Parsing},
      {"05 Jan 2004 14:07 +000", Outcome::Parsing},
      {"05 Jan 2004 14:07 j", Outcome::Parsing},
      {"05 Jan 2004 14:07 \x0b+0000", Outcome::Parsing},
      {"05 Jan 2004 14:07 \xc3\xa9", Outcome::Parsing},
      {"005 Jan 2004 14:07 +0000", Outcome::Parsing},
      {"Fri, Fri, 05 Mar 2004 14:07 +0000", Outcome::Parsing},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.text), c.expected) << '"' << c.text << '"';
}

TEST(Timestamp, KeywordTableIsSortedAndClosed) {
  for (int i = 1; i < 54; ++i) {
    EXPECT_LT(std::strcmp(timestamp::kKeywords[i - 1].word, timestamp::kKeywords[i].word), 0) << i;
  }
  EXPECT_EQ(timestamp::kKeywords[54].word, nullptr);
  EXPECT_EQ(timestamp::kKeywords[54].symbol, kEndSymbol);
}

// Where the C library can represent the second, its strftime is the oracle.
bool libraryText(int64_t seconds, std::string& text) {
  time_t t = static_cast<time_t>(seconds);
  if (static_cast<int64_t>(t) != seconds) return false;
  struct tm* broken = std::gmtime(&t);
  if (broken == nullptr) return false;
  char buffer[64];
  std::size_t n = std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S +0000", broken);
  if (n == 0) return false;
  text.assign(buffer, n);
  return true;
}

void checkAgainstLibrary(int64_t seconds, int& compared) {
  std::string expected;
  if (!libraryText(seconds, expected)) return;
  DateTime value = DateTime::fromMicroseconds(seconds * 1000000, 0);
  ASSERT_EQ(written(value), expected) << seconds;
  ASSERT_EQ(parsed(expected).toMicroseconds(), seconds * 1000000) << expected;
  ++compared;
}

TEST(Timestamp, AgreesWithTheCLibraryOnEveryDayOfFourCenturies) {
  int compared = 0;
  const int64_t start = -2208988800LL;  // 1900-01-01
  for (int64_t day = 0; day < 146097; ++day) {
    checkAgainstLibrary(start + day * 86400 + (day * 7919) % 86400, compared);
    if (HasFatalFailure()) return;
  }
  // Some C libraries only know 1970 to 2038; that is still 24,000 days.
  EXPECT_GT(compared, 20000) << "the library represented too few of the days";
}

TEST(Timestamp, AgreesWithTheCLibraryOnRandomTimesOfYears1000To9999) {
  std::mt19937_64 random(20261208);
  const int64_t first = -30610224000LL;   // 1000-01-01
  const int64_t last = 253402300799LL;    // 9999-12-31 23:59:59
  std::uniform_int_distribution<int64_t> pick(first, last);
  int compared = 0;
  for (int i = 0; i < 200000; ++i) {
    checkAgainstLibrary(pick(random), compared);
    if (HasFatalFailure()) return;
  }
  // Some C libraries stop at 1970 or 3000; the others must have been checked.
  RecordProperty("compared", compared);
  EXPECT_GT(compared, 500);
}

TEST(Timestamp, FuzzedTextsAreRejectedCleanlyOrParseToValidTimes) {
  std::mt19937 random(7);
  const std::string seeds[] = {"Fri, 05 Mar 2004 14:07:09 +0000", "5 MAR 2004 14:07 gmt",
                               "05 Mar 04 14:07:00 EST", "1 2 3 4 5 6 7"};
  const char alphabet[] = "0123456789 ,:+-aAmMjJzZsStTuU\t\x80\xff.";
  int accepted = 0;
  for (int i = 0; i < 100000; ++i) {
    std::string text = seeds[random() % 4];
    int edits = 1 + random() % 4;
    for (int e = 0; e < edits; ++e) {
      std::size_t at = text.empty() ? 0 : random() % text.size();
      switch (random() % 3) {
        case 0: if (!text.empty()) text.erase(at, 1); break;
        case 1: text.insert(text.begin() + static_cast<long>(at), alphabet[random() % (sizeof alphabet - 1)]); break;
        default: if (!text.empty()) text[at] = static_cast<char>(random()); break;
      }
    }
    if (random() % 8 == 0) text = std::string(random() % 40, static_cast<char>(random()));
    // Parse a heap copy of exactly the text, so a read past it is caught by
    // the address sanitizer.
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    try {
      DateTime v = parseTimestamp(exact.get(), exact.get() + text.size());
      EXPECT_TRUE(v.date.isValid() && v.time.isValid()) << text;
      ++accepted;
    } catch (const ParsingFailure&) {
    } catch (const StackFull&) {
    } catch (const InvalidTime&) {
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace vna
