// Raw deflate decoding: the one step of reading an archive that has more
// than one engine. zlib's inflate runs everywhere; ISA-L's runs where the
// build found it (x86-64 Linux) and makes extraction about 1.6 to 2 times as
// fast. The zlib wrapper (header bytes, Adler-32 trailer) is the stream's
// (ZlibStreamInflater), so the engines decode deflate data and nothing else,
// and the reader keeps one contract whichever engine a build picked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/byte_range.h"

namespace vna {

// The buffers of one decoding step, advanced by it like zlib's z_stream.
// The input is writable, and the caller keeps kMaxInflateTail bytes of room
// in front of every input piece: an engine that reads ahead of its bit
// position puts what it took past the end of its data back there.
struct InflateSpans {
  uint8_t* nextIn = nullptr;
  std::size_t availIn = 0;
  uint8_t* nextOut = nullptr;
  std::size_t availOut = 0;

  // Moves past what one engine call took and made.
  void advance(std::size_t usedIn, std::size_t madeOut) {
    nextIn += usedIn;
    availIn -= usedIn;
    nextOut += madeOut;
    availOut -= madeOut;
  }
};

enum class InflateStatus {
  kMore,     // the input is used up or the output full; call again with more
  kEnd,      // the final block has ended and all of its bytes are out
  kDamaged,  // the bytes are not deflate data
};

// At most this many input bytes an engine puts back in front of nextIn.
constexpr std::size_t kMaxInflateTail = 8;

// The call loop of an engine whose counters are narrower than the spans:
// `step(io, in, out)` runs the engine once over the first `in` input and
// `out` output bytes of io (each at most `maxStep`), advances io past what
// it took and made, and returns kEnd or kDamaged to stop or kMore to go on.
// The loop returns kMore once either span is used up, and kDamaged when a
// step with room on both sides makes no progress.
template <class Step>
InflateStatus driveEngine(InflateSpans& io, std::size_t maxStep, Step step) {
  for (;;) {
    const std::size_t availIn = io.availIn;
    const std::size_t availOut = io.availOut;
    InflateStatus status = step(io, availIn < maxStep ? availIn : maxStep,
                                availOut < maxStep ? availOut : maxStep);
    if (status != InflateStatus::kMore) return status;
    if (io.availIn == 0 || io.availOut == 0) return InflateStatus::kMore;
    if (io.availIn == availIn && io.availOut == availOut) return InflateStatus::kDamaged;
  }
}

// Where the deflate data comes from, for an engine that may have to decode
// it again from its first byte.
class InflateInput {
 public:
  virtual ~InflateInput() = default;
  // Loads the next piece into io's input; false when the file has no more.
  virtual bool refill(InflateSpans& io) = 0;
  // Empties io's input; the next refill starts at the first deflate byte.
  virtual void restart(InflateSpans& io) = 0;
  // True when a refill would find nothing more.
  virtual bool used() const = 0;
};

class Inflater {
 public:
  virtual ~Inflater() = default;
  // Decodes from io's input into its output, advancing both. kMore is
  // returned only when availIn or availOut reached zero. After kEnd or
  // kDamaged nothing further is decoded. Every good byte before damage or
  // a cut is delivered, and no other: exactly the bytes zlib's inflate
  // gives, whichever engine decodes. On kEnd io.nextIn stands just past the
  // deflate data.
  virtual InflateStatus inflate(InflateSpans& io) = 0;
};

struct InflaterEngine {
  const char* name;
  std::unique_ptr<Inflater> (*make)(InflateInput& input);
};

// zlib's inflate, the reference: its verdict on damaged or cut off data is
// the one every engine gives. It reads its input once.
std::unique_ptr<Inflater> newZlibInflater();

// The engine this build reads archives with. Chosen by the build, not at
// run time: the program links one of the inflater_choice_* files.
std::unique_ptr<Inflater> newInflater(InflateInput& input);

// Every engine this program has, zlib first, the chosen one last; tests and
// the differential fuzzer run the same bytes through each.
const std::vector<InflaterEngine>& inflaterEngines();

}  // namespace vna
