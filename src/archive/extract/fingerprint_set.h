// A set of 64-bit fingerprints of file identities (here: the files one
// extraction run wrote), in at most 16 bytes per member: open addressing with
// linear probing, grown by half when four fifths are taken. Two different
// files share a fingerprint with a chance of about n / 2^64; the set can then
// only answer "seen" for a file it has not seen, never the reverse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/file_handle.h"

namespace vna {

// The fingerprint of one file's identity (volume and file index).
uint64_t fingerprintOf(const FileIdentity& identity);

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
