// Fuzz target: the timestamp parser on arbitrary bytes (exactly those bytes:
// a read past them is caught by the address sanitizer).
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/errors.h"
#include "text/timestamp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  try {
    vna::DateTime value = vna::parseTimestamp(text.get(), text.get() + size);
    if (!value.date.isValid() || !value.time.isValid()) std::abort();
  } catch (const vna::ParsingFailure&) {
  } catch (const vna::StackFull&) {
  } catch (const vna::InvalidTime&) {
  }
  return 0;
}
