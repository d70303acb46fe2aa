#include "archive/checks/adler32.h"

#include <zlib.h>

namespace vna::adler {

uint32_t updateReference(uint32_t adler, const uint8_t* begin, const uint8_t* end) {
  // zlib takes lengths as uInt; feed it in pieces that always fit.
  while (begin != end) {
    std::size_t n = static_cast<std::size_t>(end - begin);
    if (n > 0x40000000u) n = 0x40000000u;
    adler = static_cast<uint32_t>(::adler32(adler, begin, static_cast<uInt>(n)));
    begin += n;
  }
  return adler;
}

uint32_t update(uint32_t adler, const uint8_t* begin, const uint8_t* end) {
  static const bool vector = vectorAvailable();
  // Below a few blocks the vector set-up is not worth it.
  if (vector && end - begin >= 64) return updateVector(adler, begin, end);
  return updateReference(adler, begin, end);
}

}  // namespace vna::adler
