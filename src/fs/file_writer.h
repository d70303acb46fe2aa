// Writing an open file at positions it keeps; refers to a handle its caller
// owns and keeps alive.
#pragma once

#include <cstdint>

#include "base/byte_range.h"
#include "fs/file_handle.h"

namespace vna {

class FileWriter : public ByteSink {
 public:
  FileWriter() = default;
  FileWriter(WritableFileHandle& handle, uint32_t position) : handle_(&handle), position_(position) {}
  void attach(WritableFileHandle& handle, uint32_t position) {
    handle_ = &handle;
    position_ = position;
  }
  void setPosition(uint32_t position) { position_ = position; }
  uint32_t position() const { return position_; }
  // A write the OS reports as shorter than asked raises DiskFullError.
  void write(ConstByteRange range) override;

 private:
  WritableFileHandle* handle_ = nullptr;
  uint32_t position_ = 0;
};

}  // namespace vna
