// The decoded bytes of an archive's zlib body, in blocks made ahead of the
// one reading them: on a thread of its own while the reader's thread writes
// files, or, without that thread, on the reader's thread when it asks for
// the next block. Both ways run the same decoding step over the same blocks,
// so the bytes delivered and the point where the stream ends or fails are
// the same, whatever the number of threads.
//
// Only the inflating side touches the archive file after construction; the
// reader's thread never waits on it except through next().
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "archive/inflate/inflater.h"
#include "fs/file_streams.h"
#include "platform/threads.h"

namespace vna {

// Whether the body is inflated on a thread of its own.
enum class InflateThread {
  kWhereProcessors,  // where the process may run on more than one processor
  kNone,             // never: each block is made when it is asked for
  kOne,              // always, if the thread can be started
};

class InflateAhead : private InflateInput {
 public:
  // What follows the bytes of a block.
  enum class Ending {
    kMore,      // more blocks follow; the block is full
    kEnd,       // the zlib stream has ended (trailer verified), nothing after it
    kTrailing,  // the zlib stream has ended and more bytes follow in the file
    kDamaged,   // the data is not a zlib stream here
    kCut,       // the file ends inside the stream
    kThrown,    // reading the file failed; raise() rethrows that error
  };
  struct Block {
    const uint8_t* data = nullptr;
    std::size_t length = 0;
    Ending ending = Ending::kMore;
  };

  // Engines pay a fixed cost per call (ISA-L keeps its 32 KiB window by
  // copying), so they are called for long runs of output and input.
  static constexpr std::size_t kBlockSize = 256 * 1024;
  static constexpr std::size_t kInputSize = 128 * 1024;
  // Blocks in flight with the thread: the one being read, the one being
  // inflated and two to absorb the difference in pace (one file created
  // takes far longer than the bytes of its record).
  static constexpr std::size_t kBlocksAhead = 4;

  // The zlib stream starts at `start` in `file`, whose size is `size`. The
  // stream is decoded by `engine`, or by the build's own when none is
  // given. Never throws after the thread has started.
  InflateAhead(const FileHandle& file, uint32_t start, uint32_t size, const InflaterEngine* engine,
               InflateThread thread);
  // Stops and joins the thread; never throws.
  ~InflateAhead() override;
  InflateAhead(const InflateAhead&) = delete;
  InflateAhead& operator=(const InflateAhead&) = delete;

  // The next block, in stream order; the block before it is given back and
  // must not be read any more. Not called again after a block whose ending
  // is not kMore.
  Block next();
  // Throws what a read past a block of this ending meets:
  // UnexpectedEndOfCompressedFile (kEnd, kCut), FormatError (kTrailing,
  // kDamaged), or the error that reading the file raised (kThrown).
  [[noreturn]] void raise(Ending ending) const;
  bool threaded() const { return thread_.running(); }

 private:
  struct Slot {
    std::unique_ptr<uint8_t[]> data;
    Block block;
  };

  bool refill(InflateSpans& io) override;
  void restart(InflateSpans& io) override;
  bool used() const override;
  // Decodes the next block into `slot`: until it is full or the stream
  // ends or fails.
  void fill(Slot& slot);
  static void inflateAhead(void* self);

  const FileHandle& file_;
  const uint32_t start_;
  FileReader reader_;
  std::unique_ptr<Inflater> engine_;
  InflateSpans io_;
  // Refills land after kMaxInflateTail bytes of room, where an engine puts
  // back what it read past the end of the deflate data.
  std::unique_ptr<uint8_t[]> input_;
  std::exception_ptr error_;
  std::unique_ptr<Slot[]> slots_;
  std::size_t slotCount_ = 1;

  // Shared with the thread, under lock_: blocks filled, blocks handed to
  // the reader, blocks it has given back.
  platform::Lock lock_;
  platform::Condition filled_;
  platform::Condition returned_;
  uint64_t filledCount_ = 0;
  uint64_t takenCount_ = 0;
  uint64_t returnedCount_ = 0;
  bool stopping_ = false;
  // Last: joined before the members it uses go.
  platform::Thread thread_;
};

}  // namespace vna
