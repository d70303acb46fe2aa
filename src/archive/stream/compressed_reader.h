// Reads an archive file: recognises the header, remembers the stored check
// value and delivers the record bytes in exactly the amounts asked, from
// blocks its body (stored or zlib) decodes ahead, keeping the check value
// and the count of what it delivered.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/checks/stream_crc.h"
#include "archive/inflate/inflater.h"
#include "archive/stream/read_ahead.h"
#include "archive/stream/body_decoder.h"
#include "base/byte_range.h"
#include "fs/file_handle.h"

namespace vna {

class CompressedStreamReader {
 public:
  // Reads the header. FileStartingBytesNotRecognized, or the read errors
  // (EndOfFileError under 12 bytes). `file` is opened and closed by the
  // caller. A compressed body is decoded by `engine`, or by the build's own
  // (newInflater) when none is given; every engine gives the same results.
  // `thread` says whether the body is decoded ahead on a thread of its own;
  // the results are the same.
  explicit CompressedStreamReader(FileHandle& file, const InflaterEngine* engine = nullptr,
                                  InflateThread thread = InflateThread::kWhereProcessors);
  ~CompressedStreamReader();
  CompressedStreamReader(const CompressedStreamReader&) = delete;
  CompressedStreamReader& operator=(const CompressedStreamReader&) = delete;

  // Fills the whole non-empty range or throws: UnexpectedEndOfCompressedFile
  // or FormatError (compressed body), EndOfFileError (stored body).
  void read(ByteRange range);
  // Like read, but delivers between 1 and `most` (> 0) bytes without
  // copying them: a view into the current block, valid until the next call
  // on the reader. The bytes are counted and checked as read's are.
  ConstByteRange readInPlace(std::size_t most);
  // Reads past `count` bytes, counted and checked as read's are.
  void skip(uint32_t count);
  // The end test, which ends the reading: true when nothing but the body's
  // proper end follows what was delivered. For the compressed body the
  // inflater is first allowed to finish the zlib stream (its trailer
  // verified), which consumes what follows; any further record byte, damage
  // or byte after the stream makes it false. A read after it throws
  // std::logic_error, so that asking too early cannot pass unnoticed.
  bool finishAtEnd();
  // The final check value of everything delivered (complemented once).
  uint32_t checkValue();
  uint32_t storedCheckValue() const { return storedCheck_; }

 private:
  // Moves to the next block, once every byte of the current one is
  // delivered; throws where the body ends or fails.
  void nextBlock();
  // Adds the bytes of the block delivered since the last call to `crc_`.
  void takeBlockCrc();

  std::unique_ptr<BodyDecoder> body_;
  // After body_, so that its thread is joined before the body goes.
  std::unique_ptr<ReadAhead> ahead_;
  // [outNext_, block_.length) of the current block is not yet delivered;
  // its bytes from crcFrom_ on are not yet in the check value.
  BodyBlock block_;
  std::size_t outNext_ = 0;
  std::size_t crcFrom_ = 0;
  uint32_t storedCheck_ = 0;
  StreamCrc crc_;
  bool checkTaken_ = false;
  bool finished_ = false;
};

}  // namespace vna
