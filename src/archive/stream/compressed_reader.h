// Reads an archive file: recognises the header, remembers the stored check
// value and delivers the uncompressed record bytes in exactly the amounts
// asked, keeping their check value and count.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/format/format.h"
#include "archive/inflate/inflater.h"
#include "archive/checks/stream_crc.h"
#include "archive/stream/push_back_source.h"
#include "archive/stream/zlib_stream.h"
#include "fs/byte_range.h"
#include "fs/file_streams.h"

namespace vna {

class CompressedStreamReader : private InflateInput {
 public:
  // Reads the header. FileStartingBytesNotRecognized (the 12 bytes pushed
  // back), FormatError, or the read errors (EndOfFileError under 12 bytes).
  // `file` is opened and closed by the caller. A compressed body is decoded
  // by `engine`, or by the build's own (newInflater) when none is given;
  // every engine gives the same results.
  explicit CompressedStreamReader(FileHandle& file, const InflaterEngine* engine = nullptr);
  ~CompressedStreamReader() override;
  CompressedStreamReader(const CompressedStreamReader&) = delete;
  CompressedStreamReader& operator=(const CompressedStreamReader&) = delete;

  // Fills the whole non-empty range or throws: UnexpectedEndOfCompressedFile
  // or FormatError (compressed body), EndOfFileError (stored body),
  // UntrustedByteLimitExceeded when an armed limit is passed (the bytes of
  // that read are delivered and counted first).
  void read(ByteRange range);
  // Like read, but delivers between 1 and `most` (> 0) bytes without
  // copying them: a view into the reader's own block, valid until the next
  // call on the reader. The bytes are counted and checked as read's are.
  ConstByteRange readInPlace(std::size_t most);
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
  uint64_t setByteLimit(uint64_t n);
  uint64_t extendByteLimit(uint64_t n);
  uint64_t consumed() const { return consumed_; }

 private:
  enum class Pending { None, Format, End };
  // Engines pay a fixed cost per call (ISA-L keeps its 32 KiB window by
  // copying), so they are called for long runs: reads shorter than a block
  // are served from a block inflated ahead, and input comes in long pieces.
  static constexpr std::size_t kBlockSize = 256 * 1024;
  static constexpr std::size_t kInputSize = 128 * 1024;
  static constexpr std::size_t kDirectRead = kBlockSize;

  // The engine's input: the zlib stream in long pieces; a restart goes
  // back to the first byte after the zlib header.
  bool refill(InflateSpans& io) override;
  void restart(InflateSpans& io) override;
  bool used() const override;
  bool finishStream();
  [[noreturn]] static void raise(Pending what);
  std::size_t inflateInto(uint8_t* begin, uint8_t* end, bool partial);
  // Adds the bytes of the block delivered since the last call to `crc_`.
  void takeBlockCrc();

  FileHandle& file_;
  std::unique_ptr<Inflater> engine_;
  InflateSpans io_;
  FileReader fileReader_;
  FileSection section_;
  PushBackSource pushBack_;
  ByteSource& source_;
  // Refills land after kMaxInflateTail bytes of room, where an engine puts
  // back what it read past the end of the deflate data. Both buffers
  // are allocated only for a compressed body.
  std::unique_ptr<uint8_t[]> input_;
  // Inflated ahead for small reads: [outNext_, outEnd_) not yet delivered.
  std::unique_ptr<uint8_t[]> block_;
  std::size_t outNext_ = 0;
  std::size_t outEnd_ = 0;
  std::size_t crcFrom_ = 0;
  Pending pending_ = Pending::None;
  bool compressed_ = false;
  bool streamEnded_ = false;
  bool damaged_ = false;
  uint32_t storedCheck_ = 0;
  StreamCrc crc_;
  bool checkTaken_ = false;
  bool finished_ = false;
  bool limitArmed_ = false;
  uint64_t consumed_ = 0;
  uint64_t limit_ = 0;
};

}  // namespace vna
