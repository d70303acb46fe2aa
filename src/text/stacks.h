// The two stacks of the grammar engine: a chunked stack whose first chunk
// lives inside its owner (ordinary use allocates nothing), and a fixed
// stack over a buffer its owner supplies.
#pragma once

#include <cstddef>

#include "base/errors.h"

namespace vna {

template <typename T, std::size_t kFirstChunk = 100>
class SegmentedStack {
 public:
  SegmentedStack() : current_(&first_) {
    first_.entries = inline_;
    first_.capacity = kFirstChunk;
  }
  ~SegmentedStack() { clear(); }
  SegmentedStack(const SegmentedStack&) = delete;
  SegmentedStack& operator=(const SegmentedStack&) = delete;

  bool empty() const { return current_ == &first_ && first_.count == 0; }
  std::size_t size() const {
    std::size_t total = 0;
    for (const Chunk* c = current_; c != nullptr; c = c->previous) total += c->count;
    return total;
  }
  void push(const T& value) {
    if (current_->count == current_->capacity) grow();
    current_->entries[current_->count++] = value;
  }
  void pop(std::size_t n = 1) {
    while (n > 0 && !empty()) {
      if (current_->count == 0) shrink();
      std::size_t take = n < current_->count ? n : current_->count;
      current_->count -= take;
      n -= take;
      if (current_->count == 0 && current_ != &first_) shrink();
    }
  }
  // Entry i counted from the top (0 = top); the stack must hold more than i.
  T& at(std::size_t i) {
    Chunk* c = current_;
    while (i >= c->count) {
      i -= c->count;
      c = c->previous;
    }
    return c->entries[c->count - 1 - i];
  }
  T& top() { return at(0); }
  // Releases every chunk but the embedded one.
  void clear() {
    while (current_ != &first_) {
      Chunk* previous = current_->previous;
      release(current_);
      current_ = previous;
    }
    first_.count = 0;
    if (spare_ != nullptr) release(spare_);
    spare_ = nullptr;
  }

 private:
  struct Chunk {
    T* entries = nullptr;
    std::size_t capacity = 0;
    std::size_t count = 0;
    Chunk* previous = nullptr;
  };

  void grow() {
    Chunk* next = spare_;
    spare_ = nullptr;
    if (next == nullptr || next->capacity != current_->capacity * 2) {
      if (next != nullptr) release(next);
      next = new Chunk;
      next->capacity = current_->capacity * 2;
      next->entries = new T[next->capacity];
    }
    next->count = 0;
    next->previous = current_;
    current_ = next;
  }
  // Steps back from an emptied chunk, which becomes the one spare.
  void shrink() {
    Chunk* emptied = current_;
    current_ = emptied->previous;
    if (spare_ != nullptr) release(spare_);
    spare_ = emptied;
  }
  static void release(Chunk* c) {
    delete[] c->entries;
    delete c;
  }

  T inline_[kFirstChunk];
  Chunk first_;
  Chunk* current_;
  Chunk* spare_ = nullptr;
};

// Grows downward from the end of the owner's buffer; StackFull when full.
template <typename T>
class FixedStack {
 public:
  FixedStack(T* begin, T* end) : begin_(begin), end_(end), top_(end) {}
  void clear() { top_ = end_; }
  std::size_t size() const { return static_cast<std::size_t>(end_ - top_); }
  void push(const T& value) {
    if (top_ == begin_) throw StackFull();
    *--top_ = value;
  }
  // Pops n (at most what is held).
  void pop(std::size_t n) { top_ += n < size() ? n : size(); }
  // Element i from the top; ParsingFailure when the stack is not that deep,
  // which only a grammar fault could cause.
  T& at(std::size_t i) {
    if (i >= size()) throw ParsingFailure();
    return top_[i];
  }

 private:
  T* begin_;
  T* end_;
  T* top_;
};

}  // namespace vna
