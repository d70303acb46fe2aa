#include "archive/extract/fingerprint_set.h"


namespace vna {

namespace {

uint64_t mix(uint64_t h) {
  // The finaliser of SplitMix64: every input bit reaches every output bit.
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBull;
  h ^= h >> 31;
  return h;
}

}  // namespace

uint64_t fingerprintOf(const FileIdentity& identity) {
  // The file system picks identities, not the archive: no name in an
  // archive can steer where they fall in the set.
  uint64_t index = (static_cast<uint64_t>(identity.indexHigh) << 32) | identity.indexLow;
  return mix(mix(index) ^ identity.volume);
}

std::size_t FingerprintSet::slotOf(uint64_t fingerprint) const {
  // Multiply-shift of the high half onto [0, capacity), so the capacity need
  // not be a power of two; 32 x 32 bits fit the product on every target.
  return static_cast<std::size_t>(((fingerprint >> 32) * static_cast<uint64_t>(slots_.size())) >> 32);
}

bool FingerprintSet::contains(uint64_t fingerprint) const {
  if (fingerprint == 0) return hasZero_;
  if (slots_.empty()) return false;
  for (std::size_t i = slotOf(fingerprint);; i = i + 1 == slots_.size() ? 0 : i + 1) {
    if (slots_[i] == fingerprint) return true;
    if (slots_[i] == 0) return false;
  }
}

bool FingerprintSet::insert(uint64_t fingerprint) {
  if (fingerprint == 0) {
    if (hasZero_) return false;
    hasZero_ = true;
    ++size_;
    return true;
  }
  if ((size_ + 1) * 5 > slots_.size() * 4) grow();
  for (std::size_t i = slotOf(fingerprint);; i = i + 1 == slots_.size() ? 0 : i + 1) {
    if (slots_[i] == fingerprint) return false;
    if (slots_[i] == 0) {
      slots_[i] = fingerprint;
      ++size_;
      return true;
    }
  }
}

void FingerprintSet::grow() {
  // By half, not double: just after growing, the set holds 8 bytes per slot
  // at a load of 8/15, under 16 bytes per member.
  std::size_t capacity = slots_.size() < 16 ? 16 : slots_.size() + slots_.size() / 2;
  std::vector<uint64_t> old;
  old.swap(slots_);
  slots_.assign(capacity, 0);
  for (uint64_t f : old) {
    if (f == 0) continue;
    std::size_t i = slotOf(f);
    while (slots_[i] != 0) i = i + 1 == slots_.size() ? 0 : i + 1;
    slots_[i] = f;
  }
}

}  // namespace vna
