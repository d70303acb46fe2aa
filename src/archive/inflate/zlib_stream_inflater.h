// The zlib wrapper around a raw deflate engine: the two header bytes are
// checked as zlib's inflate checks them, and the Adler-32 of everything
// decoded must match the trailer. This program drives zlib in raw mode and
// keeps the wrapper itself, so that the Adler-32 is taken by the faster form
// and every engine sits inside the same wrapper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/inflate/inflater.h"

namespace vna {

class ZlibStreamInflater : public Inflater {
 public:
  explicit ZlibStreamInflater(std::unique_ptr<Inflater> deflate) : deflate_(std::move(deflate)) {}
  // Decodes a whole zlib stream: kEnd only after a matching trailer,
  // kDamaged for a header zlib refuses or a trailer that does not match.
  // kMore also while header or trailer bytes wait for more input.
  InflateStatus inflate(InflateSpans& io) override;

 private:
  std::size_t takeWrapperBytes(InflateSpans& io, std::size_t wanted);

  std::unique_ptr<Inflater> deflate_;
  enum class Part { Header, Body, Trailer, Done };
  Part part_ = Part::Header;
  uint8_t bytes_[4];
  std::size_t have_ = 0;
  uint32_t adler_ = 1;
};

}  // namespace vna
