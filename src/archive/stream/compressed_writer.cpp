#include "archive/stream/compressed_writer.h"

#include <cstring>

#include "archive/checks/adler32.h"
#include "base/errors.h"

namespace vna {

CompressedStreamWriter::CompressedStreamWriter(WritableFileHandle& file, unsigned workers)
    : output_(file, 0) {
  crc_.init();
  uint8_t header[format::kHeaderLength];
  format::encodeHeader(crc_.value(), header);
  output_.write(ConstByteRange(header, header + sizeof header));
  deflater_.reset(new BlockDeflater(workers, *this));
  // The stream's first bytes, as zlib would have put them there.
  std::memcpy(buffer_, format::kZlibHeader, sizeof format::kZlibHeader);
  buffered_ = sizeof format::kZlibHeader;
}

CompressedStreamWriter::~CompressedStreamWriter() = default;

void CompressedStreamWriter::write(ConstByteRange range) {
  const uint8_t* next = range.begin;
  while (next != range.end) {
    ByteRange room = deflater_->room();
    std::size_t count = room.length();
    if (count > static_cast<std::size_t>(range.end - next)) {
      count = static_cast<std::size_t>(range.end - next);
    }
    std::memcpy(room.begin, next, count);
    next += count;
    deflater_->commit(count);
  }
}

void CompressedStreamWriter::taken(ConstByteRange input) {
  crc_.update(input.begin, input.end);
  adler_ = adler::update(adler_, input.begin, input.end);
}

void CompressedStreamWriter::deflated(ConstByteRange output) {
  const uint8_t* next = output.begin;
  while (next != output.end) {
    std::size_t left = static_cast<std::size_t>(output.end - next);
    if (buffered_ == 0 && left >= sizeof buffer_) {
      // A whole buffer's worth goes to the file from where it lies, in the
      // same writes as through the buffer: stored data is not copied twice.
      output_.write(ConstByteRange(next, next + sizeof buffer_));
      next += sizeof buffer_;
      continue;
    }
    std::size_t count = sizeof buffer_ - buffered_;
    if (count > left) count = left;
    std::memcpy(buffer_ + buffered_, next, count);
    buffered_ += count;
    next += count;
    if (buffered_ == sizeof buffer_) writeBuffer();
  }
}

void CompressedStreamWriter::writeBuffer() {
  if (buffered_ > 0) output_.write(ConstByteRange(buffer_, buffer_ + buffered_));
  buffered_ = 0;
}

void CompressedStreamWriter::finish() {
  deflater_->finish();
  uint8_t trailer[format::kZlibTrailerLength];
  format::encodeBigEndian32(adler_, trailer, sizeof trailer);
  deflated(ConstByteRange(trailer, trailer + sizeof trailer));
  writeBuffer();
  // Workers are stopped before the check value is patched in: nothing of
  // the compressor outlives a finished archive.
  deflater_.reset();

  uint8_t check[4];
  format::encodeBigEndian32(crc_.final(), check, sizeof check);
  output_.setPosition(format::kCheckValueOffset);
  output_.write(ConstByteRange(check, check + sizeof check));
}

}  // namespace vna
