#include "text/output_range.h"

#include <cstring>

#include "base/errors.h"

namespace vna {

namespace {

struct LowerCaseTable {
  unsigned char map[256];
  LowerCaseTable() {
    for (int i = 0; i < 256; ++i) map[i] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c) map[c] = static_cast<unsigned char>(c - 'A' + 'a');
  }
};

const LowerCaseTable kLowerCase;

}  // namespace

OutputRange copyInto(OutputRange out, const char* begin, const char* end) {
  std::size_t count = static_cast<std::size_t>(end - begin);
  if (count > out.room()) count = out.room();
  // memmove copies backward exactly when the source starts before an
  // overlapping destination.
  if (count > 0) std::memmove(out.next, begin, count);
  out.next += count;
  return out;
}

OutputRange copyInto(OutputRange out, const char* text) {
  return copyInto(out, text, text + std::strlen(text));
}

OutputRange putByte(OutputRange out, char byte) {
  if (out.next == out.end) throw DataOverflow();
  *out.next++ = byte;
  return out;
}

OutputRange copyTableString(OutputRange out, const char* const* table, std::size_t index) {
  return copyInto(out, table[index]);
}

NumberText::NumberText(uint32_t value, unsigned base, unsigned width) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  if (base < 2 || base > 36) base = 10;
  char* position = digits_ + sizeof digits_;
  do {
    *--position = kDigits[value % base];
    value /= base;
  } while (value != 0);
  if (width > sizeof digits_) width = sizeof digits_;
  while (static_cast<unsigned>(digits_ + sizeof digits_ - position) < width) *--position = '0';
  first_ = position;
}

void LowerCaseCopy::apply(const char*& sourceBegin, const char* sourceEnd,
                          OutputRange& out) const {
  while (sourceBegin != sourceEnd && out.next != out.end) {
    *out.next++ = static_cast<char>(kLowerCase.map[static_cast<unsigned char>(*sourceBegin++)]);
  }
}

void copyCaseMapped(const char*& sourceBegin, const char* sourceEnd, OutputRange& out) {
  LowerCaseCopy().apply(sourceBegin, sourceEnd, out);
}

}  // namespace vna
