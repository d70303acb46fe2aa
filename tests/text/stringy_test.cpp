#include <gtest/gtest.h>

#include "base/errors.h"
#include "text/stringy.h"

namespace vna {
namespace {

TEST(Stringy, ThreeEmptyFormsBehaveAlike) {
  Stringy noBlock;
  Stringy nulOnly("");
  Stringy assigned("x");
  Stringy oneByte("");
  assigned = oneByte;
  for (const Stringy* s : {&noBlock, &nulOnly, &assigned}) {
    EXPECT_EQ(s->length(), 0u);
    EXPECT_EQ(s->compare(noBlock), 0);
    EXPECT_EQ(s->compare(Stringy("a")), -1);
    EXPECT_EQ(Stringy("a").compare(*s), 1);
  }
}

TEST(Stringy, PartsAreClampedToTheText) {
  Stringy s("abcdef");
  EXPECT_STREQ(s.middle(2, 10).text(), "cdef");
  EXPECT_TRUE(s.middle(7, 1).empty());
  EXPECT_STREQ(s.middle(-1, 2).text(), "ab");
  EXPECT_STREQ(Stringy("abc").middle(0, 5).text(), "abc");
  EXPECT_TRUE(Stringy("abc").middle(0, -1).empty());
  EXPECT_STREQ(s.from(4).text(), "ef");
  EXPECT_STREQ(s.text(), "abcdef") << "the source is unchanged";
}

TEST(Stringy, TrimReplaceAppendContains) {
  Stringy s(" \t\r\nx ");
  s.trimLeft();
  EXPECT_STREQ(s.text(), "x ");
  Stringy blanks(" \t ");
  blanks.trimLeft();
  EXPECT_TRUE(blanks.empty());
  Stringy colons("a:b:c");
  EXPECT_EQ(colons.replace(':', '_'), 2u);
  EXPECT_STREQ(colons.text(), "a_b_c");
  Stringy empty;
  empty.append("");
  EXPECT_TRUE(empty.empty());
  empty.append("b");
  EXPECT_STREQ(empty.text(), "b");
  empty.append("cd");
  EXPECT_STREQ(empty.text(), "bcd");
  EXPECT_TRUE(Stringy("abc").contains("bc"));
  EXPECT_TRUE(Stringy("abc").contains(""));
  EXPECT_FALSE(Stringy("abc").contains("cb"));
  EXPECT_FALSE(Stringy().contains(""));
  EXPECT_TRUE(Stringy().contains(nullptr));
  EXPECT_EQ(Stringy("abc").compare(Stringy("abc")), 0);
  EXPECT_EQ(Stringy("ab").compare(Stringy("abc")), -1);
  EXPECT_EQ(Stringy("\xff").compare(Stringy("a")), 1) << "bytes compare unsigned";
}

TEST(Stringy, CopiesAreDeep) {
  Stringy a("one");
  Stringy b(a);
  b.replace('o', 'O');
  EXPECT_STREQ(a.text(), "one");
  EXPECT_STREQ(b.text(), "One");
  Stringy& alias = a;
  a = alias;
  EXPECT_STREQ(a.text(), "one");
  EXPECT_THROW(Stringy("x", 0xFFFFFFFFu), StringyLengthTooLong);
}

}  // namespace
}  // namespace vna
