// Adler-32, the check value that closes every zlib stream, computed here
// rather than inside zlib: zlib's own loop takes one byte at a time, and
// over a large archive it costs more than the archive's own check value.
// A vector form runs where the processor has SSSE3 (chosen at run time);
// zlib's adler32 is the fallback and the reference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna::adler {

constexpr uint32_t kInitial = 1;

// The Adler-32 after feeding [begin, end) to `adler`, as zlib's adler32.
uint32_t update(uint32_t adler, const uint8_t* begin, const uint8_t* end);

// The forms behind `update`, for tests that compare them.
uint32_t updateReference(uint32_t adler, const uint8_t* begin, const uint8_t* end);
bool vectorAvailable();
// Only where vectorAvailable() is true.
uint32_t updateVector(uint32_t adler, const uint8_t* begin, const uint8_t* end);

}  // namespace vna::adler
