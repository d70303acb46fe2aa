#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "archive/stream/gain_probe.h"
#include "sandbox.h"

namespace vna {
namespace {

// The oracle: raw level-6 deflate of `piece`, primed with `before`.
std::size_t deflatedSize(const std::string& before, const std::string& piece) {
  z_stream stream = {};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  if (!before.empty()) {
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(before.data()),
                         static_cast<uInt>(before.size()));
  }
  std::vector<Bytef> out(deflateBound(&stream, static_cast<uLong>(piece.size())) + 64);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
  stream.avail_in = static_cast<uInt>(piece.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  std::size_t size = stream.total_out;
  deflateEnd(&stream);
  return size;
}

std::string text(std::size_t size) {
  std::string out;
  for (unsigned i = 0; out.size() < size; ++i) {
    out += "for (unsigned i = 0; i < count; ++i) total += weight[" + std::to_string(i * 7 % 1000) + "];\n";
  }
  return out.substr(0, size);
}

TEST(GainProbe, DeflatesExactlyWhereLevelSixGainsAPercent) {
  const std::size_t piece = GainProbe::kPieceSize;
  std::string pattern = test::randomBytes(8192, 1);
  std::string skewed = test::randomBytes(piece, 2);
  for (char& c : skewed) c = static_cast<char>(static_cast<uint8_t>(c) % 200);
  std::string earlier = test::randomBytes(piece, 3);
  // Byte values as even as random bytes, but short repeats throughout.
  std::string vocabulary = test::randomBytes(512 * 4, 8);
  std::string words;
  for (std::size_t i = 0; words.size() < piece; ++i) {
    words += vocabulary.substr((i * 7919 % 512) * 4, 4);
  }
  struct Case {
    const char* name;
    std::string before, piece;
  } cases[] = {
      {"random bytes", "", test::randomBytes(piece, 4)},
      {"random bytes after random bytes", test::randomBytes(piece, 5), test::randomBytes(piece, 6)},
      {"text", "", text(piece)},
      {"an 8 KiB random pattern repeated", "", pattern + pattern + pattern + pattern},
      {"random bytes repeated at an odd distance", "",
       (pattern.substr(1) + pattern.substr(1) + pattern + pattern).substr(0, piece)},
      {"random bytes repeating what lies 16 KiB before", earlier,
       earlier.substr(piece / 2) + test::randomBytes(piece / 2, 7)},
      {"random bytes of 200 values", "", skewed},
      {"a table of 4-byte words drawn from 512 random ones", "", words},
  };
  GainProbe probe;
  for (const Case& c : cases) {
    bool gains = deflatedSize(c.before, c.piece) * 100 < c.piece.size() * 99;
    std::string window = c.before + c.piece;
    auto* p = reinterpret_cast<const uint8_t*>(window.data()) + c.before.size();
    EXPECT_EQ(probe.worthDeflating(p, c.piece.size(), c.before.size()), gains) << c.name;
  }
}

TEST(GainProbe, ShortPiecesAreAlwaysDeflated) {
  std::string random = test::randomBytes(GainProbe::kMinJudged, 9);
  GainProbe probe;
  auto* p = reinterpret_cast<const uint8_t*>(random.data());
  EXPECT_TRUE(probe.worthDeflating(p, GainProbe::kMinJudged - 1, 0));
  EXPECT_FALSE(probe.worthDeflating(p, GainProbe::kMinJudged, 0));
}

}  // namespace
}  // namespace vna
