#include "archive/stream/push_back_source.h"

#include <cstring>

#include "fs/errors.h"

namespace vna {

std::size_t PushBackSource::take(ByteRange& range) {
  std::size_t count = held() < range.length() ? held() : range.length();
  std::memcpy(range.begin, store_ + start_, count);
  range.begin += count;
  start_ += count;
  // The remaining held bytes move to the start of the store.
  std::memmove(store_, store_ + start_, fill_ - start_);
  fill_ -= start_;
  start_ = 0;
  return count;
}

void PushBackSource::readSome(ByteRange& range) {
  if (held() == 0) {
    behind_.readSome(range);
    return;
  }
  bool emptied = held() < range.length();
  take(range);
  if (emptied) behind_.readSome(range);
}

void PushBackSource::readExact(ByteRange range) {
  if (held() == 0) {
    behind_.readExact(range);
    return;
  }
  take(range);
  if (range.length() > 0) behind_.readExact(range);
}

void PushBackSource::unread(ConstByteRange range) {
  if (range.length() > sizeof store_ - held()) throw PushBackBufferOverflow();
  if (start_ > 0) {
    std::memmove(store_, store_ + start_, fill_ - start_);
    fill_ -= start_;
    start_ = 0;
  }
  std::memcpy(store_ + fill_, range.begin, range.length());
  fill_ += range.length();
}

}  // namespace vna
