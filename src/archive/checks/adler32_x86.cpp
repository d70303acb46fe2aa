// Adler-32 with SSSE3. Over a block of 32 bytes b0..b31 the sums move as
//   s1' = s1 + (b0 + ... + b31)
//   s2' = s2 + 32*s1 + (32*b0 + 31*b1 + ... + 1*b31)
// so a run of blocks needs, per lane, the byte sums (psadbw), the weighted
// sums (pmaddubsw, then pmaddwd to 32 bits) and the running total of the
// byte sums before each block, which is multiplied by 32 at the end. The
// run is cut where the 32-bit lanes could overflow, as zlib's NMAX cuts its
// scalar loop, and both sums are reduced modulo 65521 there.
#include <immintrin.h>

#include "archive/checks/adler32.h"

namespace vna::adler {

namespace {

constexpr uint32_t kBase = 65521;
constexpr std::size_t kBlock = 32;
// zlib's NMAX (5552) in whole blocks: the largest run whose sums fit in
// 32 bits before they are reduced.
constexpr std::size_t kBlocksPerRun = 5552 / kBlock;

// In 64 bits: near the end of a run of 0xFF bytes the four lanes of the
// weighted sum together pass 2^32, though each one alone does not.
__attribute__((target("ssse3"))) uint64_t sumLanes(__m128i v) {
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
  return static_cast<uint64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

}  // namespace

bool vectorAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

__attribute__((target("ssse3"))) uint32_t updateVector(uint32_t adler, const uint8_t* begin,
                                                       const uint8_t* end) {
  uint32_t s1 = adler & 0xFFFF;
  uint32_t s2 = adler >> 16;
  std::size_t blocks = static_cast<std::size_t>(end - begin) / kBlock;
  const uint8_t* p = begin;
  const __m128i weightsHigh =
      _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i weightsLow = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  while (blocks > 0) {
    std::size_t run = blocks < kBlocksPerRun ? blocks : kBlocksPerRun;
    blocks -= run;
    // s1 as it stood before the run counts 32 times per block.
    __m128i before = _mm_cvtsi32_si128(static_cast<int>(s1 * run));
    __m128i sums = zero;
    __m128i weighted = _mm_cvtsi32_si128(static_cast<int>(s2));
    for (std::size_t i = 0; i < run; ++i) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      before = _mm_add_epi32(before, sums);
      sums = _mm_add_epi32(sums, _mm_sad_epu8(a, zero));
      sums = _mm_add_epi32(sums, _mm_sad_epu8(b, zero));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_maddubs_epi16(a, weightsHigh), ones));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_maddubs_epi16(b, weightsLow), ones));
      p += kBlock;
    }
    weighted = _mm_add_epi32(weighted, _mm_slli_epi32(before, 5));
    s1 = static_cast<uint32_t>((s1 + sumLanes(sums)) % kBase);
    s2 = static_cast<uint32_t>(sumLanes(weighted) % kBase);
  }
  return updateReference((s2 << 16) | s1, p, end);
}

}  // namespace vna::adler
