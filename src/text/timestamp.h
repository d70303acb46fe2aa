// The timestamp text of archive entries: RFC 822 date-time with RFC 1123
// four-digit years. Written in one fixed UTC shape, parsed from a wider
// family of forms.
#pragma once

#include "text/calendar.h"
#include "text/grammar_parser.h"
#include "text/output_range.h"

namespace vna {

// Appends e.g. "Fri, 05 Mar 2004 14:07:09 +0000". DataOverflow when a
// separator or the zone sign finds no room; a range ending inside a field
// cuts it short without error.
OutputRange writeTimestamp(OutputRange out, const DateTime& value);

// Parses exactly [begin, end). Raises ParsingFailure (outside the grammar),
// StackFull (too many pending values), NoSuchDate, NoSuchTimeOfDay,
// WrongDayOfWeek or NoTimeZone. Allocates nothing.
DateTime parseTimestamp(const char* begin, const char* end);

namespace timestamp {

enum Symbol {
  kWeekday = 0,
  kMonth = 1,
  kDigits1 = 2,
  kDigits2 = 3,
  kDigits3 = 4,
  kDigits4 = 5,
  kZoneWord = 6,
  kMilitaryZone = 7,
  kComma = 8,
  kColon = 9,
  kPlus = 10,
  kMinus = 11,
  kHoursMinutes = 12,
  kTimeOfDay = 13,
  kMonthYear = 14,
  kDayMonthYear = 15,
  kDate = 16,
};

struct Keyword {
  const char* word;
  int symbol;
  int32_t value;
};

// The 54 words, sorted by byte value, closed by an entry without a word.
extern const Keyword kKeywords[55];
const Grammar& grammar();

// The semantic actions and their value stack.
class TimestampBuilder : public GrammarActions {
 public:
  TimestampBuilder() : values_(storage_, storage_ + 6) {
    value_.date.day = 0;
    value_.date.month = 0;
  }
  void reset() override;
  void perform(int action) override;
  void pushValue(int32_t value) { values_.push(value); }
  // The checks of a complete parse, then the value.
  DateTime result() const;

 private:
  int32_t storage_[6];
  FixedStack<int32_t> values_;
  DateTime value_;
  bool zoneFound_ = false;
  bool weekdayMatches_ = true;
};

// Splits text into symbols and feeds them to the parser and builder.
class TimestampLexer {
 public:
  TimestampLexer(GrammarParser& parser, TimestampBuilder& builder)
      : parser_(parser), builder_(builder) {}
  void feed(const char* begin, const char* end);

 private:
  void emit(int symbol, const int32_t* value);
  GrammarParser& parser_;
  TimestampBuilder& builder_;
};

}  // namespace timestamp
}  // namespace vna
