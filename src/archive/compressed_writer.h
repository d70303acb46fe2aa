// The outer layer of an archive file: the 12-byte header, one zlib stream
// of everything written, and the check value patched into the header once
// the stream is complete. Knows nothing of entry records.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "archive/format.h"
#include "archive/stream_crc.h"
#include "fs/byte_range.h"
#include "fs/file_streams.h"

namespace vna {

class CompressedStreamWriter {
 public:
  // Writes the header (check value 0xFFFFFFFF as a placeholder) and starts
  // deflate (level 6, window 15, memory level 8). Throws DeflateInitError or
  // the FileWriter's errors. `file` is owned by the caller and stays open.
  explicit CompressedStreamWriter(WritableFileHandle& file);
  // Releases the compressor if still open; never throws; flushes nothing.
  ~CompressedStreamWriter();
  CompressedStreamWriter(const CompressedStreamWriter&) = delete;
  CompressedStreamWriter& operator=(const CompressedStreamWriter&) = delete;

  // Adds bytes to the stream. DeflateError or the FileWriter's errors.
  // Bytes may wait in the input stage until it fills or `finish`.
  void write(ConstByteRange range);
  // Free room at the end of the input stage, at least `wanted` bytes long
  // (capped at the stage's size), for the caller to fill and then `commit`:
  // a file can be read straight into the compressor's input. May compress
  // what is staged to make room, with write's errors.
  ByteRange stageRoom(std::size_t wanted);
  // Adds the first `count` bytes of the last stageRoom to the stream.
  void commit(std::size_t count);
  // Ends the stream, releases the compressor and stores the check value.
  // Called once, after the last write. DeflateError, DeflateEndError or
  // the FileWriter's errors.
  void finish();

 private:
  static constexpr std::size_t kStageSize = 65536;

  void writeBuffer(std::size_t count);
  // Passes [begin, end) through deflate and the check value.
  void compress(const uint8_t* begin, const uint8_t* end);
  void compressStage();

  FileWriter output_;
  z_stream stream_;
  bool compressorOpen_ = false;
  uint8_t buffer_[format::kStreamBufferSize];
  // Small writes (a record's fields, a small file) gather here, so that
  // deflate and the check value run over long stretches, not per piece.
  uint8_t stage_[kStageSize];
  std::size_t staged_ = 0;
  StreamCrc crc_;
  uint32_t adler_ = 1;
};

}  // namespace vna
