#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "text/output_range.h"

namespace vna {
namespace {

std::string digits(uint32_t value, unsigned base, unsigned width) {
  NumberText text(value, base, width);
  return std::string(text.begin(), text.end());
}

TEST(NumberText, FormatsWithBaseAndMinimumWidth) {
  EXPECT_EQ(digits(7, 10, 2), "07");
  EXPECT_EQ(digits(2004, 10, 4), "2004");
  EXPECT_EQ(digits(999, 10, 4), "0999");
  EXPECT_EQ(digits(123456, 10, 4), "123456");
  EXPECT_EQ(digits(255, 16, 0), "ff");
  EXPECT_EQ(digits(0, 10, 0), "0");
  EXPECT_EQ(digits(4294967295u, 10, 0), "4294967295");
  EXPECT_EQ(digits(35, 36, 0), "z");
  EXPECT_EQ(digits(5, 2, 0), "101");
}

TEST(OutputRange, CopiesAreCutAtTheEndWithoutError) {
  char buffer[4];
  OutputRange out{buffer, buffer};
  out = copyInto(out, "abc");
  EXPECT_EQ(out.next, buffer) << "room 0 copies nothing";
  out = copyInto(OutputRange{buffer, buffer + 4}, "abcdef");
  EXPECT_EQ(out.next, buffer + 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

TEST(OutputRange, GuardedByteRaisesWhenFull) {
  char buffer[1];
  OutputRange out = putByte(OutputRange{buffer, buffer + 1}, 'x');
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_THROW(putByte(out, 'y'), DataOverflow);
}

TEST(OutputRange, OverlappingCopyKeepsTheSource) {
  char buffer[8] = {'a', 'b', 'c', 'd', 'e', 0, 0, 0};
  copyInto(OutputRange{buffer + 2, buffer + 8}, buffer, buffer + 5);
  EXPECT_EQ(std::string(buffer, 7), "ababcde");
}

TEST(CaseMappedCopy, StopsAtWhicheverSideEndsFirst) {
  char buffer[4];
  const char* gmt = "GMT";
  const char* source = gmt;
  OutputRange out{buffer, buffer + 4};
  copyCaseMapped(source, gmt + 3, out);
  EXPECT_EQ(std::string(buffer, 3), "gmt");
  EXPECT_EQ(out.room(), 1u);
  const char* june = "JUNE";
  source = june;
  out = OutputRange{buffer, buffer + 4};
  copyCaseMapped(source, june + 4, out);
  EXPECT_EQ(std::string(buffer, 4), "june");
  EXPECT_EQ(out.room(), 0u);
  EXPECT_EQ(source, june + 4);
  const char* longer = "JUNEX";
  source = longer;
  out = OutputRange{buffer, buffer + 4};
  copyCaseMapped(source, longer + 5, out);
  EXPECT_EQ(source, longer + 4) << "one byte left in the source";
}

}  // namespace
}  // namespace vna
