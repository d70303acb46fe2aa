#include "archive/stream/read_ahead.h"

namespace vna {

ReadAhead::ReadAhead(BodyDecoder& decoder, InflateThread thread) : decoder_(decoder) {
  const bool wanted = thread == InflateThread::kOne ||
                      (thread == InflateThread::kWhereProcessors &&
                       platform::processorsAvailable() > 1);
  blockCount_ = wanted ? kBlocksAhead : 1;
  // Left uninitialised: pages are touched only when a block is used, so a
  // small archive does not pay for the blocks it never fills.
  room_.reset(new uint8_t[blockCount_ * kBlockSize]);
  made_.reset(new BodyBlock[blockCount_]);
  // The thread last: nothing after it throws, so it never outlives a
  // constructor that failed. Without it, blocks are made on demand.
  if (wanted) thread_.start(decodeAhead, this);
}

ReadAhead::~ReadAhead() {
  if (!thread_.running()) return;
  {
    platform::Locked locked(lock_);
    progress_.stopping = true;
    returned_.wakeAll();
  }
  thread_.join();
}

BodyBlock ReadAhead::next() {
  if (!thread_.running()) return decoder_.decode(room_.get(), kBlockSize);
  platform::Locked locked(lock_);
  // Every block handed out before is given back by this call.
  progress_.returned = progress_.taken;
  returned_.wakeOne();
  while (progress_.decoded == progress_.taken) decoded_.wait(lock_);
  return made_[progress_.taken++ % blockCount_];
}

void ReadAhead::decodeAhead(void* self) {
  ReadAhead& ahead = *static_cast<ReadAhead*>(self);
  Progress& progress = ahead.progress_;
  for (;;) {
    std::size_t slot;
    {
      platform::Locked locked(ahead.lock_);
      while (!progress.stopping && progress.decoded - progress.returned == ahead.blockCount_) {
        ahead.returned_.wait(ahead.lock_);
      }
      if (progress.stopping) return;
      slot = progress.decoded % ahead.blockCount_;
    }
    // The slot is neither held by the reader nor waiting for it.
    BodyBlock block = ahead.decoder_.decode(ahead.room_.get() + slot * kBlockSize, kBlockSize);
    {
      platform::Locked locked(ahead.lock_);
      ahead.made_[slot] = block;
      ++progress.decoded;
      ahead.decoded_.wakeOne();
    }
    // Nothing follows a block that ends the body or its reading.
    if (block.ending != BodyEnding::kMore) return;
  }
}

}  // namespace vna
