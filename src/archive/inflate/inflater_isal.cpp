#include <isa-l/igzip_lib.h>

#include <limits>

#include "archive/inflate/inflater.h"
#include "archive/inflate/inflater_isal.h"

namespace vna {
namespace {

class IsalInflater : public Inflater {
 public:
  IsalInflater() {
    isal_inflate_init(&state_);
    state_.crc_flag = ISAL_DEFLATE;  // raw deflate: the reader owns the wrapper
    state_.hist_bits = 0;            // the full 32 KiB window
  }

  InflateStatus inflate(InflateSpans& io) override {
    if (failed_) return InflateStatus::kDamaged;
    if (ended_) return InflateStatus::kEnd;
    constexpr std::size_t kMaxStep = std::numeric_limits<uint32_t>::max() / 2;
    for (;;) {
      std::size_t in = io.availIn < kMaxStep ? io.availIn : kMaxStep;
      std::size_t out = io.availOut < kMaxStep ? io.availOut : kMaxStep;
      state_.next_in = const_cast<uint8_t*>(io.nextIn);
      state_.avail_in = static_cast<uint32_t>(in);
      state_.next_out = io.nextOut;
      state_.avail_out = static_cast<uint32_t>(out);
      int result = isal_inflate(&state_);
      // After damage ISA-L's buffer pointers are not to be trusted (it may
      // put back more input than this call took). Nothing of the call is
      // used then: the reader hands the stream to the reference engine.
      if (result < 0 || state_.avail_in > in || state_.avail_out > out) {
        failed_ = true;
        return InflateStatus::kDamaged;
      }
      std::size_t usedIn = in - state_.avail_in;
      std::size_t madeOut = out - state_.avail_out;
      io.nextIn += usedIn;
      io.availIn -= usedIn;
      io.nextOut += madeOut;
      io.availOut -= madeOut;
      if (state_.block_state == ISAL_BLOCK_FINISH) {
        ended_ = true;
        keepTail();
        return InflateStatus::kEnd;
      }
      if (io.availIn == 0 || io.availOut == 0) return InflateStatus::kMore;
      if (usedIn == 0 && madeOut == 0) {
        failed_ = true;
        return InflateStatus::kDamaged;
      }
    }
  }

  ConstByteRange tail() const override { return ConstByteRange(tail_, tail_ + tailLength_); }

 private:
  // ISA-L reads whole bytes into a 64-bit bit buffer ahead of its position.
  // At the end of the final block the rest of the current byte is padding;
  // the whole bytes after it are the input that follows the deflate data.
  void keepTail() {
    int32_t bits = state_.read_in_length;
    if (bits <= 0) return;
    uint64_t rest = state_.read_in >> (bits % 8);
    tailLength_ = static_cast<std::size_t>(bits / 8);
    for (std::size_t i = 0; i < tailLength_; ++i) tail_[i] = static_cast<uint8_t>(rest >> (8 * i));
  }

  inflate_state state_;
  bool failed_ = false;
  bool ended_ = false;
  uint8_t tail_[kMaxInflateTail];
  std::size_t tailLength_ = 0;
};

}  // namespace

std::unique_ptr<Inflater> newIsalInflater() { return std::make_unique<IsalInflater>(); }

}  // namespace vna
