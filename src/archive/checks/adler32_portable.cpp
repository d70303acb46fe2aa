// Processors without SSSE3 support here: zlib's form is used.
#include "archive/checks/adler32.h"

namespace vna::adler {

bool vectorAvailable() { return false; }

uint32_t updateVector(uint32_t adler, const uint8_t* begin, const uint8_t* end) {
  return updateReference(adler, begin, end);
}

}  // namespace vna::adler
