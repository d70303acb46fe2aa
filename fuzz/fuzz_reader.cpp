// Fuzz target: the compressed stream reader over arbitrary bytes, asked for
// arbitrary chunk sizes (taken from the first bytes of the input).
#include <string>
#include <vector>

#include "archive/stream/compressed_reader.h"
#include "base/errors.h"
#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vna::test::Sandbox box;
  if (size < 4) return 0;
  std::vector<std::size_t> chunks;
  for (int i = 0; i < 4; ++i) chunks.push_back(1 + data[i] * (i + 1) * 37);
  vna::test::writeFile(box.path("in"), std::string(reinterpret_cast<const char*>(data) + 4, size - 4));
  try {
    vna::FileHandle file(box.path("in"));
    vna::CompressedStreamReader reader(file);
    std::vector<uint8_t> buffer(40000);
    for (int round = 0; round < 64; ++round) {
      std::size_t n = chunks[round % 4];
      reader.read(vna::ByteRange{buffer.data(), buffer.data() + n});
    }
    reader.finishAtEnd();
    reader.checkValue();
  } catch (const vna::FormatError&) {
  } catch (const vna::FileIOError&) {
  } catch (const vna::ExceptionPL&) {
  }
  return 0;
}
