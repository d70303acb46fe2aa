#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "archive/extract/fingerprint_set.h"

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
    set.insert(fingerprintOf(FileIdentity{7, static_cast<uint32_t>(i >> 3), static_cast<uint32_t>(i)}));
    if (i >= 16) {
      ASSERT_LE(set.capacity() * sizeof(uint64_t), 16 * set.size()) << i;
    }
  }
}

TEST(FingerprintSet, IdentitiesThatDifferAnywhereGetDifferentFingerprints) {
  const FileIdentity base{1, 2, 3};
  const FileIdentity others[] = {{0, 2, 3}, {1, 3, 3}, {1, 2, 4}, {3, 2, 1}, {1, 3, 2}};
  for (const FileIdentity& other : others) EXPECT_NE(fingerprintOf(base), fingerprintOf(other));
  EXPECT_EQ(fingerprintOf(base), fingerprintOf(FileIdentity{1, 2, 3}));
}

}  // namespace
}  // namespace vna
