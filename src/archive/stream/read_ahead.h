// An archive body's blocks made ahead of the one reading them: on a thread
// of its own while the reader's thread writes files, or, without that
// thread, on the reader's thread when it asks for the next block. Both ways
// run the same decoder over the same blocks, so the bytes delivered and the
// point where the body ends or fails are the same, whatever the number of
// threads. After construction only the decoder reads the archive file and
// moves its position; the reader's thread may still ask about it (its
// identity), which neither reads nor moves anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/stream/body_decoder.h"
#include "platform/threads.h"

namespace vna {

// Whether the body is decoded on a thread of its own.
enum class InflateThread {
  kWhereProcessors,  // where the process may run on more than one processor
  kNone,             // never: each block is made when it is asked for
  kOne,              // always, if the thread can be started
};

class ReadAhead {
 public:
  // Engines pay a fixed cost per call, so blocks are long.
  static constexpr std::size_t kBlockSize = 256 * 1024;
  // Blocks in flight with the thread: the one being read, the one being
  // decoded and two to absorb the difference in pace (creating one file
  // takes far longer than decoding its record).
  static constexpr std::size_t kBlocksAhead = 4;

  // `decoder` outlives this object. Never throws after the thread has
  // started.
  ReadAhead(BodyDecoder& decoder, InflateThread thread);
  // Stops and joins the thread; never throws.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block, in body order; the block before it is given back and
  // must not be read any more. Not called again after a block whose ending
  // is not kMore.
  BodyBlock next();

 private:
  static void decodeAhead(void* self);

  // Where the ring stands, shared with the thread under lock_. Blocks are
  // numbered from 0 in body order; block n lives in slot n % blockCount_.
  struct Progress {
    uint64_t decoded = 0;   // blocks the decoder has finished
    uint64_t taken = 0;     // blocks handed to the reader
    uint64_t returned = 0;  // blocks the reader gave back
    bool stopping = false;
  };

  BodyDecoder& decoder_;
  std::unique_ptr<uint8_t[]> room_;
  std::size_t blockCount_ = 1;
  // What each slot holds once decoded.
  std::unique_ptr<BodyBlock[]> made_;
  platform::Lock lock_;
  platform::Condition decoded_;
  platform::Condition returned_;
  Progress progress_;
  // Last: joined before the members it uses go.
  platform::Thread thread_;
};

}  // namespace vna
