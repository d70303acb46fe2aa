// A set of 64-bit fingerprints of texts (here: the extraction targets of one
// run), in at most 16 bytes per member: open addressing with linear probing,
// grown by half when four fifths are taken. Two different texts share a
// fingerprint with a chance of about n / 2^64; the set can then only answer
// "seen" for a text it has not seen, never the reverse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vna {

// The fingerprint of the bytes [begin, end), ASCII letters folded to upper
// case when `ignoreCase`.
uint64_t fingerprintOf(const char* begin, const char* end, bool ignoreCase);

class FingerprintSet {
 public:
  // True when `fingerprint` was not in the set before.
  bool insert(uint64_t fingerprint);
  bool contains(uint64_t fingerprint) const;
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return slots_.size(); }

 private:
  std::size_t slotOf(uint64_t fingerprint) const;
  void grow();

  // 0 marks a free slot; the fingerprint 0 is kept aside.
  std::vector<uint64_t> slots_;
  std::size_t size_ = 0;
  bool hasZero_ = false;
};

}  // namespace vna
