#include "text/timestamp.h"

#include <cstring>

#include "base/errors.h"

namespace vna {

namespace {

const char* const kWeekdayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

OutputRange putNumber(OutputRange out, uint32_t value, unsigned width) {
  NumberText digits(value, 10, width);
  return copyInto(out, digits.begin(), digits.end());
}

enum Action {
  kNone = 0,
  kAdd1900,
  kSetDate,
  kCheckWeekday,
  kSetTimeWithSeconds,
  kSetTimeWithoutSeconds,
  kSetZoneEast,
  kSetZoneWest,
  kSetZoneFromWord,
};

}  // namespace

OutputRange writeTimestamp(OutputRange out, const DateTime& value) {
  const CalendarDate& date = value.date;
  int weekday = date.dayOfWeek();
  out = copyTableString(out, kWeekdayNames, static_cast<std::size_t>(weekday));
  out = putByte(out, ',');
  out = putByte(out, ' ');
  out = putNumber(out, date.day, 2);
  out = putByte(out, ' ');
  int month = date.month >= 1 && date.month <= 12 ? date.month : 0;
  out = copyTableString(out, kMonthNames, static_cast<std::size_t>(month));
  out = putByte(out, ' ');
  out = putNumber(out, date.year, 4);
  out = putByte(out, ' ');
  out = putNumber(out, value.time.hour, 2);
  out = putByte(out, ':');
  out = putNumber(out, value.time.minute, 2);
  out = putByte(out, ':');
  out = putNumber(out, value.time.second, 2);
  out = putByte(out, ' ');
  out = putByte(out, value.zone < 0 ? '-' : '+');
  uint32_t magnitude = value.zone < 0 ? 0u - static_cast<uint32_t>(value.zone)
                                      : static_cast<uint32_t>(value.zone);
  out = putNumber(out, magnitude / 3600, 2);
  out = putNumber(out, (magnitude / 60) % 60, 2);
  return out;
}

namespace timestamp {

const Keyword kKeywords[55] = {
    {"a", 7, 3600},       {"apr", 1, 4},       {"aug", 1, 8},       {"b", 7, 7200},
    {"c", 7, 10800},      {"cdt", 6, -18000},  {"cst", 6, -21600},  {"d", 7, 14400},
    {"dec", 1, 12},       {"e", 7, 18000},     {"edt", 6, -14400},  {"est", 6, -18000},
    {"f", 7, 21600},      {"feb", 1, 2},       {"fri", 0, 5},       {"g", 7, 25200},
    {"gmt", 6, 0},        {"h", 7, 28800},     {"i", 7, 32400},     {"jan", 1, 1},
    {"jul", 1, 7},        {"jun", 1, 6},       {"k", 7, 36000},     {"l", 7, 39600},
    {"m", 7, 43200},      {"mar", 1, 3},       {"may", 1, 5},       {"mdt", 6, -21600},
    {"mon", 0, 1},        {"mst", 6, -25200},  {"n", 7, -3600},     {"nov", 1, 11},
    {"o", 7, -7200},      {"oct", 1, 10},      {"p", 7, -10800},    {"pdt", 6, -25200},
    {"pst", 6, -28800},   {"q", 7, -14400},    {"r", 7, -18000},    {"s", 7, -21600},
    {"sat", 0, 6},        {"sep", 1, 9},       {"sun", 0, 0},       {"t", 7, -25200},
    {"thu", 0, 4},        {"tue", 0, 2},       {"u", 7, -28800},    {"ut", 6, 0},
    {"v", 7, -32400},     {"w", 7, -36000},    {"wed", 0, 3},       {"x", 7, -39600},
    {"y", 7, -43200},     {"z", 7, 0},         {nullptr, kEndSymbol, 0},
};

const Grammar& grammar() {
  static const Grammar kGrammar{
      {kMonthYear, {kMonth, kDigits4}, kNone},
      {kMonthYear, {kMonth, kDigits3}, kNone},
      {kMonthYear, {kMonth, kDigits2}, kAdd1900},
      {kDayMonthYear, {kDigits1, kMonthYear}, kSetDate},
      {kDayMonthYear, {kDigits2, kMonthYear}, kSetDate},
      {kDate, {kWeekday, kComma, kDayMonthYear}, kCheckWeekday},
      {kDate, {kDayMonthYear}, kNone},
      {kHoursMinutes, {kDigits2, kColon, kDigits2}, kNone},
      {kTimeOfDay, {kHoursMinutes, kColon, kDigits2}, kSetTimeWithSeconds},
      {kTimeOfDay, {kHoursMinutes}, kSetTimeWithoutSeconds},
      {kEndSymbol, {kDate, kTimeOfDay, kPlus, kDigits4}, kSetZoneEast},
      {kEndSymbol, {kDate, kTimeOfDay, kMinus, kDigits4}, kSetZoneWest},
      {kEndSymbol, {kDate, kTimeOfDay, kZoneWord}, kSetZoneFromWord},
      {kEndSymbol, {kDate, kTimeOfDay, kMilitaryZone}, kNone},
      {kEndSymbol, {kDate, kTimeOfDay}, kNone},
  };
  return kGrammar;
}

void TimestampBuilder::reset() {
  values_.clear();
  zoneFound_ = false;
  weekdayMatches_ = true;
}

void TimestampBuilder::perform(int action) {
  switch (action) {
    case kAdd1900:
      values_.at(0) += 1900;
      break;
    case kSetDate:
      value_.date.year = static_cast<uint32_t>(values_.at(0));
      value_.date.month = values_.at(1);
      value_.date.day = static_cast<uint8_t>(values_.at(2));
      values_.pop(3);
      break;
    case kCheckWeekday:
      weekdayMatches_ = value_.date.dayOfWeek() == values_.at(0);
      values_.pop(1);
      break;
    case kSetTimeWithSeconds:
      value_.time.second = static_cast<uint8_t>(values_.at(0));
      value_.time.minute = static_cast<uint8_t>(values_.at(1));
      value_.time.hour = static_cast<uint8_t>(values_.at(2));
      values_.pop(3);
      break;
    case kSetTimeWithoutSeconds:
      value_.time.minute = static_cast<uint8_t>(values_.at(0));
      value_.time.hour = static_cast<uint8_t>(values_.at(1));
      value_.time.second = 0;
      values_.pop(2);
      break;
    case kSetZoneEast:
    case kSetZoneWest: {
      int32_t v = values_.at(0);
      int32_t offset = (v % 100) * 60 + (v / 100) * 3600;
      value_.zone = action == kSetZoneEast ? offset : -offset;
      zoneFound_ = true;
      values_.pop(1);
      break;
    }
    case kSetZoneFromWord:
      value_.zone = values_.at(0);
      zoneFound_ = true;
      values_.pop(1);
      break;
    default:
      break;
  }
}

DateTime TimestampBuilder::result() const {
  if (!value_.date.isValid()) throw NoSuchDate();
  if (!value_.time.isValid()) throw NoSuchTimeOfDay();
  if (!weekdayMatches_) throw WrongDayOfWeek();
  if (!zoneFound_) throw NoTimeZone();
  return value_;
}

namespace {

enum class ByteClass { Space, Letter, Digit, Other };

ByteClass classOf(char c) {
  if (c == '\t' || c == '\n' || c == '\r' || c == ' ') return ByteClass::Space;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return ByteClass::Letter;
  if (c >= '0' && c <= '9') return ByteClass::Digit;
  return ByteClass::Other;
}

const Keyword* findKeyword(const char* word, std::size_t length) {
  std::size_t low = 0;
  std::size_t high = 54;
  while (low < high) {
    std::size_t middle = (low + high) / 2;
    const char* candidate = kKeywords[middle].word;
    std::size_t candidateLength = std::strlen(candidate);
    int order = std::memcmp(candidate, word, length < candidateLength ? length : candidateLength);
    if (order == 0) order = candidateLength < length ? -1 : (candidateLength > length ? 1 : 0);
    if (order == 0) return &kKeywords[middle];
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return nullptr;
}

}  // namespace

void TimestampLexer::emit(int symbol, const int32_t* value) {
  parser_.shift(symbol);
  if (value != nullptr) builder_.pushValue(*value);
  parser_.push();
}

void TimestampLexer::feed(const char* begin, const char* end) {
  const char* p = begin;
  while (p != end) {
    ByteClass kind = classOf(*p);
    const char* tokenEnd = p + 1;
    if (kind == ByteClass::Letter || kind == ByteClass::Digit || kind == ByteClass::Space) {
      while (tokenEnd != end && classOf(*tokenEnd) == kind) ++tokenEnd;
    }
    std::size_t length = static_cast<std::size_t>(tokenEnd - p);
    switch (kind) {
      case ByteClass::Space:
        break;
      case ByteClass::Digit: {
        if (length > 4) throw ParsingFailure();
        int32_t value = 0;
        for (const char* d = p; d != tokenEnd; ++d) value = value * 10 + (*d - '0');
        emit(kDigits1 + static_cast<int>(length) - 1, &value);
        break;
      }
      case ByteClass::Letter: {
        char word[4];
        OutputRange out{word, word + sizeof word};
        const char* source = p;
        copyCaseMapped(source, tokenEnd, out);
        if (length >= 4) throw ParsingFailure();
        const Keyword* keyword = findKeyword(word, length);
        if (keyword == nullptr) throw ParsingFailure();
        emit(keyword->symbol, &keyword->value);
        break;
      }
      case ByteClass::Other:
        switch (*p) {
          case ',': emit(kComma, nullptr); break;
          case ':': emit(kColon, nullptr); break;
          case '+': emit(kPlus, nullptr); break;
          case '-': emit(kMinus, nullptr); break;
          default: throw ParsingFailure();
        }
        break;
    }
    p = tokenEnd;
  }
  parser_.endOfInput();
}

}  // namespace timestamp

DateTime parseTimestamp(const char* begin, const char* end) {
  timestamp::TimestampBuilder builder;
  GrammarParser parser(timestamp::grammar(), builder);
  parser.reset();
  timestamp::TimestampLexer lexer(parser, builder);
  lexer.feed(begin, end);
  return builder.result();
}

}  // namespace vna
