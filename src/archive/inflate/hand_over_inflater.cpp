#include "archive/inflate/hand_over_inflater.h"

#include "archive/format/format.h"

namespace vna {
namespace {

class HandOverInflater : public Inflater {
 public:
  HandOverInflater(std::unique_ptr<Inflater> fast, InflateInput& input)
      : engine_(std::move(fast)), input_(input) {}

  InflateStatus inflate(InflateSpans& io) override {
    if (handedOver_) return engine_->inflate(io);
    uint8_t* before = io.nextOut;
    std::size_t room = io.availOut;
    InflateStatus result = engine_->inflate(io);
    bool cut = result == InflateStatus::kMore && io.availOut > 0 && input_.used();
    if (result != InflateStatus::kDamaged && !cut) {
      delivered_ += static_cast<uint64_t>(io.nextOut - before);
      return result;
    }
    // What this call produced is dropped: an engine may write a little
    // past the point where zlib stops on the same damage.
    io.nextOut = before;
    io.availOut = room;
    handedOver_ = true;
    if (!catchUp(io)) return InflateStatus::kDamaged;
    return engine_->inflate(io);
  }

 private:
  // Failures are rare and final, so the simple way is taken: zlib decodes
  // the deflate data again from its first byte, the output already
  // delivered is counted off, and zlib goes on from there. False when zlib
  // fails before it gets there.
  bool catchUp(InflateSpans& io) {
    engine_ = newZlibInflater();
    input_.restart(io);
    std::unique_ptr<uint8_t[]> discard(new uint8_t[format::kStreamBufferSize]);
    uint64_t skip = delivered_;
    while (skip > 0) {
      if (io.availIn == 0) input_.refill(io);
      InflateSpans out = io;
      out.nextOut = discard.get();
      out.availOut = skip < format::kStreamBufferSize ? static_cast<std::size_t>(skip)
                                                        : format::kStreamBufferSize;
      InflateStatus result = engine_->inflate(out);
      skip -= static_cast<uint64_t>(out.nextOut - discard.get());
      io.nextIn = out.nextIn;
      io.availIn = out.availIn;
      bool stuck = out.availOut > 0 && input_.used();
      if (skip > 0 && (result != InflateStatus::kMore || stuck)) return false;
    }
    return true;
  }

  std::unique_ptr<Inflater> engine_;
  InflateInput& input_;
  uint64_t delivered_ = 0;
  bool handedOver_ = false;
};

}  // namespace

std::unique_ptr<Inflater> newHandOverInflater(std::unique_ptr<Inflater> fast, InflateInput& input) {
  return std::make_unique<HandOverInflater>(std::move(fast), input);
}

}  // namespace vna
