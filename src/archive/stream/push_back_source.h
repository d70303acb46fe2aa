// The archive reader's look at the first bytes: what it cannot recognise
// goes back, so that the caller reads the file from its start again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fs/byte_range.h"
#include "fs/file_streams.h"

namespace vna {

// A ByteSource that can take up to 1024 bytes back and delivers them again,
// oldest first, before reading on from the source behind it.
class PushBackSource : public ByteSource {
 public:
  explicit PushBackSource(ByteSource& behind) : behind_(behind) {}
  bool atEnd() override { return !hasMore(); }
  bool hasMore() override { return held() > 0 || behind_.hasMore(); }
  void readExact(ByteRange range) override;
  void readSome(ByteRange& range) override;
  // PushBackBufferOverflow when the bytes do not fit beside the held ones.
  void unread(ConstByteRange range);
  std::size_t held() const { return fill_ - start_; }

 private:
  std::size_t take(ByteRange& range);

  std::size_t fill_ = 0;
  std::size_t start_ = 0;
  uint8_t store_[1024];
  ByteSource& behind_;
};

}  // namespace vna
