#include "archive/stream/body_decoder.h"

#include "base/errors.h"

namespace vna {

BodyBlock StoredBody::decode(uint8_t* room, std::size_t size) {
  ByteRange rest{room, room + size};
  BodyEnding ending = BodyEnding::kMore;
  try {
    while (rest.begin != rest.end && ending == BodyEnding::kMore) {
      if (!reader_.hasMore()) {
        ending = BodyEnding::kEnd;
        break;
      }
      uint8_t* before = rest.begin;
      reader_.readSome(rest);
      // A file that shrank since its size was taken ends early.
      if (rest.begin == before) ending = BodyEnding::kCut;
    }
  } catch (...) {
    error_ = std::current_exception();
    ending = BodyEnding::kThrown;
  }
  return BodyBlock{room, static_cast<std::size_t>(rest.begin - room), ending};
}

void StoredBody::raise(BodyEnding ending) const {
  if (ending == BodyEnding::kThrown) std::rethrow_exception(error_);
  throw EndOfFileError();
}

}  // namespace vna
