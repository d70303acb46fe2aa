#include "archive/inflate/zlib_stream_inflater.h"

#include "archive/checks/adler32.h"
#include "archive/format/format.h"

namespace vna {

std::size_t ZlibStreamInflater::takeWrapperBytes(InflateSpans& io, std::size_t wanted) {
  while (have_ < wanted && io.availIn > 0) {
    bytes_[have_++] = *io.nextIn++;
    --io.availIn;
  }
  return have_;
}

InflateStatus ZlibStreamInflater::inflate(InflateSpans& io) {
  if (part_ == Part::Header) {
    if (takeWrapperBytes(io, sizeof format::kZlibHeader) < sizeof format::kZlibHeader) {
      return InflateStatus::kMore;
    }
    if (!format::acceptableZlibHeader(bytes_)) return InflateStatus::kDamaged;
    part_ = Part::Body;
    have_ = 0;
  }
  if (part_ == Part::Body) {
    uint8_t* before = io.nextOut;
    InflateStatus result = deflate_->inflate(io);
    adler_ = adler::update(adler_, before, io.nextOut);
    if (result != InflateStatus::kEnd) return result;
    part_ = Part::Trailer;
  }
  if (part_ == Part::Trailer) {
    if (takeWrapperBytes(io, format::kZlibTrailerLength) < format::kZlibTrailerLength) {
      return InflateStatus::kMore;
    }
    if (format::decodeBigEndian32(bytes_) != adler_) return InflateStatus::kDamaged;
    part_ = Part::Done;
  }
  return InflateStatus::kEnd;
}

}  // namespace vna
