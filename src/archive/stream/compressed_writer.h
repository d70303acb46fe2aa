// The outer layer of an archive file: the 12-byte header, one zlib stream
// of everything written, and the check value patched into the header once
// the stream is complete. Knows nothing of entry records. The deflate data
// is made in fixed blocks on every available processor (block_deflater.h):
// the archive's bytes depend on its input alone.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/stream/block_deflater.h"
#include "archive/format/format.h"
#include "archive/checks/stream_crc.h"
#include "base/byte_range.h"
#include "fs/file_handle.h"
#include "fs/file_writer.h"

namespace vna {

class CompressedStreamWriter : private BlockDeflater::Client {
 public:
  // Writes the header (check value 0xFFFFFFFF as a placeholder) and starts
  // deflate (level 6, window 15, memory level 8) on `workers` threads (none:
  // this thread deflates). Throws DeflateInitError or the FileWriter's
  // errors. `file` is owned by the caller and stays open.
  explicit CompressedStreamWriter(WritableFileHandle& file,
                                  unsigned workers = BlockDeflater::availableWorkers());
  // Stops the compressor if still running; never throws; flushes nothing.
  ~CompressedStreamWriter() override;
  CompressedStreamWriter(const CompressedStreamWriter&) = delete;
  CompressedStreamWriter& operator=(const CompressedStreamWriter&) = delete;

  // Adds bytes to the stream. DeflateError or the FileWriter's errors.
  void write(ConstByteRange range);
  // Free room in the compressor's input, never empty, for the caller to
  // fill and then `commit`: a file can be read straight into it.
  ByteRange stageRoom() { return deflater_->room(); }
  // Adds the first `count` bytes of the last stageRoom to the stream, with
  // write's errors.
  void commit(std::size_t count) { deflater_->commit(count); }
  // Ends the stream, stops the compressor and stores the check value.
  // Called once, after the last write. DeflateError or the FileWriter's
  // errors.
  void finish();

 private:
  void taken(ConstByteRange input) override;
  void deflated(ConstByteRange output) override;
  void writeBuffer();

  FileWriter output_;
  // Compressed bytes reach the file in whole buffers, so a run cut short
  // leaves a stream cut at a multiple of the buffer's size.
  uint8_t buffer_[format::kStreamBufferSize];
  std::size_t buffered_ = 0;
  StreamCrc crc_;
  uint32_t adler_ = 1;
  // Made once the header is in the file; its destructor stops and joins
  // the workers before anything they use goes.
  std::unique_ptr<BlockDeflater> deflater_;
};

}  // namespace vna
