#include "archive/stream/compressed_reader.h"

#include <cstring>
#include <stdexcept>

#include "archive/format/format.h"
#include "archive/stream/zlib_body.h"
#include "base/errors.h"

namespace vna {

CompressedStreamReader::CompressedStreamReader(FileHandle& file, const InflaterEngine* engine,
                                               InflateThread thread) {
  FileReader header;
  header.attach(file, 0);
  uint8_t bytes[format::kHeaderLength];
  header.readExact(ByteRange{bytes, bytes + sizeof bytes});
  const format::Header decoded = format::decodeHeader(bytes);
  if (decoded.body == format::Body::kUnknown) throw FileStartingBytesNotRecognized();
  storedCheck_ = decoded.check;
  crc_.init();
  if (decoded.body == format::Body::kCompressed) {
    body_ = std::make_unique<ZlibBody>(file, format::kHeaderLength, header.size(), engine);
  } else {
    body_ = std::make_unique<StoredBody>(file, format::kHeaderLength, header.size());
  }
  ahead_ = std::make_unique<ReadAhead>(*body_, thread);
}

CompressedStreamReader::~CompressedStreamReader() = default;

void CompressedStreamReader::nextBlock() {
  takeBlockCrc();
  // A block that ends the body, or its reading, is the last: a read past
  // it fails the same way every time.
  if (block_.ending != BodyEnding::kMore) body_->raise(block_.ending);
  block_ = ahead_->next();
  outNext_ = crcFrom_ = 0;
}

void CompressedStreamReader::read(ByteRange range) {
  if (finished_) throw std::logic_error("archive read after its end test");
  // The check value of the blocks' bytes is taken a whole block at a time
  // (see takeBlockCrc).
  uint8_t* p = range.begin;
  while (p != range.end) {
    if (outNext_ == block_.length) nextBlock();
    std::size_t want = static_cast<std::size_t>(range.end - p);
    std::size_t take = want < block_.length - outNext_ ? want : block_.length - outNext_;
    std::memcpy(p, block_.data + outNext_, take);
    outNext_ += take;
    p += take;
  }
}

ConstByteRange CompressedStreamReader::readInPlace(std::size_t most) {
  if (finished_) throw std::logic_error("archive read after its end test");
  while (outNext_ == block_.length) nextBlock();
  std::size_t take = most < block_.length - outNext_ ? most : block_.length - outNext_;
  ConstByteRange view(block_.data + outNext_, block_.data + outNext_ + take);
  outNext_ += take;
  return view;
}

void CompressedStreamReader::skip(uint32_t count) {
  while (count > 0) count -= static_cast<uint32_t>(readInPlace(count).length());
}

void CompressedStreamReader::takeBlockCrc() {
  // Only delivered bytes count, in the order delivered: the span of the
  // block handed out since the last time.
  crc_.update(block_.data + crcFrom_, block_.data + outNext_);
  crcFrom_ = outNext_;
}

bool CompressedStreamReader::finishAtEnd() {
  finished_ = true;
  // The last record byte can come out of one block while the end of the
  // deflate data and the Adler-32 trailer are decoded into the next: any
  // byte still decoded after what was delivered is trailing data.
  while (outNext_ == block_.length && block_.ending == BodyEnding::kMore) {
    takeBlockCrc();
    block_ = ahead_->next();
    outNext_ = crcFrom_ = 0;
  }
  if (outNext_ < block_.length) return false;
  // A read error of the archive is reported as such, not as a bad end.
  if (block_.ending == BodyEnding::kThrown) body_->raise(block_.ending);
  return block_.ending == BodyEnding::kEnd;
}

uint32_t CompressedStreamReader::checkValue() {
  if (!checkTaken_) {
    takeBlockCrc();
    crc_.final();
    checkTaken_ = true;
  }
  return crc_.value();
}

}  // namespace vna
