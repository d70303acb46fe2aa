// Raw deflate decoding: the one step of reading an archive that has more
// than one engine. zlib's inflate runs everywhere; ISA-L's runs where the
// build found it (x86-64 Linux) and decodes two to three times as fast. The
// zlib wrapper (header bytes, Adler-32 trailer) stays with the reader, so the
// engines decode deflate data and nothing else, and the reader keeps one
// contract whichever engine a build picked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fs/byte_range.h"

namespace vna {

// The buffers of one decoding step, advanced by it like zlib's z_stream.
struct InflateSpans {
  const uint8_t* nextIn = nullptr;
  std::size_t availIn = 0;
  uint8_t* nextOut = nullptr;
  std::size_t availOut = 0;
};

enum class InflateStatus {
  kMore,     // the input is used up or the output full; call again with more
  kEnd,      // the final block has ended and all of its bytes are out
  kDamaged,  // the bytes are not deflate data (see isReference)
};

// At most this many input bytes lie in an engine's tail (see tail()).
constexpr std::size_t kMaxInflateTail = 8;

class Inflater {
 public:
  virtual ~Inflater() = default;
  // Decodes from io's input into its output, advancing both. kMore is
  // returned only when availIn or availOut reached zero. After kEnd or
  // kDamaged nothing further is decoded. On kDamaged the reference engine
  // has delivered every good byte before the damage and advanced io past
  // them; another engine's io is then of no use (see isReference).
  virtual InflateStatus inflate(InflateSpans& io) = 0;
  // After kEnd: the input bytes the engine took past the end of the deflate
  // data (an engine that reads ahead of its bit position holds some), oldest
  // first; they belong before io.nextIn. Empty otherwise.
  virtual ConstByteRange tail() const = 0;
  // True for zlib's inflate, the reference: its verdict on damaged or cut
  // off data is final. When another engine fails, the reader hands the
  // stream to the reference, which decodes it again from its start and
  // decides, so that every engine fails exactly as zlib does.
  virtual bool isReference() const { return false; }
};

struct InflaterEngine {
  const char* name;
  std::unique_ptr<Inflater> (*make)();
};

std::unique_ptr<Inflater> newZlibInflater();

// The engine this build reads archives with. Chosen by the build, not at
// run time: the program links one of the inflater_choice_* files.
std::unique_ptr<Inflater> newInflater();
// Every engine this program has, zlib first, the chosen one last; tests and
// the differential fuzzer run the same bytes through each.
const std::vector<InflaterEngine>& inflaterEngines();

}  // namespace vna
