#include <zlib.h>

#include <cstring>

#include "archive/format/format.h"
#include "archive/inflate/inflater.h"

namespace vna {
namespace {

class ZlibInflater : public Inflater {
 public:
  ZlibInflater() {
    std::memset(&stream_, 0, sizeof stream_);
    // Only memory can be short here; the first call then reports damage,
    // which the reader turns into its format error.
    ready_ = inflateInit2(&stream_, format::kRawWindowBits) == Z_OK;
  }
  ~ZlibInflater() override {
    if (ready_) inflateEnd(&stream_);
  }

  InflateStatus inflate(InflateSpans& io) override {
    if (!ready_) return InflateStatus::kDamaged;
    // zlib's counters are 32 bits wide on every target: larger spans are
    // handed over in parts, which inflate takes as one stream.
    return driveEngine(io, 0x40000000, [this](InflateSpans& span, std::size_t in, std::size_t out) {
      stream_.next_in = span.nextIn;
      stream_.avail_in = static_cast<uInt>(in);
      stream_.next_out = span.nextOut;
      stream_.avail_out = static_cast<uInt>(out);
      int result = ::inflate(&stream_, Z_SYNC_FLUSH);
      span.advance(in - stream_.avail_in, out - stream_.avail_out);
      if (result == Z_STREAM_END) return InflateStatus::kEnd;
      // Z_BUF_ERROR only says that no progress was possible because the
      // input ran dry or the output was full, which is not damage.
      if (result != Z_OK && result != Z_BUF_ERROR) return InflateStatus::kDamaged;
      return InflateStatus::kMore;
    });
  }

 private:
  z_stream stream_;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<Inflater> newZlibInflater() { return std::make_unique<ZlibInflater>(); }

}  // namespace vna
