// One raw deflate stream made of fixed-size blocks deflated side by side.
//
// The input is cut every kBlockSize bytes, whatever the pieces it arrives
// in. Each block is deflated at level 6 (window 15, memory level 8) with
// the last 32 KiB of the block before it as its dictionary and ends with a
// sync flush; the last block, possibly empty, ends the stream. Within a
// block, the 32 KiB pieces on which deflate cannot gain (gain_probe.h) are
// copied into stored deflate blocks instead, and each run of pieces still
// deflated is primed with the 32 KiB before it. Each block's bytes are
// therefore a function of the input alone: the stream is the same whatever
// the number of workers and however they are scheduled, and any inflater
// reads it as one ordinary deflate stream.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/byte_range.h"
#include "platform/threads.h"

namespace vna {

class BlockDeflater {
 public:
  // Where the input and the output go, on the caller's thread.
  class Client {
   public:
    virtual ~Client() = default;
    // Each block's input, in stream order, once the block is complete and
    // before it is deflated.
    virtual void taken(ConstByteRange input) = 0;
    // Deflated bytes in stream order; may throw (the deflater stays usable
    // only for destruction).
    virtual void deflated(ConstByteRange output) = 0;
  };

  // Measured with bench/block_sizes.c (output against one serial level-6
  // stream; CPU of all blocks against the serial time, noisy to +-5% on a
  // shared machine):
  //   block       /usr/include as one tar     200 MB of /usr/lib
  //   32 KiB      1.0026   1.05-1.13          0.9965   1.03
  //   64 KiB      1.0007   0.98-1.11          0.9988   0.92
  //   128 KiB     1.0003   1.01-1.26          0.9993   0.93
  //   256 KiB     1.0002   0.98-1.03          0.9995   0.92
  //   512 KiB     1.0001   1.04-1.06          0.9997   0.92
  //   1 MiB       1.0001   0.97-1.06          0.9999   0.92
  // From 128 KiB on the cuts cost nothing measurable; 256 KiB keeps the
  // priming (32 KiB per block) to an eighth of the input and still gives a
  // 20 MB tree 80 blocks to spread over the workers, while blocks in
  // flight (workers + 2, about 0.55 MiB each) stay within the memory the
  // program may use with 16 workers.
  static constexpr std::size_t kBlockSize = 256 * 1024;
  static constexpr unsigned kMaxWorkers = 16;

  // `workers` threads deflate (at most kMaxWorkers); with 0 every block is
  // deflated on the caller's thread, with the same result. Threads that
  // cannot be started are done without. Throws DeflateInitError.
  BlockDeflater(unsigned workers, Client& client);
  // Stops and joins every worker; never throws; passes nothing on.
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  // Free room in the current block for the caller to fill; never empty.
  ByteRange room();
  // The first `count` bytes of the last room() are input. A block that
  // fills up is deflated; finished blocks reach the client in order, so
  // this may throw DeflateError or the client's errors.
  void commit(std::size_t count);
  // Ends the stream with the current block and passes on everything still
  // outstanding. Called once, after the last commit. DeflateError or the
  // client's errors.
  void finish();

  // Workers this process should run: one per processor it may run on (its
  // affinity mask), at most kMaxWorkers, and none when it has only one.
  static unsigned availableWorkers();

 private:
  struct Block;
  struct Worker;

  static void runWorker(void* worker);
  void work(Worker& worker);
  // Deflates `block` with the worker's stream, storing the pieces deflate
  // cannot gain on; false when zlib fails.
  static bool deflateBlock(Worker& worker, Block& block);
  // Appends the block's input [begin, end) as deflated or as stored data.
  static bool deflateStretch(z_stream& stream, Block& block, std::size_t begin, std::size_t end);
  static bool storeStretch(Block& block, std::size_t begin, std::size_t end);
  void submit(bool last);
  void startNextBlock();
  // Passes on the oldest outstanding block, waiting for it.
  void passOldest();
  void stopWorkers();

  Client& client_;
  // Fixed in place once made: a z_stream must not move after its init.
  std::unique_ptr<Block[]> blocks_;
  std::size_t blockCount_ = 0;
  std::unique_ptr<Worker[]> workers_;
  unsigned workerCount_ = 0;
  // Sequence numbers: the block being filled, the oldest not yet passed on.
  uint64_t filling_ = 0;
  uint64_t passed_ = 0;
  Block* current_ = nullptr;

  // Shared with the workers, under lock_.
  platform::Lock lock_;
  platform::Condition workReady_;
  platform::Condition blockDone_;
  uint64_t submitted_ = 0;
  uint64_t picked_ = 0;
  bool stopping_ = false;
};

}  // namespace vna
