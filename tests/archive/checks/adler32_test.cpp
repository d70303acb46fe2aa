#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/checks/adler32.h"
#include "../archive_fixtures.h"

namespace vna {
namespace {

uint32_t reference(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t to,
                   uint32_t start = adler::kInitial) {
  return adler::updateReference(start, bytes.data() + from, bytes.data() + to);
}

std::vector<uint8_t> randomVector(std::size_t n, uint32_t seed) {
  std::string s = test::randomBytes(n, seed);
  return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(Adler32, ReferenceHasTheKnownValues) {
  const std::string text = "Wikipedia";
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  EXPECT_EQ(adler::updateReference(adler::kInitial, p, p + text.size()), 0x11E60398u);
  EXPECT_EQ(adler::update(adler::kInitial, p, p), adler::kInitial);
}

TEST(Adler32, EveryFormAgreesOnEveryLengthAndAlignment) {
  std::vector<uint8_t> bytes = randomVector(1200, 3);
  for (std::size_t align = 0; align < 16; ++align) {
    for (std::size_t n = 0; align + n <= 1100; ++n) {
      const uint8_t* p = bytes.data() + align;
      uint32_t expected = reference(bytes, align, align + n, 0x12345678u % 65521u);
      ASSERT_EQ(adler::update(0x12345678u % 65521u, p, p + n), expected) << align << "+" << n;
      if (adler::vectorAvailable()) {
        ASSERT_EQ(adler::updateVector(0x12345678u % 65521u, p, p + n), expected) << align << "+" << n;
      }
    }
  }
}

TEST(Adler32, LargestSumsDoNotOverflow) {
  // All bytes 0xFF and both sums starting just below the modulus drive every
  // lane to its largest value before each reduction.
  const std::vector<uint8_t> ones(3 * 5552 + 77, 0xFF);
  const uint32_t start = (65520u << 16) | 65520u;
  for (std::size_t n : {5552u, 5553u, 5600u, 3u * 5552u + 77u}) {
    EXPECT_EQ(adler::update(start, ones.data(), ones.data() + n), reference(ones, 0, n, start)) << n;
  }
}

TEST(Adler32, SplittingTheInputChangesNothing) {
  std::vector<uint8_t> bytes = randomVector(300000, 4);
  uint32_t whole = reference(bytes, 0, bytes.size());
  uint32_t value = adler::kInitial;
  std::size_t at = 0;
  for (std::size_t step : {1u, 63u, 64u, 65u, 5551u, 70000u}) {
    std::size_t to = at + step < bytes.size() ? at + step : bytes.size();
    value = adler::update(value, bytes.data() + at, bytes.data() + to);
    at = to;
  }
  value = adler::update(value, bytes.data() + at, bytes.data() + bytes.size());
  EXPECT_EQ(value, whole);
}

}  // namespace
}  // namespace vna
