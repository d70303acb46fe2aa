// Heap-held byte text for entry names: one block holding the bytes and a
// terminating NUL. No code page is applied.
#pragma once

#include <cstdint>

namespace vna {

class Stringy {
 public:
  Stringy() = default;
  // Null gives the empty string without a block.
  explicit Stringy(const char* text);
  // Length 0 gives empty; 4294967295 raises StringyLengthTooLong.
  Stringy(const char* bytes, uint32_t length);
  Stringy(const Stringy& other);
  Stringy& operator=(const Stringy& other);
  ~Stringy();

  uint32_t length() const { return size_ == 0 ? 0 : size_ - 1; }
  bool empty() const { return length() == 0; }
  // The bytes with their NUL; "" when there is no block.
  const char* text() const { return data_ != nullptr ? data_ : ""; }

  void append(const char* text);
  // -1, 0 or 1; empty is less than non-empty, a prefix less than the longer.
  int compare(const Stringy& other) const;
  // Without a block, true only for a null text.
  bool contains(const char* text) const;
  Stringy middle(int64_t start, int64_t n) const;
  Stringy from(int64_t start) const;
  // Drops leading TAB, LF, CR and space.
  void trimLeft();
  // Replaces every `from` byte in place; returns how many.
  uint32_t replace(char from, char to);

 private:
  char* data_ = nullptr;
  uint32_t size_ = 0;
};

}  // namespace vna
