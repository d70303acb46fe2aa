// Parsing a timestamp of any accepted form allocates nothing: this binary
// replaces the global operator new to count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "text/timestamp.h"

namespace {
long allocations = 0;
}

void* operator new(std::size_t size) {
  ++allocations;
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vna {
namespace {

TEST(TimestampAllocation, AcceptedFormsParseWithoutAllocating) {
  const std::string warm = "Fri, 05 Mar 2004 14:07:09 +0000";
  parseTimestamp(warm.data(), warm.data() + warm.size());  // builds the grammar once
  const char* forms[] = {
      "Fri, 05 Mar 2004 14:07:09 +0000", "5 MAR 2004 14:07 gmt", "05 Mar 04 14:07:00 EST",
      "05Mar2004 14:07:09+0000",         "01 Jan 999 00:00 -0130", "Sun, 29 Feb 2004 23:59:59 PDT",
  };
  for (const char* text : forms) {
    std::string copy = text;  // allocated before counting starts
    long before = allocations;
    DateTime v = parseTimestamp(copy.data(), copy.data() + copy.size());
    EXPECT_EQ(allocations, before) << text;
    EXPECT_TRUE(v.date.isValid());
  }
}

}  // namespace
}  // namespace vna
