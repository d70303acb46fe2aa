#include "archive/checks/stream_crc.h"

#include "archive/checks/crc_folding.h"

namespace vna {

namespace {

// tables[0] is the classic byte table; tables[k][i] advances tables[k-1][i]
// by one more zero byte, which lets eight bytes be folded per step.
struct CrcTables {
  uint32_t t[8][256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[0][i] = r;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    }
  }
};

const CrcTables& tables() {
  static const CrcTables kTables;
  return kTables;
}

}  // namespace

uint32_t StreamCrc::updateBytewise(uint32_t value, const uint8_t* begin, const uint8_t* end) {
  const auto& t = tables().t[0];
  for (const uint8_t* p = begin; p != end; ++p) value = (value << 8) ^ t[(value >> 24) ^ *p];
  return value;
}

uint32_t StreamCrc::updateSliced(uint32_t v, const uint8_t* p, const uint8_t* end) {
  const CrcTables& tab = tables();
  // Slicing by eight: the state is folded with four bytes, and four more
  // bytes ride along, each through the table that shifts it into place.
  while (end - p >= 8) {
    uint32_t a = v ^ ((static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                      (static_cast<uint32_t>(p[2]) << 8) | p[3]);
    v = tab.t[7][a >> 24] ^ tab.t[6][(a >> 16) & 0xFF] ^ tab.t[5][(a >> 8) & 0xFF] ^
        tab.t[4][a & 0xFF] ^ tab.t[3][p[4]] ^ tab.t[2][p[5]] ^ tab.t[1][p[6]] ^ tab.t[0][p[7]];
    p += 8;
  }
  return updateBytewise(v, p, end);
}

void StreamCrc::update(const uint8_t* begin, const uint8_t* end) {
  static const bool vector = crc::vectorAvailable();
  // Below a few blocks the vector set-up is not worth it.
  if (vector && end - begin >= 64) {
    value_ = crc::updateVector(value_, begin, end);
  } else {
    value_ = updateSliced(value_, begin, end);
  }
}

uint32_t crc::powerModPolynomial(unsigned n) {
  uint32_t r = 1;  // x^0
  for (unsigned i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  return r;
}

}  // namespace vna
