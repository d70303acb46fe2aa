// Carry-less-multiply folding for the non-reflected CRC-32 (polynomial
// 0x04C11DB7), after Intel's "Fast CRC Computation for Generic Polynomials
// Using PCLMULQDQ". Blocks are byte-reversed so that the first message byte
// is the most significant, which makes the integer order the polynomial
// order; a 128-bit lane H:L at distance D folds as H*(x^(D+64) mod P) ^
// L*(x^D mod P). The 128 bits left at the end are reduced with the table.
// Long ranges go four times as wide where AVX-512 has VPCLMULQDQ.
#include <immintrin.h>

#include "archive/checks/crc_folding.h"
#include "archive/checks/stream_crc.h"

namespace vna::crc {

namespace {

struct FoldConstants {
  long long k192 = powerModPolynomial(192);
  long long k128 = powerModPolynomial(128);
  long long k576 = powerModPolynomial(576);
  long long k512 = powerModPolynomial(512);
  long long k2112 = powerModPolynomial(2112);
  long long k2048 = powerModPolynomial(2048);
};

const FoldConstants& constants() {
  static const FoldConstants k;
  return k;
}

// The same folding four lanes at a time in 512-bit registers, where the
// processor has VPCLMULQDQ with AVX-512: 256 bytes per step. Leaves the
// state of the last 64 bytes in x[0..3] and returns where it stopped.
#define VNA_WIDE_TARGET __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,ssse3")))

VNA_WIDE_TARGET inline __m512i load4(const uint8_t* at, __m512i reverse4) {
  return _mm512_shuffle_epi8(_mm512_loadu_si512(at), reverse4);
}

VNA_WIDE_TARGET inline __m512i fold4(__m512i v, __m512i k, __m512i next) {
  // The two products and the next block in one three-way XOR.
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(v, k, 0x11), _mm512_clmulepi64_epi128(v, k, 0x00),
                                   next, 0x96);
}

VNA_WIDE_TARGET __attribute__((noinline)) const uint8_t* foldWide(uint32_t value, const uint8_t* p,
                                                                  const uint8_t* end, __m128i* x) {
  // Each 128-bit lane byte-reversed, and the constant pairs in every lane.
  const __m512i reverse4 = _mm512_set_epi64(0x0001020304050607, 0x08090a0b0c0d0e0f, 0x0001020304050607,
                                            0x08090a0b0c0d0e0f, 0x0001020304050607, 0x08090a0b0c0d0e0f,
                                            0x0001020304050607, 0x08090a0b0c0d0e0f);
  const long long a = constants().k2112, b = constants().k2048, c = constants().k576, d = constants().k512;
  const __m512i by2048 = _mm512_set_epi64(a, b, a, b, a, b, a, b);
  const __m512i by512 = _mm512_set_epi64(c, d, c, d, c, d, c, d);
  __m512i z0 = _mm512_xor_si512(load4(p, reverse4), _mm512_zextsi128_si512(_mm_set_epi32(static_cast<int>(value), 0, 0, 0)));
  __m512i z1 = load4(p + 64, reverse4);
  __m512i z2 = load4(p + 128, reverse4);
  __m512i z3 = load4(p + 192, reverse4);
  p += 256;
  while (end - p >= 256) {
    z0 = fold4(z0, by2048, load4(p, reverse4));
    z1 = fold4(z1, by2048, load4(p + 64, reverse4));
    z2 = fold4(z2, by2048, load4(p + 128, reverse4));
    z3 = fold4(z3, by2048, load4(p + 192, reverse4));
    p += 256;
  }
  z1 = fold4(z0, by512, z1);
  z2 = fold4(z1, by512, z2);
  z3 = fold4(z2, by512, z3);
  _mm512_storeu_si512(x, z3);  // lane i becomes x[i]
  return p;
}

bool wideAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("vpclmulqdq");
}

__attribute__((target("pclmul,ssse3"))) inline __m128i load(const uint8_t* p, __m128i reverse) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

}  // namespace

bool vectorAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
}

__attribute__((target("pclmul,ssse3"))) uint32_t updateVector(uint32_t value, const uint8_t* p,
                                                               const uint8_t* end) {
  static const bool wide = wideAvailable();
  const __m128i by128 = _mm_set_epi64x(constants().k192, constants().k128);
  const __m128i by512 = _mm_set_epi64x(constants().k576, constants().k512);
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i x0, x1, x2, x3;
  if (wide && end - p >= 512) {
    __m128i x[4];
    p = foldWide(value, p, end, x);
    x0 = x[0];
    x1 = x[1];
    x2 = x[2];
    x3 = x[3];
  } else {
    x0 = load(p, reverse);
    x1 = load(p + 16, reverse);
    x2 = load(p + 32, reverse);
    x3 = load(p + 48, reverse);
    // The register enters as an XOR over the first four message bytes.
    x0 = _mm_xor_si128(x0, _mm_set_epi32(static_cast<int>(value), 0, 0, 0));
    p += 64;
  }
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
  uint32_t reg = StreamCrc::updateSliced(0, rest, rest + 16);
  return StreamCrc::updateSliced(reg, p, end);
}

}  // namespace vna::crc
