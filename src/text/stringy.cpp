#include "text/stringy.h"

#include <cstring>

#include "base/errors.h"

namespace vna {

namespace {
bool isBlank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
}  // namespace

Stringy::Stringy(const char* text) {
  if (text == nullptr) return;
  std::size_t length = std::strlen(text);
  if (length >= 0xFFFFFFFFu) throw StringyLengthTooLong();
  size_ = static_cast<uint32_t>(length + 1);
  data_ = new char[size_];
  std::memcpy(data_, text, size_);
}

Stringy::Stringy(const char* bytes, uint32_t length) {
  if (length == 0) return;
  if (length == 0xFFFFFFFFu) throw StringyLengthTooLong();
  size_ = length + 1;
  data_ = new char[size_];
  std::memcpy(data_, bytes, length);
  data_[length] = '\0';
}

Stringy::Stringy(const Stringy& other) {
  if (other.data_ == nullptr) return;
  size_ = other.size_;
  data_ = new char[size_];
  std::memcpy(data_, other.data_, size_);
}

Stringy& Stringy::operator=(const Stringy& other) {
  if (this == &other) return *this;
  char* copy = nullptr;
  if (other.size_ >= 2 && other.data_ != nullptr) {
    copy = new char[other.size_];
    std::memcpy(copy, other.data_, other.size_);
  }
  delete[] data_;
  data_ = copy;
  size_ = copy != nullptr ? other.size_ : (other.size_ >= 2 ? 0 : other.size_);
  return *this;
}

Stringy::~Stringy() { delete[] data_; }

void Stringy::append(const char* text) {
  if (text == nullptr || *text == '\0') return;
  std::size_t extra = std::strlen(text);
  std::size_t total = static_cast<std::size_t>(length()) + extra;
  if (total >= 0xFFFFFFFFu) throw StringyLengthTooLong();
  char* block = new char[total + 1];
  if (length() > 0) std::memcpy(block, data_, length());
  std::memcpy(block + length(), text, extra + 1);
  delete[] data_;
  data_ = block;
  size_ = static_cast<uint32_t>(total + 1);
}

int Stringy::compare(const Stringy& other) const {
  uint32_t a = length();
  uint32_t b = other.length();
  if (a == 0 || b == 0) return a == b ? 0 : (a == 0 ? -1 : 1);
  int order = std::memcmp(data_, other.data_, a < b ? a : b);
  if (order != 0) return order < 0 ? -1 : 1;
  return a == b ? 0 : (a < b ? -1 : 1);
}


bool Stringy::contains(const char* text) const {
  if (data_ == nullptr) return text == nullptr;
  if (text == nullptr) return true;
  return std::strstr(data_, text) != nullptr;
}


Stringy Stringy::middle(int64_t start, int64_t n) const {
  if (start < 0) start = 0;
  if (n < 0) n = 0;
  int64_t total = length();
  if (data_ == nullptr || start >= total) return Stringy();
  if (start + n > total) n = total - start;
  return Stringy(data_ + start, static_cast<uint32_t>(n));
}

Stringy Stringy::from(int64_t start) const {
  if (start < 0) start = 0;
  return middle(start, static_cast<int64_t>(length()) - start);
}

void Stringy::trimLeft() {
  if (length() == 0 || !isBlank(data_[0])) return;
  uint32_t skip = 0;
  while (skip < length() && isBlank(data_[skip])) ++skip;
  *this = from(skip);
}

uint32_t Stringy::replace(char from, char to) {
  uint32_t count = 0;
  for (uint32_t i = 0; i < length(); ++i) {
    if (data_[i] == from) {
      data_[i] = to;
      ++count;
    }
  }
  return count;
}

}  // namespace vna
