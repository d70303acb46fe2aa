// The zlib body of an archive: the stream after the header, decoded by the
// build's inflater (or a given one) inside the zlib wrapper. It owns its
// input buffer, its engine and the engine's input, so the loop between
// file, engine and output stays here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "archive/inflate/inflater.h"
#include "archive/stream/body_decoder.h"
#include "fs/file_handle.h"
#include "fs/file_reader.h"

namespace vna {

class ZlibBody : public BodyDecoder, private InflateInput {
 public:
  // The zlib stream starts at `start` in `file`, whose size is `size`.
  // Decoded by `engine`, or by the build's own when none is given.
  ZlibBody(const FileHandle& file, uint32_t start, uint32_t size, const InflaterEngine* engine);
  BodyBlock decode(uint8_t* room, std::size_t size) override;
  // UnexpectedEndOfCompressedFile (kEnd, kCut), FormatError (kTrailing,
  // kDamaged), or the error reading the file raised (kThrown).
  [[noreturn]] void raise(BodyEnding ending) const override;

  // Engines pay a fixed cost per call (ISA-L keeps its 32 KiB window by
  // copying), so input comes in long pieces.
  static constexpr std::size_t kInputSize = 128 * 1024;

 private:
  bool refill(InflateSpans& io) override;
  void restart(InflateSpans& io) override;
  bool used() const override;

  const FileHandle& file_;
  const uint32_t start_;
  FileReader reader_;
  std::unique_ptr<Inflater> engine_;
  InflateSpans io_;
  // Refills land after kMaxInflateTail bytes of room, where an engine puts
  // back what it read past the end of the deflate data.
  std::unique_ptr<uint8_t[]> input_;
  std::exception_ptr error_;
};

}  // namespace vna
