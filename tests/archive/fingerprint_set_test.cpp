#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "archive/fingerprint_set.h"

namespace vna {
namespace {

TEST(FingerprintSet, AgreesWithAnOrderedSetThroughEveryGrowth) {
  FingerprintSet set;
  std::set<uint64_t> oracle;
  uint64_t x = 88172645463325252ull;
  for (int i = 0; i < 200000; ++i) {
    // xorshift64, with small values and 0 mixed in to hit the edges.
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    uint64_t value = i % 7 == 0 ? x % 1000 : x;
    bool fresh = oracle.insert(value).second;
    ASSERT_EQ(set.insert(value), fresh) << i;
    if (i % 1000 == 0) {
      ASSERT_EQ(set.size(), oracle.size());
      ASSERT_TRUE(set.contains(value));
      ASSERT_EQ(set.contains(value ^ 0x5555), oracle.count(value ^ 0x5555) == 1);
    }
  }
  for (uint64_t v : oracle) ASSERT_TRUE(set.contains(v));
}

TEST(FingerprintSet, HoldsAtMostSixteenBytesPerMember) {
  FingerprintSet set;
  for (uint64_t i = 1; i <= 100000; ++i) {
    set.insert(fingerprintOf(reinterpret_cast<const char*>(&i),
                             reinterpret_cast<const char*>(&i) + sizeof i, false));
    if (i >= 16) {
      ASSERT_LE(set.capacity() * sizeof(uint64_t), 16 * set.size()) << i;
    }
  }
}

TEST(FingerprintSet, FingerprintFoldsLetterCaseOnlyWhenAsked) {
  const std::string a = "C:\\Out\\Read Me.txt";
  const std::string b = "c:\\OUT\\read me.TXT";
  auto of = [](const std::string& s, bool fold) {
    return fingerprintOf(s.data(), s.data() + s.size(), fold);
  };
  EXPECT_EQ(of(a, true), of(b, true));
  EXPECT_NE(of(a, false), of(b, false));
  // Bytes beyond ASCII letters are never folded.
  EXPECT_NE(of("\xE4", true), of("\xC4", true));
  EXPECT_NE(of("a/b", false), of("a\\b", false));
}

}  // namespace
}  // namespace vna
