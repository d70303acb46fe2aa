// The check value's vector form: carry-less-multiply folding, where the
// processor has it. Chosen at run time, as Adler-32's (adler32.h); the
// slicing table form is the fallback, the bytewise form the reference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna::crc {

// True when this processor has the vector form.
bool vectorAvailable();
// The CRC register after feeding [begin, end) to register `value`; only
// where vectorAvailable(), for ranges of at least 64 bytes.
uint32_t updateVector(uint32_t value, const uint8_t* begin, const uint8_t* end);

// x^n modulo the polynomial 0x04C11DB7, for the folding constants.
uint32_t powerModPolynomial(unsigned n);

}  // namespace vna::crc
