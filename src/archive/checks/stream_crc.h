// The running check value of the archive body: CRC-32/BZIP2 (polynomial
// 0x04C11DB7, initial 0xFFFFFFFF, not reflected, result complemented).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna {

class StreamCrc {
 public:
  void init() { value_ = 0xFFFFFFFFu; }
  void update(const uint8_t* begin, const uint8_t* end);
  // Complements the running value and returns it.
  uint32_t final() {
    value_ = ~value_;
    return value_;
  }
  uint32_t value() const { return value_; }

  // The one-lookup-per-byte form, kept as the reference for the fast ones.
  static uint32_t updateBytewise(uint32_t value, const uint8_t* begin, const uint8_t* end);
  // The slicing-by-8 form that runs where folding is not available; public
  // so that it is checked against the bytewise form on every machine, also
  // on those that would pick folding.
  static uint32_t updateSliced(uint32_t value, const uint8_t* begin, const uint8_t* end);

 private:
  uint32_t value_ = 0xFFFFFFFFu;
};

}  // namespace vna
