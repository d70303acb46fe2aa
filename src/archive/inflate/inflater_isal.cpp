#include <isa-l/igzip_lib.h>

#include <limits>

#include "archive/inflate/inflater.h"
#include "archive/inflate/hand_over_inflater.h"
#include "archive/inflate/inflater_isal.h"

namespace vna {
namespace {

class IsalInflater : public Inflater {
 public:
  IsalInflater() {
    isal_inflate_init(&state_);
    state_.crc_flag = ISAL_DEFLATE;  // raw deflate: ZlibStreamInflater checks the wrapper
    state_.hist_bits = 0;            // the full 32 KiB window
  }

  InflateStatus inflate(InflateSpans& io) override {
    if (failed_) return InflateStatus::kDamaged;
    if (ended_) return InflateStatus::kEnd;
    constexpr std::size_t kMaxStep = std::numeric_limits<uint32_t>::max() / 2;
    InflateStatus status = driveEngine(io, kMaxStep, [this](InflateSpans& span, std::size_t in,
                                                            std::size_t out) {
      state_.next_in = span.nextIn;
      state_.avail_in = static_cast<uint32_t>(in);
      state_.next_out = span.nextOut;
      state_.avail_out = static_cast<uint32_t>(out);
      int result = isal_inflate(&state_);
      // After damage ISA-L's buffer pointers are not to be trusted (it may
      // put back more input than this call took). Nothing of the call is
      // used then: zlib takes the stream over (see hand_over_inflater.h).
      if (result < 0 || state_.avail_in > in || state_.avail_out > out) {
        return InflateStatus::kDamaged;
      }
      span.advance(in - state_.avail_in, out - state_.avail_out);
      if (state_.block_state != ISAL_BLOCK_FINISH) return InflateStatus::kMore;
      ended_ = true;
      putBackReadAhead(span);
      return InflateStatus::kEnd;
    });
    if (status == InflateStatus::kDamaged) failed_ = true;
    return status;
  }

 private:
  // ISA-L reads whole bytes into a 64-bit bit buffer ahead of its position,
  // and with raw deflate it keeps them there at the end of the final block:
  // version 2.30 has no call that returns them, so they are taken from the
  // public fields of its state (read_in, read_in_length). The rest of the
  // current byte is padding; the whole bytes after it follow the deflate
  // data and go back in front of the input, where the caller keeps room.
  void putBackReadAhead(InflateSpans& io) {
    int32_t bits = state_.read_in_length;
    if (bits <= 0) return;
    uint64_t rest = state_.read_in >> (bits % 8);
    std::size_t count = static_cast<std::size_t>(bits / 8);
    io.nextIn -= count;
    io.availIn += count;
    for (std::size_t i = 0; i < count; ++i) io.nextIn[i] = static_cast<uint8_t>(rest >> (8 * i));
  }

  inflate_state state_;
  bool failed_ = false;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Inflater> newIsalInflater(InflateInput& input) {
  return newHandOverInflater(std::make_unique<IsalInflater>(), input);
}

}  // namespace vna
