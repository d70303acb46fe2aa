#include "archive/stream/block_deflater.h"

#include <cstring>

#include "archive/format/format.h"
#include "fs/errors.h"

namespace vna {

namespace {

// A block is primed with as much of the input before it as deflate can
// refer back to, so matches across the cut cost nothing in ratio.
constexpr std::size_t kWindow = 32768;
static_assert(BlockDeflater::kBlockSize >= 2 * kWindow,
              "a block's dictionary is copied from the previous block's own tail");

enum class State { Free, Filling, Queued, Done, Failed };

}  // namespace

struct BlockDeflater::Block {
  // kWindow bytes of dictionary (the tail of the block before), then the
  // block's own input.
  std::unique_ptr<uint8_t[]> input;
  std::size_t dictionary = 0;
  std::size_t length = 0;
  bool last = false;
  std::unique_ptr<uint8_t[]> output;
  std::size_t capacity = 0;
  std::size_t produced = 0;
  // Changes from Queued only under the deflater's lock.
  State state = State::Free;

  uint8_t* data() { return input.get() + kWindow; }
};

struct BlockDeflater::Worker {
  z_stream stream;
  bool streamOpen = false;
  platform::Thread thread;
  BlockDeflater* owner = nullptr;

  ~Worker() {
    if (streamOpen) deflateEnd(&stream);
  }
};

BlockDeflater::BlockDeflater(unsigned workers, Client& client) : client_(client) {
  if (workers > kMaxWorkers) workers = kMaxWorkers;
  unsigned streams = workers > 0 ? workers : 1;
  workers_.reset(new Worker[streams]);
  for (unsigned i = 0; i < streams; ++i) {
    Worker& worker = workers_[i];
    std::memset(&worker.stream, 0, sizeof worker.stream);
    if (deflateInit2(&worker.stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, format::kRawWindowBits, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw DeflateInitError();
    }
    worker.streamOpen = true;
    worker.owner = this;
  }
  // Enough blocks that every worker has one while the caller fills the
  // next and the oldest waits to be passed on; one when the caller deflates.
  blockCount_ = workers == 0 ? 1 : workers + 2;
  blocks_.reset(new Block[blockCount_]);
  std::size_t capacity = deflateBound(&workers_[0].stream, kBlockSize) + 64;
  for (std::size_t i = 0; i < blockCount_; ++i) {
    // Left uninitialised: pages are touched only when a block is used, so
    // a small archive does not pay for every worker's blocks.
    blocks_[i].input.reset(new uint8_t[kWindow + kBlockSize]);
    blocks_[i].output.reset(new uint8_t[capacity]);
    blocks_[i].capacity = capacity;
  }
  current_ = &blocks_[0];
  current_->state = State::Filling;

  // Threads last: from here on nothing throws, so a started worker never
  // outlives a deflater whose constructor failed. Those that cannot be
  // started are done without; with none, the caller deflates.
  while (workerCount_ < workers) {
    Worker& worker = workers_[workerCount_];
    if (!worker.thread.start(runWorker, &worker)) break;
    ++workerCount_;
  }
}

BlockDeflater::~BlockDeflater() { stopWorkers(); }

void BlockDeflater::stopWorkers() {
  if (workerCount_ == 0) return;
  {
    platform::Locked locked(lock_);
    stopping_ = true;
    workReady_.wakeAll();
  }
  for (unsigned i = 0; i < workerCount_; ++i) workers_[i].thread.join();
  workerCount_ = 0;
}

unsigned BlockDeflater::availableWorkers() {
  unsigned processors = platform::processorsAvailable();
  // With one processor a worker thread would only add switches.
  if (processors <= 1) return 0;
  return processors < kMaxWorkers ? processors : kMaxWorkers;
}

ByteRange BlockDeflater::room() {
  return ByteRange{current_->data() + current_->length, current_->data() + kBlockSize};
}

void BlockDeflater::commit(std::size_t count) {
  current_->length += count;
  if (current_->length == kBlockSize) submit(false);
}

void BlockDeflater::finish() {
  submit(true);
  while (passed_ <= filling_) passOldest();
}

void BlockDeflater::submit(bool last) {
  Block& block = *current_;
  block.last = last;
  client_.taken(ConstByteRange(block.data(), block.data() + block.length));
  if (workerCount_ == 0) {
    block.state = deflateBlock(workers_[0].stream, block) ? State::Done : State::Failed;
  } else {
    platform::Locked locked(lock_);
    block.state = State::Queued;
    ++submitted_;
    workReady_.wakeOne();
  }
  if (!last) startNextBlock();
}

void BlockDeflater::startNextBlock() {
  // Blocks are passed on only when their place is needed (or at the end),
  // never as soon as a worker happens to finish: for a given number of
  // workers the file sees its writes at the same points of the input on
  // every run, so a failed write is met at the same place each time.
  uint64_t next = filling_ + 1;
  while (next - passed_ >= blockCount_) passOldest();
  Block& previous = *current_;
  Block& block = blocks_[next % blockCount_];
  // Only the last block is short, so the one before is always full.
  std::memmove(block.input.get(), previous.data() + kBlockSize - kWindow, kWindow);
  block.dictionary = kWindow;
  block.length = 0;
  block.last = false;
  block.produced = 0;
  block.state = State::Filling;
  filling_ = next;
  current_ = &block;
}

void BlockDeflater::passOldest() {
  Block& block = blocks_[passed_ % blockCount_];
  if (workerCount_ > 0) {
    platform::Locked locked(lock_);
    while (block.state != State::Done && block.state != State::Failed) blockDone_.wait(lock_);
  }
  if (block.state == State::Failed) throw DeflateError();
  block.state = State::Free;
  ++passed_;
  client_.deflated(ConstByteRange(block.output.get(), block.output.get() + block.produced));
}

void BlockDeflater::runWorker(void* worker) {
  Worker& self = *static_cast<Worker*>(worker);
  self.owner->work(self);
}

void BlockDeflater::work(Worker& worker) {
  for (;;) {
    Block* block;
    {
      platform::Locked locked(lock_);
      while (!stopping_ && picked_ == submitted_) workReady_.wait(lock_);
      if (stopping_) return;
      block = &blocks_[picked_++ % blockCount_];
    }
    bool deflated = deflateBlock(worker.stream, *block);
    platform::Locked locked(lock_);
    block->state = deflated ? State::Done : State::Failed;
    blockDone_.wakeOne();
  }
}

bool BlockDeflater::deflateBlock(z_stream& stream, Block& block) {
  if (deflateReset(&stream) != Z_OK) return false;
  if (block.dictionary > 0 &&
      deflateSetDictionary(&stream, block.input.get(), static_cast<uInt>(block.dictionary)) !=
          Z_OK) {
    return false;
  }
  stream.next_in = block.data();
  stream.avail_in = static_cast<uInt>(block.length);
  stream.next_out = block.output.get();
  stream.avail_out = static_cast<uInt>(block.capacity);
  // A sync flush ends the block on a byte boundary with everything
  // emitted, so the next block's bytes can simply follow.
  const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    int result = deflate(&stream, flush);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
    if (block.last ? result == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0) break;
    if (stream.avail_out > 0) return false;  // no progress with room to spare
    // The bound is deflate's own; growing is for safety, not expected.
    std::size_t produced = block.capacity;
    std::unique_ptr<uint8_t[]> larger(new uint8_t[2 * block.capacity]);
    std::memcpy(larger.get(), block.output.get(), produced);
    block.output = std::move(larger);
    block.capacity *= 2;
    stream.next_out = block.output.get() + produced;
    stream.avail_out = static_cast<uInt>(block.capacity - produced);
  }
  block.produced = static_cast<std::size_t>(stream.next_out - block.output.get());
  return true;
}

}  // namespace vna
