// Reading an open file at positions it keeps; refers to a handle its caller
// owns and keeps alive.
#pragma once

#include <cstdint>

#include "base/byte_range.h"
#include "fs/file_handle.h"

namespace vna {

class FileReader {
 public:
  // Size is taken now and never refreshed.
  void attach(const FileHandle& handle, uint32_t position);
  void attach(const FileHandle& handle, uint32_t position, uint32_t knownSize) {
    handle_ = &handle;
    size_ = knownSize;
    position_ = position;
  }
  bool hasMore() const { return position_ < size_; }
  // Short reads, even empty ones, are not errors.
  void readSome(ByteRange& range);
  // EndOfFileError when fewer bytes arrive than the range holds.
  void readExact(ByteRange range);
  uint32_t position() const { return position_; }
  uint32_t size() const { return size_; }

 private:
  uint32_t readAt(ByteRange range);

  const FileHandle* handle_ = nullptr;
  uint32_t position_ = 0;
  uint32_t size_ = 0;
};

}  // namespace vna
