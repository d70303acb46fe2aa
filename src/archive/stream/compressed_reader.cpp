#include "archive/stream/compressed_reader.h"

#include <cstring>
#include <stdexcept>

#include "fs/errors.h"

namespace vna {

CompressedStreamReader::CompressedStreamReader(FileHandle& file, const InflaterEngine* engine)
    : file_(file), pushBack_(section_), source_(pushBack_) {
  fileReader_.attach(file, 0);
  section_.attachUnbounded(fileReader_);
  crc_.init();

  uint8_t magic[8];
  uint8_t check[4];
  source_.readExact(ByteRange{magic, magic + sizeof magic});
  source_.readExact(ByteRange{check, check + sizeof check});
  consumed_ += format::kHeaderLength;
  storedCheck_ = format::decodeBigEndian32(check);

  if (std::memcmp(magic, format::kCompressedMagic, format::kMagicLength) == 0) {
    input_.reset(new uint8_t[kMaxInflateTail + kInputSize]);
    block_.reset(new uint8_t[kBlockSize]);
    io_.nextIn = input_.get() + kMaxInflateTail;
    io_.availIn = 0;
    engine_ = std::make_unique<ZlibStreamInflater>(engine ? engine->make(*this) : newInflater(*this));
    compressed_ = true;
  } else if (std::memcmp(magic, format::kStoredMagic, format::kMagicLength) != 0) {
    pushBack_.unread(ConstByteRange(magic, magic + sizeof magic));
    pushBack_.unread(ConstByteRange(check, check + sizeof check));
    throw FileStartingBytesNotRecognized();
  }
}

CompressedStreamReader::~CompressedStreamReader() = default;

bool CompressedStreamReader::refill(InflateSpans& io) {
  uint8_t* start = input_.get() + kMaxInflateTail;
  ByteRange room{start, start + kInputSize};
  source_.readSome(room);
  io.nextIn = start;
  io.availIn = static_cast<std::size_t>(room.begin - start);
  return io.availIn > 0;
}

void CompressedStreamReader::restart(InflateSpans& io) {
  fileReader_.attach(file_, format::kHeaderLength + sizeof format::kZlibHeader, fileReader_.size());
  io.availIn = 0;
}

bool CompressedStreamReader::used() const { return !source_.hasMore(); }

void CompressedStreamReader::raise(Pending what) {
  if (what == Pending::Format) throw FormatError();
  throw UnexpectedEndOfCompressedFile();
}

std::size_t CompressedStreamReader::inflateInto(uint8_t* begin, uint8_t* end, bool partial) {
  io_.nextOut = begin;
  io_.availOut = static_cast<std::size_t>(end - begin);
  // A failure after some bytes came out is kept for the next call when
  // `partial`: the bytes before it are good and may be all the caller needs.
  auto fail = [&](Pending what) -> std::size_t {
    std::size_t produced = static_cast<std::size_t>(io_.nextOut - begin);
    if (!partial || produced == 0) raise(what);
    pending_ = what;
    return produced;
  };
  while (io_.availOut > 0) {
    if (pending_ != Pending::None) return fail(pending_);
    if (streamEnded_) {
      // More record bytes were asked for than the stream holds.
      return fail(io_.availIn > 0 || source_.hasMore() ? Pending::Format : Pending::End);
    }
    // With the file used up the engine is still called: it may hold
    // decoded bytes that did not fit the last time.
    if (io_.availIn == 0) refill(io_);
    InflateStatus result = engine_->inflate(io_);
    if (result == InflateStatus::kEnd) {
      streamEnded_ = true;
      if (io_.availIn > 0) return fail(Pending::Format);  // bytes after the stream
    } else if (result == InflateStatus::kDamaged) {
      return fail(Pending::Format);
    } else if (io_.availOut > 0) {
      if (io_.availIn > 0) return fail(Pending::Format);  // no progress although input remains
      if (used()) return fail(Pending::End);
    }
  }
  return static_cast<std::size_t>(end - begin);
}

void CompressedStreamReader::read(ByteRange range) {
  if (finished_) throw std::logic_error("archive read after its end test");
  if (compressed_) {
    // Large reads inflate straight into the caller's range. Smaller ones
    // (the fields of a record, small files) are served from a block
    // inflated ahead, so that the engine decodes in long runs instead of a
    // few bytes per call; the check value of those is taken a whole block
    // at a time (see takeBlockCrc).
    uint8_t* p = range.begin;
    while (p != range.end) {
      std::size_t want = static_cast<std::size_t>(range.end - p);
      if (outNext_ < outEnd_) {
        std::size_t take = want < outEnd_ - outNext_ ? want : outEnd_ - outNext_;
        std::memcpy(p, block_.get() + outNext_, take);
        outNext_ += take;
        p += take;
      } else if (want >= kDirectRead) {
        takeBlockCrc();
        inflateInto(p, range.end, false);
        crc_.update(p, range.end);
        p = range.end;
      } else {
        takeBlockCrc();
        outNext_ = outEnd_ = crcFrom_ = 0;  // nothing stale survives a throw
        outEnd_ = inflateInto(block_.get(), block_.get() + kBlockSize, true);
      }
    }
  } else {
    source_.readExact(range);
    crc_.update(range.begin, range.end);
  }
  consumed_ += range.length();
  if (limitArmed_ && consumed_ > limit_) throw UntrustedByteLimitExceeded();
}

ConstByteRange CompressedStreamReader::readInPlace(std::size_t most) {
  if (finished_) throw std::logic_error("archive read after its end test");
  if (!block_) block_.reset(new uint8_t[kBlockSize]);
  uint8_t* block = block_.get();
  ConstByteRange view(block, block);
  if (compressed_) {
    if (outNext_ == outEnd_) {
      takeBlockCrc();
      outNext_ = outEnd_ = crcFrom_ = 0;  // nothing stale survives a throw
      outEnd_ = inflateInto(block, block + kBlockSize, true);
    }
    std::size_t take = most < outEnd_ - outNext_ ? most : outEnd_ - outNext_;
    view = ConstByteRange(block + outNext_, block + outNext_ + take);
    outNext_ += take;
  } else {
    // The stored body is copied into the block: it has no block of its own.
    ByteRange room{block, block + (most < kBlockSize ? most : kBlockSize)};
    source_.readSome(room);
    if (room.begin == block) throw EndOfFileError();
    view = ConstByteRange(block, room.begin);
    crc_.update(view.begin, view.end);
  }
  consumed_ += view.length();
  if (limitArmed_ && consumed_ > limit_) throw UntrustedByteLimitExceeded();
  return view;
}

void CompressedStreamReader::takeBlockCrc() {
  // Only delivered bytes count, in the order delivered: the span of the
  // block handed out since the last time.
  crc_.update(block_.get() + crcFrom_, block_.get() + outNext_);
  crcFrom_ = outNext_;
}

bool CompressedStreamReader::finishStream() {
  // The last record byte can come out of one refill while the end of the
  // deflate data and the Adler-32 trailer lie in the next: let the inflater
  // take them, and count any byte it still produces as trailing data.
  uint8_t scratch[1];
  while (!streamEnded_ && !damaged_) {
    if (io_.availIn == 0) refill(io_);
    io_.nextOut = scratch;
    io_.availOut = sizeof scratch;
    InflateStatus result = engine_->inflate(io_);
    if (io_.availOut == 0) {
      damaged_ = true;
    } else if (result == InflateStatus::kEnd) {
      streamEnded_ = true;
    } else if (result == InflateStatus::kDamaged || io_.availIn > 0 || used()) {
      damaged_ = true;
    }
  }
  return streamEnded_ && !damaged_;
}

bool CompressedStreamReader::finishAtEnd() {
  finished_ = true;
  if (compressed_) {
    if (outNext_ < outEnd_ || pending_ == Pending::Format) return false;
    if (!finishStream()) return false;
    return io_.availIn == 0 && !source_.hasMore();
  }
  return !source_.hasMore();
}

uint32_t CompressedStreamReader::checkValue() {
  if (!checkTaken_) {
    takeBlockCrc();
    crc_.final();
    checkTaken_ = true;
  }
  return crc_.value();
}

uint64_t CompressedStreamReader::setByteLimit(uint64_t n) {
  limit_ = 0;
  limitArmed_ = true;
  return extendByteLimit(n);
}

uint64_t CompressedStreamReader::extendByteLimit(uint64_t n) {
  limit_ += n;
  return limit_ > consumed_ ? limit_ - consumed_ : 0;
}

}  // namespace vna
