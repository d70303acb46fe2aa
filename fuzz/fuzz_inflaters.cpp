// Differential fuzz target: the same archive read through the reader with
// every inflater this program has (zlib's and ISA-L's where the build found
// it) must give the same transcript: the same bytes for every read, the
// same error at the same read, the same end test and check value.
//
// Input: four bytes choosing the read sizes, one flag byte, then the
// deflate data that follows the zlib header. With flag bit 0 set, the
// harness cuts the data where zlib says the deflate stream ends and appends
// the right Adler-32 (and, with bit 1, one more byte), so that streams the
// engines accept also reach the trailer and the end test.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/inflate/inflater.h"
#include "engine_transcript.h"
#include "sandbox.h"

namespace {

// Where zlib's raw inflate ends the deflate stream in `body`, and the
// Adler-32 of what it decoded; false when zlib does not reach the end.
bool zlibEnd(const std::string& body, std::size_t& end, uint32_t& adler, std::string& message) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) return false;
  std::vector<uint8_t> out(65536);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  s.avail_in = static_cast<uInt>(body.size());
  adler = static_cast<uint32_t>(::adler32(0, nullptr, 0));
  int result = Z_OK;
  std::size_t total = 0;
  while (result == Z_OK && total < (64u << 20)) {
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    result = inflate(&s, Z_NO_FLUSH);
    std::size_t made = out.size() - s.avail_out;
    total += made;
    adler = static_cast<uint32_t>(::adler32(adler, out.data(), static_cast<uInt>(made)));
    if (result == Z_OK && made == 0 && s.avail_in == 0) break;
  }
  end = body.size() - s.avail_in;
  message = s.msg ? s.msg : "";
  inflateEnd(&s);
  return result == Z_STREAM_END;
}

bool knownDifference(const std::string& zlibMessage, const std::string& zlibLog, const std::string& other) {
  if (zlibMessage != "invalid literal/lengths set" && zlibMessage != "invalid distances set" &&
      zlibMessage != "invalid code lengths set") {
    return false;
  }
  std::size_t last = zlibLog.rfind('\n', zlibLog.size() - 2);
  std::string before = last == std::string::npos ? std::string() : zlibLog.substr(0, last + 1);
  return zlibLog.compare(before.size(), std::string::npos, "error FormatError\n") == 0 &&
         other.compare(0, before.size(), before) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vna::test::Sandbox box;
  if (size < 5) return 0;
  std::vector<std::size_t> reads;
  for (int i = 0; i < 4; ++i) reads.push_back(1 + data[i] * (i + 1) * 37);
  std::string body(reinterpret_cast<const char*>(data) + 5, size - 5);
  std::size_t end = 0;
  uint32_t adler = 0;
  std::string message;
  bool ended = zlibEnd(body, end, adler, message);
  if ((data[4] & 1) && ended) {
    body.resize(end);
    for (int shift = 24; shift >= 0; shift -= 8) body += static_cast<char>(adler >> shift);
    if (data[4] & 2) body += static_cast<char>(data[4]);
  }
  vna::test::writeFile(box.path("in"), vna::test::archiveAround(body));
  const auto& engines = vna::inflaterEngines();
  std::string first = vna::test::readTranscript(box.path("in"), engines[0], reads, 64);
  for (std::size_t i = 1; i < engines.size(); ++i) {
    std::string other = vna::test::readTranscript(box.path("in"), engines[i], reads, 64);
    if (other != first && knownDifference(message, first, other)) {
      static bool told = false;
      if (!told) std::fprintf(stderr, "known difference seen (zlib: %s)\n", message.c_str());
      told = true;
    } else if (other != first) {
      std::size_t at = 0;
      while (at < first.size() && at < other.size() && first[at] == other[at]) ++at;
      std::fprintf(stderr, "engines disagree from transcript byte %zu of %zu / %zu\n", at, first.size(),
                   other.size());
      for (const std::string* log : {&first, &other}) {
        std::fprintf(stderr, "%s:", log == &first ? engines[0].name : engines[i].name);
        for (std::size_t k = at < 16 ? 0 : at - 16; k < at + 48 && k < log->size(); ++k) {
          std::fprintf(stderr, " %02x", static_cast<unsigned>(static_cast<uint8_t>((*log)[k])));
        }
        std::fprintf(stderr, "\n");
      }
      std::abort();
    }
  }
  return 0;
}
