// Processors without carry-less multiplication: the table form is used.
#include "archive/checks/crc_folding.h"
#include "archive/checks/stream_crc.h"

namespace vna::crc {

bool vectorAvailable() { return false; }

uint32_t updateVector(uint32_t value, const uint8_t* begin, const uint8_t* end) {
  return StreamCrc::updateSliced(value, begin, end);
}

}  // namespace vna::crc
