// The outer layer of an archive file: the 12-byte header, one zlib stream
// of everything written, and the check value patched into the header once
// the stream is complete. Knows nothing of entry records.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "byte_range.h"
#include "file_streams.h"
#include "format.h"
#include "stream_crc.h"

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
  void write(ConstByteRange range);
  // Ends the stream, releases the compressor and stores the check value.
  // Called once, after the last write. DeflateError, DeflateEndError or
  // the FileWriter's errors.
  void finish();

 private:
  void writeBuffer(std::size_t count);

  FileWriter output_;
  z_stream stream_;
  bool compressorOpen_ = false;
  uint8_t buffer_[format::kStreamBufferSize];
  StreamCrc crc_;
};

}  // namespace vna
