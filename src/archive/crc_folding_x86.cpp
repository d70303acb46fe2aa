// Carry-less-multiply folding for the non-reflected CRC-32 (polynomial
// 0x04C11DB7), after Intel's "Fast CRC Computation for Generic Polynomials
// Using PCLMULQDQ". Blocks are byte-reversed so that the first message byte
// is the most significant, which makes the integer order the polynomial
// order; a 128-bit lane H:L at distance D folds as H*(x^(D+64) mod P) ^
// L*(x^D mod P). The 128 bits left at the end are reduced with the table.
#include <immintrin.h>

#include "archive/crc_folding.h"

namespace vna::crc {

uint32_t powerModPolynomial(unsigned n) {
  uint32_t r = 1;  // x^0
  for (unsigned i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  return r;
}

namespace {

struct FoldConstants {
  long long k192 = powerModPolynomial(192);
  long long k128 = powerModPolynomial(128);
  long long k576 = powerModPolynomial(576);
  long long k512 = powerModPolynomial(512);
};

__attribute__((target("pclmul,ssse3"))) inline __m128i load(const uint8_t* p, __m128i reverse) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

}  // namespace

bool foldingAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
}

__attribute__((target("pclmul,ssse3"))) uint32_t foldingUpdate(
    uint32_t value, const uint8_t* p, const uint8_t* end,
    uint32_t (*tableUpdate)(uint32_t, const uint8_t*, const uint8_t*)) {
  static const FoldConstants constants;
  const __m128i by128 = _mm_set_epi64x(constants.k192, constants.k128);
  const __m128i by512 = _mm_set_epi64x(constants.k576, constants.k512);
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i x0 = load(p, reverse);
  __m128i x1 = load(p + 16, reverse);
  __m128i x2 = load(p + 32, reverse);
  __m128i x3 = load(p + 48, reverse);
  // The register enters as an XOR over the first four message bytes.
  x0 = _mm_xor_si128(x0, _mm_set_epi32(static_cast<int>(value), 0, 0, 0));
  p += 64;
  while (end - p >= 64) {
    x0 = fold(x0, by512, load(p, reverse));
    x1 = fold(x1, by512, load(p + 16, reverse));
    x2 = fold(x2, by512, load(p + 32, reverse));
    x3 = fold(x3, by512, load(p + 48, reverse));
    p += 64;
  }
  x1 = fold(x0, by128, x1);
  x2 = fold(x1, by128, x2);
  x3 = fold(x2, by128, x3);
  while (end - p >= 16) {
    x3 = fold(x3, by128, load(p, reverse));
    p += 16;
  }
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(x3, reverse));
  uint32_t reg = tableUpdate(0, rest, rest + 16);
  return tableUpdate(reg, p, end);
}

}  // namespace vna::crc
