// Processors without carry-less multiplication: the table form is used.
#include "archive/checks/crc_folding.h"

namespace vna::crc {

uint32_t powerModPolynomial(unsigned n) {
  uint32_t r = 1;
  for (unsigned i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  return r;
}

bool foldingAvailable() { return false; }

uint32_t foldingUpdate(uint32_t value, const uint8_t* begin, const uint8_t* end,
                       uint32_t (*tableUpdate)(uint32_t, const uint8_t*, const uint8_t*)) {
  return tableUpdate(value, begin, end);
}

}  // namespace vna::crc
