// The check value's fast path: carry-less-multiply folding, where the
// processor has it. Chosen at run time; the portable table form is the
// fallback and the reference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna::crc {

// True when this processor can run foldingUpdate.
bool foldingAvailable();

// The CRC register after feeding [begin, end) to register `value`, for
// ranges of at least 64 bytes; `tableUpdate` finishes the last bytes.
uint32_t foldingUpdate(uint32_t value, const uint8_t* begin, const uint8_t* end,
                       uint32_t (*tableUpdate)(uint32_t, const uint8_t*, const uint8_t*));

// x^n modulo the polynomial 0x04C11DB7, for the folding constants.
uint32_t powerModPolynomial(unsigned n);

}  // namespace vna::crc
