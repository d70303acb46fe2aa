#include "archive/compressed_writer.h"

#include <cstring>

#include "archive/adler32.h"
#include "fs/errors.h"

namespace vna {

CompressedStreamWriter::CompressedStreamWriter(WritableFileHandle& file)
    : output_(file, 0) {
  crc_.init();
  uint8_t header[format::kHeaderLength];
  std::memcpy(header, format::kCompressedMagic, format::kMagicLength);
  header[format::kMagicLength] = 0;
  format::encodeBigEndian32(crc_.value(), header + format::kCheckValueOffset, 4);
  output_.write(ConstByteRange(header, header + sizeof header));

  std::memset(&stream_, 0, sizeof stream_);
  if (deflateInit2_(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, format::kRawWindowBits, 8,
                    Z_DEFAULT_STRATEGY, "1.2.2", static_cast<int>(sizeof stream_)) != Z_OK) {
    throw DeflateInitError();
  }
  compressorOpen_ = true;
  // The stream's first bytes, as zlib would have put them there.
  std::memcpy(buffer_, format::kZlibHeader, sizeof format::kZlibHeader);
  stream_.next_out = buffer_ + sizeof format::kZlibHeader;
  stream_.avail_out = sizeof buffer_ - sizeof format::kZlibHeader;
}

CompressedStreamWriter::~CompressedStreamWriter() {
  if (compressorOpen_) deflateEnd(&stream_);
}

void CompressedStreamWriter::writeBuffer(std::size_t count) {
  if (count > 0) output_.write(ConstByteRange(buffer_, buffer_ + count));
  stream_.next_out = buffer_;
  stream_.avail_out = sizeof buffer_;
}

void CompressedStreamWriter::write(ConstByteRange range) {
  std::size_t length = range.length();
  if (length == 0) return;
  if (length <= kStageSize - staged_) {
    std::memcpy(stage_ + staged_, range.begin, length);
    staged_ += length;
    if (staged_ == kStageSize) compressStage();
    return;
  }
  compressStage();
  if (length >= kStageSize) {
    compress(range.begin, range.end);
  } else {
    std::memcpy(stage_, range.begin, length);
    staged_ = length;
  }
}

ByteRange CompressedStreamWriter::stageRoom(std::size_t wanted) {
  if (wanted > kStageSize) wanted = kStageSize;
  if (kStageSize - staged_ < wanted) compressStage();
  return ByteRange{stage_ + staged_, stage_ + kStageSize};
}

void CompressedStreamWriter::commit(std::size_t count) {
  staged_ += count;
  if (staged_ == kStageSize) compressStage();
}

void CompressedStreamWriter::compressStage() {
  // Emptied first: after a failure nothing staged is offered again.
  std::size_t count = staged_;
  staged_ = 0;
  if (count > 0) compress(stage_, stage_ + count);
}

void CompressedStreamWriter::compress(const uint8_t* begin, const uint8_t* end) {
  crc_.update(begin, end);
  adler_ = adler::update(adler_, begin, end);
  stream_.next_in = const_cast<Bytef*>(begin);
  stream_.avail_in = static_cast<uInt>(end - begin);
  for (;;) {
    if (stream_.avail_out == 0) writeBuffer(sizeof buffer_);
    int result = deflate(&stream_, Z_NO_FLUSH);
    // Z_BUF_ERROR only says no progress was possible this call (nothing
    // left to take or give); it is not a failure.
    if (result != Z_OK && result != Z_BUF_ERROR) throw DeflateError();
    if (stream_.avail_out == 0 || stream_.avail_in > 0) continue;
    return;
  }
}

void CompressedStreamWriter::finish() {
  compressStage();
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  int result;
  do {
    if (stream_.avail_out == 0) writeBuffer(sizeof buffer_);
    result = deflate(&stream_, Z_FINISH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) throw DeflateError();
    if (result == Z_STREAM_END) {
      if (stream_.avail_out < format::kZlibTrailerLength) {
        writeBuffer(sizeof buffer_ - stream_.avail_out);
      }
      format::encodeBigEndian32(adler_, stream_.next_out, stream_.avail_out);
      stream_.next_out += format::kZlibTrailerLength;
      stream_.avail_out -= format::kZlibTrailerLength;
    }
    writeBuffer(sizeof buffer_ - stream_.avail_out);
  } while (result != Z_STREAM_END);
  if (deflateEnd(&stream_) != Z_OK) throw DeflateEndError();
  compressorOpen_ = false;

  uint8_t check[4];
  format::encodeBigEndian32(crc_.final(), check, sizeof check);
  output_.setPosition(format::kCheckValueOffset);
  output_.write(ConstByteRange(check, check + sizeof check));
}

}  // namespace vna
