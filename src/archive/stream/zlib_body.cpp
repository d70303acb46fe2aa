#include "archive/stream/zlib_body.h"

#include "archive/format/format.h"
#include "archive/inflate/zlib_stream_inflater.h"
#include "base/errors.h"

namespace vna {

ZlibBody::ZlibBody(const FileHandle& file, uint32_t start, uint32_t size,
                   const InflaterEngine* engine)
    : file_(file), start_(start) {
  reader_.attach(file, start, size);
  input_.reset(new uint8_t[kMaxInflateTail + kInputSize]);
  io_.nextIn = input_.get() + kMaxInflateTail;
  io_.availIn = 0;
  engine_ = std::make_unique<ZlibStreamInflater>(engine ? engine->make(*this) : newInflater(*this));
}

bool ZlibBody::refill(InflateSpans& io) {
  uint8_t* start = input_.get() + kMaxInflateTail;
  ByteRange room{start, start + kInputSize};
  reader_.readSome(room);
  io.nextIn = start;
  io.availIn = static_cast<std::size_t>(room.begin - start);
  return io.availIn > 0;
}

void ZlibBody::restart(InflateSpans& io) {
  // The engine that takes over decodes the deflate data from its first
  // byte, after the zlib header.
  reader_.attach(file_, start_ + sizeof format::kZlibHeader, reader_.size());
  io.availIn = 0;
}

bool ZlibBody::used() const { return !reader_.hasMore(); }

BodyBlock ZlibBody::decode(uint8_t* room, std::size_t size) {
  BodyEnding ending = BodyEnding::kMore;
  io_.nextOut = room;
  io_.availOut = size;
  try {
    while (io_.availOut > 0 && ending == BodyEnding::kMore) {
      // With the file used up the engine is still called: it may hold
      // decoded bytes that did not fit the last time.
      if (io_.availIn == 0) refill(io_);
      InflateStatus result = engine_->inflate(io_);
      if (result == InflateStatus::kEnd) {
        ending = io_.availIn > 0 || reader_.hasMore() ? BodyEnding::kTrailing : BodyEnding::kEnd;
      } else if (result == InflateStatus::kDamaged) {
        ending = BodyEnding::kDamaged;
      } else if (io_.availOut > 0) {
        // The engine stopped with room left: either input remains that it
        // cannot use, or the file has nothing more to give.
        if (io_.availIn > 0) {
          ending = BodyEnding::kDamaged;
        } else if (used()) {
          ending = BodyEnding::kCut;
        }
      }
    }
  } catch (...) {
    // The bytes decoded before the failed read are good; the error is met
    // where it lies, after them.
    error_ = std::current_exception();
    ending = BodyEnding::kThrown;
  }
  return BodyBlock{room, static_cast<std::size_t>(io_.nextOut - room), ending};
}

void ZlibBody::raise(BodyEnding ending) const {
  switch (ending) {
    case BodyEnding::kThrown:
      std::rethrow_exception(error_);
    case BodyEnding::kTrailing:
    case BodyEnding::kDamaged:
      throw FormatError();
    default:
      throw UnexpectedEndOfCompressedFile();
  }
}

}  // namespace vna
