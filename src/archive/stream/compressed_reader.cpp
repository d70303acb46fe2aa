#include "archive/stream/compressed_reader.h"

#include <cstring>
#include <stdexcept>

#include "archive/checks/adler32.h"
#include "fs/errors.h"

namespace vna {

std::size_t PushBackSource::take(ByteRange& range) {
  std::size_t count = held() < range.length() ? held() : range.length();
  std::memcpy(range.begin, store_ + start_, count);
  range.begin += count;
  start_ += count;
  // The remaining held bytes move to the start of the store.
  std::memmove(store_, store_ + start_, fill_ - start_);
  fill_ -= start_;
  start_ = 0;
  return count;
}

void PushBackSource::readSome(ByteRange& range) {
  if (held() == 0) {
    behind_.readSome(range);
    return;
  }
  bool emptied = held() < range.length();
  take(range);
  if (emptied) behind_.readSome(range);
}

void PushBackSource::readExact(ByteRange range) {
  if (held() == 0) {
    behind_.readExact(range);
    return;
  }
  take(range);
  if (range.length() > 0) behind_.readExact(range);
}

void PushBackSource::unread(ConstByteRange range) {
  if (range.length() > sizeof store_ - held()) throw PushBackBufferOverflow();
  if (start_ > 0) {
    std::memmove(store_, store_ + start_, fill_ - start_);
    fill_ -= start_;
    start_ = 0;
  }
  std::memcpy(store_ + fill_, range.begin, range.length());
  fill_ += range.length();
}

CompressedStreamReader::CompressedStreamReader(FileHandle& file, std::unique_ptr<Inflater> engine)
    : file_(file), engine_(std::move(engine)), pushBack_(section_), source_(pushBack_) {
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
    if (!engine_) engine_ = newInflater();
    compressed_ = true;
  } else if (std::memcmp(magic, format::kStoredMagic, format::kMagicLength) != 0) {
    pushBack_.unread(ConstByteRange(magic, magic + sizeof magic));
    pushBack_.unread(ConstByteRange(check, check + sizeof check));
    throw FileStartingBytesNotRecognized();
  }
}

CompressedStreamReader::~CompressedStreamReader() = default;

bool CompressedStreamReader::refill() {
  uint8_t* start = input_.get() + kMaxInflateTail;
  ByteRange room{start, start + kInputSize};
  source_.readSome(room);
  io_.nextIn = start;
  io_.availIn = static_cast<std::size_t>(room.begin - start);
  return io_.availIn > 0;
}

std::size_t CompressedStreamReader::takeWrapperBytes(std::size_t wanted) {
  while (wrapperHave_ < wanted && io_.availIn > 0) {
    wrapperBytes_[wrapperHave_++] = *io_.nextIn++;
    --io_.availIn;
  }
  return wrapperHave_;
}

InflateStatus CompressedStreamReader::inflateStep(bool& dry) {
  // zlib's own wrapper handling, with the Adler-32 taken by the faster
  // form; the results are those zlib's inflate gives for the same bytes.
  if (wrapper_ == Wrapper::Header) {
    if (takeWrapperBytes(sizeof format::kZlibHeader) < sizeof format::kZlibHeader) {
      return InflateStatus::kMore;
    }
    if (!format::acceptableZlibHeader(wrapperBytes_)) return InflateStatus::kDamaged;
    wrapper_ = Wrapper::Body;
    wrapperHave_ = 0;
  }
  if (wrapper_ == Wrapper::Body) {
    uint8_t* before = io_.nextOut;
    std::size_t room = io_.availOut;
    InflateStatus result = engine_->inflate(io_);
    bool failed = result == InflateStatus::kDamaged ||
                  (result == InflateStatus::kMore && io_.availOut > 0 && (dry || io_.availIn > 0));
    if (failed && !engine_->isReference()) {
      // What this call produced is dropped: an engine may write a little
      // past the point where zlib stops on the same damage.
      io_.nextOut = before;
      io_.availOut = room;
      if (!handOverToReference()) return InflateStatus::kDamaged;
      dry = false;
      result = engine_->inflate(io_);
    }
    adler_ = adler::update(adler_, before, io_.nextOut);
    engineOut_ += static_cast<uint64_t>(io_.nextOut - before);
    if (result != InflateStatus::kEnd) return result;
    restoreTail();
    wrapper_ = Wrapper::Trailer;
  }
  if (wrapper_ == Wrapper::Trailer) {
    if (takeWrapperBytes(format::kZlibTrailerLength) < format::kZlibTrailerLength) {
      return InflateStatus::kMore;
    }
    if (format::decodeBigEndian32(wrapperBytes_) != adler_) return InflateStatus::kDamaged;
    wrapper_ = Wrapper::Done;
  }
  return InflateStatus::kEnd;
}

bool CompressedStreamReader::handOverToReference() {
  // Failures are rare and final, so the simple way is taken: zlib decodes
  // the deflate data again from its first byte, the output already
  // delivered is counted off, and zlib goes on from there.
  engine_ = newZlibInflater();
  fileReader_.attach(file_, format::kHeaderLength + sizeof format::kZlibHeader, fileReader_.size());
  io_.availIn = 0;
  std::unique_ptr<uint8_t[]> discard(new uint8_t[format::kStreamBufferSize]);
  uint64_t skip = engineOut_;
  while (skip > 0) {
    bool dry = io_.availIn == 0 && !refill();
    InflateSpans out = io_;
    out.nextOut = discard.get();
    out.availOut = skip < format::kStreamBufferSize ? static_cast<std::size_t>(skip)
                                                      : format::kStreamBufferSize;
    InflateStatus result = engine_->inflate(out);
    skip -= static_cast<uint64_t>(out.nextOut - discard.get());
    io_.nextIn = out.nextIn;
    io_.availIn = out.availIn;
    if (skip > 0 && (result != InflateStatus::kMore || (dry && out.availOut > 0))) return false;
  }
  return true;
}

void CompressedStreamReader::restoreTail() {
  // The tail was read from the input before io_.nextIn (this refill or the
  // one before), and never more than the room kept in front of a refill.
  ConstByteRange tail = engine_->tail();
  std::size_t n = tail.length();
  if (n == 0) return;
  io_.nextIn -= n;
  io_.availIn += n;
  std::memmove(input_.get() + (io_.nextIn - input_.get()), tail.begin, n);
}

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
    bool dry = io_.availIn == 0 && !refill();
    InflateStatus result = inflateStep(dry);
    if (result == InflateStatus::kEnd) {
      streamEnded_ = true;
      if (io_.availIn > 0) return fail(Pending::Format);  // bytes after the stream
    } else if (result == InflateStatus::kDamaged) {
      return fail(Pending::Format);
    } else if (io_.availOut > 0) {
      if (io_.availIn > 0) return fail(Pending::Format);  // no progress although input remains
      if (dry) return fail(Pending::End);
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
    bool dry = io_.availIn == 0 && !refill();
    io_.nextOut = scratch;
    io_.availOut = sizeof scratch;
    InflateStatus result = inflateStep(dry);
    if (io_.availOut == 0) {
      damaged_ = true;
    } else if (result == InflateStatus::kEnd) {
      streamEnded_ = true;
    } else if (result == InflateStatus::kDamaged || io_.availIn > 0 || dry) {
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
