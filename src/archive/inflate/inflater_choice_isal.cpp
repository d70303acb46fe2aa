// The build found ISA-L: archives are read with it. zlib's engine stays in
// the program so that tests can hold the two side by side.
#include "archive/inflate/inflater.h"
#include "archive/inflate/inflater_isal.h"

namespace vna {

std::unique_ptr<Inflater> newInflater(InflateInput& input) { return newIsalInflater(input); }

const std::vector<InflaterEngine>& inflaterEngines() {
  static const std::vector<InflaterEngine> engines = {
      {"zlib", [](InflateInput&) { return newZlibInflater(); }}, {"ISA-L", &newIsalInflater}};
  return engines;
}

}  // namespace vna
