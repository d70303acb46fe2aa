// Builds without ISA-L (Windows, other processors, no libisal) read
// archives with zlib's inflate.
#include "archive/inflate/inflater.h"

namespace vna {

std::unique_ptr<Inflater> newInflater(InflateInput&) { return newZlibInflater(); }

const std::vector<InflaterEngine>& inflaterEngines() {
  static const std::vector<InflaterEngine> engines = {{"zlib", [](InflateInput&) { return newZlibInflater(); }}};
  return engines;
}

}  // namespace vna
