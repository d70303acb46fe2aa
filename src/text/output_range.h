// Text composed in fixed caller buffers: an output range that writers take
// and return advanced, copy primitives, and a number formatter. Nothing is
// allocated and nothing is NUL-terminated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna {

struct OutputRange {
  char* next;
  char* end;
  std::size_t room() const { return static_cast<std::size_t>(end - next); }
};

// Copies min(source length, room) bytes (overlap-safe) and returns the range
// advanced; a longer source is cut without error.
OutputRange copyInto(OutputRange out, const char* begin, const char* end);
OutputRange copyInto(OutputRange out, const char* text);  // NUL-terminated
// Stores one byte; DataOverflow when there is no room.
OutputRange putByte(OutputRange out, char byte);
// copyInto of table[index] without its NUL.
OutputRange copyTableString(OutputRange out, const char* const* table, std::size_t index);

// The digits of an unsigned 32-bit value in base 2..36 ("0"-"9", "a"-"z"),
// padded with "0" to at least `width` digits. Valid while the object lives.
class NumberText {
 public:
  NumberText(uint32_t value, unsigned base = 10, unsigned width = 0);
  const char* begin() const { return first_; }
  const char* end() const { return digits_ + sizeof digits_; }

 private:
  char digits_[64];
  const char* first_;
};

// A byte-by-byte transform from a source range into an output range; stops
// silently when either side runs out, advancing both.
class ByteTransform {
 public:
  virtual void apply(const char*& sourceBegin, const char* sourceEnd, OutputRange& out) const = 0;

 protected:
  ~ByteTransform() = default;
};

// "A"-"Z" to "a"-"z", every other byte unchanged; no locale.
class LowerCaseCopy : public ByteTransform {
 public:
  void apply(const char*& sourceBegin, const char* sourceEnd, OutputRange& out) const override;
};

void copyCaseMapped(const char*& sourceBegin, const char* sourceEnd, OutputRange& out);

}  // namespace vna
