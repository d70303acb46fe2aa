#include "archive/stream/inflate_ahead.h"

#include "archive/format/format.h"
#include "archive/stream/zlib_stream.h"
#include "fs/errors.h"

namespace vna {

InflateAhead::InflateAhead(const FileHandle& file, uint32_t start, uint32_t size,
                           const InflaterEngine* engine, InflateThread thread)
    : file_(file), start_(start) {
  reader_.attach(file, start, size);
  input_.reset(new uint8_t[kMaxInflateTail + kInputSize]);
  io_.nextIn = input_.get() + kMaxInflateTail;
  io_.availIn = 0;
  engine_ = std::make_unique<ZlibStreamInflater>(engine ? engine->make(*this) : newInflater(*this));

  const bool wanted = thread == InflateThread::kOne ||
                      (thread == InflateThread::kWhereProcessors &&
                       platform::processorsAvailable() > 1);
  slotCount_ = wanted ? kBlocksAhead : 1;
  slots_.reset(new Slot[slotCount_]);
  for (std::size_t i = 0; i < slotCount_; ++i) {
    // Left uninitialised: pages are touched only when a block is used, so
    // a small archive does not pay for the blocks it never fills.
    slots_[i].data.reset(new uint8_t[kBlockSize]);
  }

  // The thread last: nothing after it throws, so it never outlives a
  // constructor that failed. Without it, blocks are made on demand.
  if (wanted) thread_.start(inflateAhead, this);
}

InflateAhead::~InflateAhead() {
  if (!thread_.running()) return;
  {
    platform::Locked locked(lock_);
    stopping_ = true;
    returned_.wakeAll();
  }
  thread_.join();
}

bool InflateAhead::refill(InflateSpans& io) {
  uint8_t* start = input_.get() + kMaxInflateTail;
  ByteRange room{start, start + kInputSize};
  reader_.readSome(room);
  io.nextIn = start;
  io.availIn = static_cast<std::size_t>(room.begin - start);
  return io.availIn > 0;
}

void InflateAhead::restart(InflateSpans& io) {
  // The engine that takes over decodes the deflate data from its first
  // byte, after the zlib header.
  reader_.attach(file_, start_ + sizeof format::kZlibHeader, reader_.size());
  io.availIn = 0;
}

bool InflateAhead::used() const { return !reader_.hasMore(); }

void InflateAhead::fill(Slot& slot) {
  uint8_t* const begin = slot.data.get();
  Ending ending = Ending::kMore;
  io_.nextOut = begin;
  io_.availOut = kBlockSize;
  try {
    while (io_.availOut > 0 && ending == Ending::kMore) {
      // With the file used up the engine is still called: it may hold
      // decoded bytes that did not fit the last time.
      if (io_.availIn == 0) refill(io_);
      InflateStatus result = engine_->inflate(io_);
      if (result == InflateStatus::kEnd) {
        ending = io_.availIn > 0 || reader_.hasMore() ? Ending::kTrailing : Ending::kEnd;
      } else if (result == InflateStatus::kDamaged) {
        ending = Ending::kDamaged;
      } else if (io_.availOut > 0) {
        // The engine stopped with room left: either input remains that it
        // cannot use, or the file has nothing more to give.
        if (io_.availIn > 0) {
          ending = Ending::kDamaged;
        } else if (used()) {
          ending = Ending::kCut;
        }
      }
    }
  } catch (...) {
    // The bytes decoded before the failed read are good; the error is met
    // where it lies, after them.
    error_ = std::current_exception();
    ending = Ending::kThrown;
  }
  slot.block.data = begin;
  slot.block.length = static_cast<std::size_t>(io_.nextOut - begin);
  slot.block.ending = ending;
}

InflateAhead::Block InflateAhead::next() {
  if (!thread_.running()) {
    fill(slots_[0]);
    return slots_[0].block;
  }
  platform::Locked locked(lock_);
  // Every block handed out before is given back by this call.
  returnedCount_ = takenCount_;
  returned_.wakeOne();
  while (filledCount_ == takenCount_) filled_.wait(lock_);
  return slots_[takenCount_++ % slotCount_].block;
}

void InflateAhead::raise(Ending ending) const {
  switch (ending) {
    case Ending::kThrown:
      std::rethrow_exception(error_);
    case Ending::kTrailing:
    case Ending::kDamaged:
      throw FormatError();
    default:
      throw UnexpectedEndOfCompressedFile();
  }
}

void InflateAhead::inflateAhead(void* self) {
  InflateAhead& ahead = *static_cast<InflateAhead*>(self);
  for (;;) {
    Slot* slot;
    {
      platform::Locked locked(ahead.lock_);
      while (!ahead.stopping_ && ahead.filledCount_ - ahead.returnedCount_ == ahead.slotCount_) {
        ahead.returned_.wait(ahead.lock_);
      }
      if (ahead.stopping_) return;
      slot = &ahead.slots_[ahead.filledCount_ % ahead.slotCount_];
    }
    ahead.fill(*slot);
    {
      platform::Locked locked(ahead.lock_);
      ++ahead.filledCount_;
      ahead.filled_.wakeOne();
    }
    // Nothing follows a block that ends the stream or its reading.
    if (slot->block.ending != Ending::kMore) return;
  }
}

}  // namespace vna
