#include "archive/compressed_reader.h"

#include <cstring>
#include <stdexcept>

#include "archive/adler32.h"
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

CompressedStreamReader::CompressedStreamReader(FileHandle& file)
    : pushBack_(section_), source_(pushBack_) {
  std::memset(&stream_, 0, sizeof stream_);
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
    stream_.next_in = input_;
    stream_.avail_in = 0;
    if (inflateInit2_(&stream_, format::kRawWindowBits, "1.2.2", static_cast<int>(sizeof stream_)) !=
        Z_OK) {
      throw FormatError();
    }
    compressed_ = true;
  } else if (std::memcmp(magic, format::kStoredMagic, format::kMagicLength) != 0) {
    pushBack_.unread(ConstByteRange(magic, magic + sizeof magic));
    pushBack_.unread(ConstByteRange(check, check + sizeof check));
    throw FileStartingBytesNotRecognized();
  }
}

CompressedStreamReader::~CompressedStreamReader() {
  if (compressed_) inflateEnd(&stream_);
}

bool CompressedStreamReader::refill() {
  ByteRange room{input_, input_ + sizeof input_};
  source_.readSome(room);
  stream_.next_in = input_;
  stream_.avail_in = static_cast<uInt>(room.begin - input_);
  return stream_.avail_in > 0;
}

std::size_t CompressedStreamReader::takeWrapperBytes(std::size_t wanted) {
  while (wrapperHave_ < wanted && stream_.avail_in > 0) {
    wrapperBytes_[wrapperHave_++] = *stream_.next_in++;
    --stream_.avail_in;
  }
  return wrapperHave_;
}

int CompressedStreamReader::inflateStep() {
  // zlib's own wrapper handling, with the Adler-32 taken by the faster
  // form; the results are those zlib's inflate gives for the same bytes.
  if (wrapper_ == Wrapper::Header) {
    if (takeWrapperBytes(sizeof format::kZlibHeader) < sizeof format::kZlibHeader) {
      return Z_BUF_ERROR;
    }
    if (!format::acceptableZlibHeader(wrapperBytes_)) return Z_DATA_ERROR;
    wrapper_ = Wrapper::Body;
    wrapperHave_ = 0;
  }
  if (wrapper_ == Wrapper::Body) {
    uint8_t* before = stream_.next_out;
    int result = inflate(&stream_, Z_SYNC_FLUSH);
    adler_ = adler::update(adler_, before, stream_.next_out);
    if (result != Z_STREAM_END) return result;
    wrapper_ = Wrapper::Trailer;
  }
  if (wrapper_ == Wrapper::Trailer) {
    if (takeWrapperBytes(format::kZlibTrailerLength) < format::kZlibTrailerLength) {
      return Z_BUF_ERROR;
    }
    if (format::decodeBigEndian32(wrapperBytes_) != adler_) return Z_DATA_ERROR;
    wrapper_ = Wrapper::Done;
  }
  return Z_STREAM_END;
}

void CompressedStreamReader::raise(Pending what) {
  if (what == Pending::Format) throw FormatError();
  throw UnexpectedEndOfCompressedFile();
}

std::size_t CompressedStreamReader::inflateInto(uint8_t* begin, uint8_t* end, bool partial) {
  stream_.next_out = begin;
  stream_.avail_out = static_cast<uInt>(end - begin);
  // A failure after some bytes came out is kept for the next call when
  // `partial`: the bytes before it are good and may be all the caller needs.
  auto fail = [&](Pending what) -> std::size_t {
    std::size_t produced = static_cast<std::size_t>(stream_.next_out - begin);
    if (!partial || produced == 0) raise(what);
    pending_ = what;
    return produced;
  };
  while (stream_.avail_out > 0) {
    if (pending_ != Pending::None) return fail(pending_);
    if (streamEnded_) {
      // More record bytes were asked for than the stream holds.
      return fail(stream_.avail_in > 0 || source_.hasMore() ? Pending::Format : Pending::End);
    }
    if (stream_.avail_in == 0 && !refill()) return fail(Pending::End);
    int result = inflateStep();
    if (result == Z_STREAM_END) {
      streamEnded_ = true;
      if (stream_.avail_in > 0) return fail(Pending::Format);  // bytes after the stream
    } else if (result == Z_BUF_ERROR) {
      // No progress: only legitimate when the input ran dry.
      if (stream_.avail_in > 0) return fail(Pending::Format);
    } else if (result != Z_OK) {
      return fail(Pending::Format);
    }
  }
  return static_cast<std::size_t>(end - begin);
}

void CompressedStreamReader::read(ByteRange range) {
  if (finished_) throw std::logic_error("archive read after its end test");
  if (compressed_) {
    // Large reads inflate straight into the caller's range. Small ones (the
    // fields of a record) are served from a block inflated ahead, so that
    // zlib decodes in long runs instead of a few bytes per call; the check
    // value of those is taken a whole block at a time (see takeBlockCrc).
    uint8_t* p = range.begin;
    while (p != range.end) {
      std::size_t want = static_cast<std::size_t>(range.end - p);
      if (outNext_ < outEnd_) {
        std::size_t take = want < outEnd_ - outNext_ ? want : outEnd_ - outNext_;
        std::memcpy(p, output_ + outNext_, take);
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
        outEnd_ = inflateInto(output_, output_ + sizeof output_, true);
      }
    }
  } else {
    source_.readExact(range);
    crc_.update(range.begin, range.end);
  }
  consumed_ += range.length();
  if (limitArmed_ && consumed_ > limit_) throw UntrustedByteLimitExceeded();
}

void CompressedStreamReader::takeBlockCrc() {
  // Only delivered bytes count, in the order delivered: the span of the
  // block handed out since the last time.
  crc_.update(output_ + crcFrom_, output_ + outNext_);
  crcFrom_ = outNext_;
}

bool CompressedStreamReader::finishStream() {
  // The last record byte can come out of one refill while the end of the
  // deflate data and the Adler-32 trailer lie in the next: let the inflater
  // take them, and count any byte it still produces as trailing data.
  uint8_t scratch[1];
  while (!streamEnded_ && !damaged_) {
    if (stream_.avail_in == 0 && !refill()) {
      damaged_ = true;
      break;
    }
    stream_.next_out = scratch;
    stream_.avail_out = sizeof scratch;
    int result = inflateStep();
    if (stream_.avail_out == 0) {
      damaged_ = true;
    } else if (result == Z_STREAM_END) {
      streamEnded_ = true;
    } else if (result != Z_OK && (result != Z_BUF_ERROR || stream_.avail_in > 0)) {
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
    return stream_.avail_in == 0 && !source_.hasMore();
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
