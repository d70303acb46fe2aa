// Byte ranges and the abstract byte destination.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna {

// [begin, end) over writable bytes; reads that advance a range move begin.
struct ByteRange {
  uint8_t* begin;
  uint8_t* end;
  std::size_t length() const { return static_cast<std::size_t>(end - begin); }
};

struct ConstByteRange {
  const uint8_t* begin;
  const uint8_t* end;
  ConstByteRange(const uint8_t* b, const uint8_t* e) : begin(b), end(e) {}
  ConstByteRange(const ByteRange& r) : begin(r.begin), end(r.end) {}  // NOLINT: widening
  std::size_t length() const { return static_cast<std::size_t>(end - begin); }
};

class ByteSink {
 public:
  // Writes all of `range` or throws.
  virtual void write(ConstByteRange range) = 0;

 protected:
  ~ByteSink() = default;  // never destroyed through this interface
};

}  // namespace vna
