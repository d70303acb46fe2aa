#include "archive/stream/compressed_reader.h"

#include <cstring>
#include <stdexcept>

#include "fs/errors.h"

namespace vna {

namespace {

// The stored body is read into a buffer of this size for readInPlace.
constexpr std::size_t kStoredPiece = 64 * 1024;

}  // namespace

CompressedStreamReader::CompressedStreamReader(FileHandle& file, const InflaterEngine* engine,
                                               InflateThread thread)
{
  fileReader_.attach(file, 0);
  crc_.init();

  uint8_t magic[8];
  uint8_t check[4];
  fileReader_.readExact(ByteRange{magic, magic + sizeof magic});
  fileReader_.readExact(ByteRange{check, check + sizeof check});
  consumed_ += format::kHeaderLength;
  storedCheck_ = format::decodeBigEndian32(check);

  if (std::memcmp(magic, format::kCompressedMagic, format::kMagicLength) == 0) {
    inflated_ = std::make_unique<InflateAhead>(file, format::kHeaderLength, fileReader_.size(),
                                               engine, thread);
  } else if (std::memcmp(magic, format::kStoredMagic, format::kMagicLength) != 0) {
    throw FileStartingBytesNotRecognized();
  }
}

CompressedStreamReader::~CompressedStreamReader() = default;

void CompressedStreamReader::nextBlock() {
  takeBlockCrc();
  // A block that ends the stream, or its reading, is the last: a read past
  // it fails the same way every time.
  if (block_.ending != InflateAhead::Ending::kMore) inflated_->raise(block_.ending);
  block_ = inflated_->next();
  outNext_ = crcFrom_ = 0;
}

void CompressedStreamReader::read(ByteRange range) {
  if (finished_) throw std::logic_error("archive read after its end test");
  if (inflated_) {
    // Served from the decoded blocks; the check value of those is taken a
    // whole block at a time (see takeBlockCrc).
    uint8_t* p = range.begin;
    while (p != range.end) {
      if (outNext_ == block_.length) nextBlock();
      std::size_t want = static_cast<std::size_t>(range.end - p);
      std::size_t take = want < block_.length - outNext_ ? want : block_.length - outNext_;
      std::memcpy(p, block_.data + outNext_, take);
      outNext_ += take;
      p += take;
    }
  } else {
    fileReader_.readExact(range);
    crc_.update(range.begin, range.end);
  }
  consumed_ += range.length();
}

ConstByteRange CompressedStreamReader::readInPlace(std::size_t most) {
  if (finished_) throw std::logic_error("archive read after its end test");
  ConstByteRange view(nullptr, nullptr);
  if (inflated_) {
    while (outNext_ == block_.length) nextBlock();
    std::size_t take = most < block_.length - outNext_ ? most : block_.length - outNext_;
    view = ConstByteRange(block_.data + outNext_, block_.data + outNext_ + take);
    outNext_ += take;
  } else {
    // The stored body is copied into a buffer: it has no block of its own.
    if (!stored_) stored_.reset(new uint8_t[kStoredPiece]);
    uint8_t* buffer = stored_.get();
    ByteRange room{buffer, buffer + (most < kStoredPiece ? most : kStoredPiece)};
    fileReader_.readSome(room);
    if (room.begin == buffer) throw EndOfFileError();
    view = ConstByteRange(buffer, room.begin);
    crc_.update(view.begin, view.end);
  }
  consumed_ += view.length();
  return view;
}

void CompressedStreamReader::takeBlockCrc() {
  // Only delivered bytes count, in the order delivered: the span of the
  // block handed out since the last time.
  crc_.update(block_.data + crcFrom_, block_.data + outNext_);
  crcFrom_ = outNext_;
}

bool CompressedStreamReader::finishAtEnd() {
  finished_ = true;
  if (!inflated_) return !fileReader_.hasMore();
  // The last record byte can come out of one block while the end of the
  // deflate data and the Adler-32 trailer are decoded into the next: any
  // byte still decoded after what was delivered is trailing data.
  for (;;) {
    if (outNext_ < block_.length) return false;
    switch (block_.ending) {
      case InflateAhead::Ending::kMore:
        takeBlockCrc();
        block_ = inflated_->next();
        outNext_ = crcFrom_ = 0;
        break;
      case InflateAhead::Ending::kEnd:
        return true;
      case InflateAhead::Ending::kThrown:
        inflated_->raise(block_.ending);
      default:
        return false;
    }
  }
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
