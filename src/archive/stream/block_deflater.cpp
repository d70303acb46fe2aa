#include "archive/stream/block_deflater.h"

#include <cstring>

#include "archive/format/format.h"
#include "archive/stream/gain_probe.h"
#include "base/errors.h"

namespace vna {

namespace {

// A block is primed with as much of the input before it as deflate can
// refer back to, so matches across the cut cost nothing in ratio.
constexpr std::size_t kWindow = 32768;
static_assert(BlockDeflater::kBlockSize >= 2 * kWindow,
              "a block's dictionary is copied from the previous block's own tail");
static_assert(GainProbe::kWindow == kWindow, "the probe looks back as far as deflate");
constexpr std::size_t kPieces = BlockDeflater::kBlockSize / GainProbe::kPieceSize;
static_assert(kPieces * GainProbe::kPieceSize == BlockDeflater::kBlockSize,
              "a full block is whole pieces, so a verdict never depends on where blocks are cut");
// A stored deflate block holds at most this many bytes (its length field).
constexpr std::size_t kMaxStored = 65535;
// What a stretch adds beyond its bytes: a deflated one ends with a sync
// flush, a stored one has a 5-byte header per kMaxStored bytes.
constexpr std::size_t kStretchOverhead = 32;

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
  // How much input lies before `offset` of the block, up to a window.
  std::size_t before(std::size_t offset) const {
    return dictionary + offset < kWindow ? dictionary + offset : kWindow;
  }
};

struct BlockDeflater::Worker {
  z_stream stream;
  bool streamOpen = false;
  GainProbe probe;
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
  std::size_t capacity =
      deflateBound(&workers_[0].stream, kBlockSize) + 64 + kPieces * kStretchOverhead;
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
    block.state = deflateBlock(workers_[0], block) ? State::Done : State::Failed;
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
    bool deflated = deflateBlock(worker, *block);
    platform::Locked locked(lock_);
    block->state = deflated ? State::Done : State::Failed;
    blockDone_.wakeOne();
  }
}

bool BlockDeflater::deflateBlock(Worker& worker, Block& block) {
  block.produced = 0;
  if (block.length == 0) return deflateStretch(worker.stream, block, 0, 0);
  // The verdict of each piece, then one stretch of output per run of equal
  // verdicts: a block of text alone is deflated exactly as one piece.
  bool deflate[kPieces];
  const std::size_t pieces = (block.length + GainProbe::kPieceSize - 1) / GainProbe::kPieceSize;
  for (std::size_t k = 0; k < pieces; ++k) {
    std::size_t begin = k * GainProbe::kPieceSize;
    std::size_t length = block.length - begin < GainProbe::kPieceSize ? block.length - begin
                                                                       : GainProbe::kPieceSize;
    deflate[k] = worker.probe.worthDeflating(block.data() + begin, length, block.before(begin));
  }
  for (std::size_t k = 0; k < pieces;) {
    std::size_t next = k + 1;
    while (next < pieces && deflate[next] == deflate[k]) ++next;
    std::size_t begin = k * GainProbe::kPieceSize;
    std::size_t end = next * GainProbe::kPieceSize < block.length ? next * GainProbe::kPieceSize
                                                                  : block.length;
    if (deflate[k] ? !deflateStretch(worker.stream, block, begin, end)
                   : !storeStretch(block, begin, end)) {
      return false;
    }
    k = next;
  }
  return true;
}

bool BlockDeflater::deflateStretch(z_stream& stream, Block& block, std::size_t begin,
                                   std::size_t end) {
  // Primed with the 32 KiB before the stretch, stored bytes included: an
  // inflater has them in its window just the same.
  const std::size_t dictionary = block.before(begin);
  if (deflateReset(&stream) != Z_OK) return false;
  if (dictionary > 0 && deflateSetDictionary(&stream, block.data() + begin - dictionary,
                                             static_cast<uInt>(dictionary)) != Z_OK) {
    return false;
  }
  const bool final = block.last && end == block.length;
  stream.next_in = block.data() + begin;
  stream.avail_in = static_cast<uInt>(end - begin);
  stream.next_out = block.output.get() + block.produced;
  stream.avail_out = static_cast<uInt>(block.capacity - block.produced);
  // A sync flush ends the stretch on a byte boundary with everything
  // emitted, so whatever comes next can simply follow.
  const int flush = final ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    int result = deflate(&stream, flush);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
    if (final ? result == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0) break;
    // The room is deflate's own bound plus each stretch's overhead: running
    // out of it, or stalling with room to spare, is a broken deflate.
    return false;
  }
  block.produced = static_cast<std::size_t>(stream.next_out - block.output.get());
  return true;
}

bool BlockDeflater::storeStretch(Block& block, std::size_t begin, std::size_t end) {
  // Every stretch starts on a byte boundary, so a stored block's three
  // header bits fill its first byte: BFINAL, then type 00.
  const bool final = block.last && end == block.length;
  while (begin < end) {
    std::size_t length = end - begin < kMaxStored ? end - begin : kMaxStored;
    // Within the bound the room was sized by, as for deflated stretches.
    if (block.capacity - block.produced < 5 + length) return false;
    uint8_t* out = block.output.get() + block.produced;
    out[0] = final && begin + length == end ? 1 : 0;
    out[1] = static_cast<uint8_t>(length);
    out[2] = static_cast<uint8_t>(length >> 8);
    out[3] = static_cast<uint8_t>(~length);
    out[4] = static_cast<uint8_t>(~length >> 8);
    std::memcpy(out + 5, block.data() + begin, length);
    block.produced += 5 + length;
    begin += length;
  }
  return true;
}

}  // namespace vna
