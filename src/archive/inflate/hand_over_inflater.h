// A faster engine with zlib's verdict. Where the faster engine fails
// (damage, or data cut off), zlib's inflate takes the stream over from its
// first byte, decodes up to the place already delivered and goes on from
// there, so that the stream fails exactly where and as zlib fails it.
#pragma once

#include <memory>

#include "archive/inflate/inflater.h"

namespace vna {

// `fast` decodes until it fails; `input` is read again for the hand-over.
std::unique_ptr<Inflater> newHandOverInflater(std::unique_ptr<Inflater> fast, InflateInput& input);

}  // namespace vna
