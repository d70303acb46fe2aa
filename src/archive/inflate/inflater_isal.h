// Intel ISA-L's inflate behind the Inflater interface, with zlib's verdict
// on damaged or cut off data (newHandOverInflater). Only builds that found
// ISA-L (x86-64 Linux with libisal) compile and link this engine.
#pragma once

#include <memory>

#include "archive/inflate/inflater.h"

namespace vna {

std::unique_ptr<Inflater> newIsalInflater(InflateInput& input);

}  // namespace vna
