// The body of an archive, after its header: the record bytes, decoded into
// blocks. Two kinds exist, the stored body (the bytes as they are) and the
// zlib body (zlib_body.h); the reader takes blocks from either the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "fs/file_handle.h"
#include "fs/file_reader.h"

namespace vna {

// What follows the bytes of a block.
enum class BodyEnding {
  kMore,      // more blocks follow; the block is full
  kEnd,       // the body has ended where it should, nothing after it
  kTrailing,  // the zlib stream has ended and more bytes follow in the file
  kDamaged,   // the data is not a zlib stream here
  kCut,       // the file ends inside the zlib stream
  kThrown,    // reading the file failed; raise() rethrows that error
};

struct BodyBlock {
  const uint8_t* data = nullptr;
  std::size_t length = 0;
  BodyEnding ending = BodyEnding::kMore;
};

class BodyDecoder {
 public:
  virtual ~BodyDecoder() = default;
  // Decodes the next record bytes into [room, room + size): until it is
  // full or the body ends or fails. Never throws: a failure is the block's
  // ending, after the good bytes before it. Not called again after a block
  // whose ending is not kMore.
  virtual BodyBlock decode(uint8_t* room, std::size_t size) = 0;
  // Throws what a read past a block of this ending meets.
  [[noreturn]] virtual void raise(BodyEnding ending) const = 0;
};

// The stored body: the file's bytes from `start` on, as they stand. A read
// past its end raises EndOfFileError.
class StoredBody : public BodyDecoder {
 public:
  StoredBody(const FileHandle& file, uint32_t start, uint32_t size) {
    reader_.attach(file, start, size);
  }
  BodyBlock decode(uint8_t* room, std::size_t size) override;
  [[noreturn]] void raise(BodyEnding ending) const override;

 private:
  FileReader reader_;
  std::exception_ptr error_;
};

}  // namespace vna
