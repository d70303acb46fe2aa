// The inflaters behind the archive reader: every engine this program has
// must give the reader the same bytes, the same errors at the same reads
// and the same end test, on good streams and on deflate data built by hand
// to break each rule zlib enforces. zlib's raw inflate, called directly,
// is the oracle for what each hand-made stream is.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/extract/extract_archive.h"
#include "archive/inflate/inflater.h"
#include "../archive_fixtures.h"
#include "engine_transcript.h"

namespace vna {
namespace {

using test::Sandbox;

// Deflate's bit order: fields least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
 public:
  void put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bit((value >> i) & 1);
  }
  void code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) bit((code >> i) & 1);
  }
  void align() {
    while (used_ != 0) bit(0);
  }
  void byte(uint8_t b) { put(b, 8); }
  std::string bytes() const {
    std::string out = out_;
    if (used_ != 0) out += static_cast<char>(acc_);
    return out;
  }

 private:
  void bit(uint32_t b) {
    acc_ |= b << used_;
    if (++used_ == 8) {
      out_ += static_cast<char>(acc_);
      acc_ = 0;
      used_ = 0;
    }
  }
  std::string out_;
  uint32_t acc_ = 0;
  int used_ = 0;
};

// Canonical Huffman codes for `lengths` (zero: no code).
std::vector<uint32_t> canonicalCodes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + static_cast<uint32_t>(count[bits - 1])) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
  }
  return codes;
}

// The fixed code of a literal/length symbol.
void fixedSymbol(BitWriter& w, int sym) {
  if (sym < 144) {
    w.code(0x30 + static_cast<uint32_t>(sym), 8);
  } else if (sym < 256) {
    w.code(0x190 + static_cast<uint32_t>(sym - 144), 9);
  } else if (sym < 280) {
    w.code(static_cast<uint32_t>(sym - 256), 7);
  } else {
    w.code(0xC0 + static_cast<uint32_t>(sym - 280), 8);
  }
}

// A final dynamic block. The code lengths are sent one symbol each, with a
// complete code-length code, unless `lengthSymbols` gives the symbols to
// send instead (pairs of symbol and extra bits, for repeats).
struct Dynamic {
  std::vector<int> lit;   // 257..288 lengths
  std::vector<int> dist;  // 1..32 lengths
  std::vector<int> codeLengthLengths = std::vector<int>(19, 0);
  std::vector<std::pair<int, int>> lengthSymbols;

  Dynamic() {
    // Thirteen codes of four bits and six of five: complete.
    for (int i = 0; i < 19; ++i) codeLengthLengths[static_cast<std::size_t>(i)] = i < 13 ? 4 : 5;
  }

  void header(BitWriter& w) const {
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.put(1, 1);
    w.put(2, 2);
    w.put(static_cast<uint32_t>(lit.size() - 257), 5);
    w.put(static_cast<uint32_t>(dist.size() - 1), 5);
    w.put(15, 4);
    for (int sym : kOrder) w.put(static_cast<uint32_t>(codeLengthLengths[static_cast<std::size_t>(sym)]), 3);
    std::vector<uint32_t> clCodes = canonicalCodes(codeLengthLengths);
    auto send = [&](int sym) {
      w.code(clCodes[static_cast<std::size_t>(sym)], codeLengthLengths[static_cast<std::size_t>(sym)]);
    };
    if (lengthSymbols.empty()) {
      for (int l : lit) send(l);
      for (int l : dist) send(l);
    } else {
      for (const auto& s : lengthSymbols) {
        send(s.first);
        if (s.first == 16) w.put(static_cast<uint32_t>(s.second), 2);
        if (s.first == 17) w.put(static_cast<uint32_t>(s.second), 3);
        if (s.first == 18) w.put(static_cast<uint32_t>(s.second), 7);
      }
    }
  }
  void symbol(BitWriter& w, int sym) const {
    std::vector<uint32_t> codes = canonicalCodes(lit);
    w.code(codes[static_cast<std::size_t>(sym)], lit[static_cast<std::size_t>(sym)]);
  }
};

std::vector<int> lengths(std::size_t count, std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> out(count, 0);
  for (const auto& s : set) out[static_cast<std::size_t>(s.first)] = s.second;
  return out;
}

// A dynamic block of the literals "ab" (when coded) and the end of block.
std::string dynamicBlock(const Dynamic& d) {
  BitWriter w;
  d.header(w);
  for (int sym : {'a', 'b'}) {
    if (d.lit[static_cast<std::size_t>(sym)] != 0) d.symbol(w, sym);
  }
  if (d.lit[256] != 0) d.symbol(w, 256);
  return w.bytes();
}

// What zlib's own raw inflate makes of `deflate`: its message, or "".
std::string zlibVerdict(const std::string& deflate) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
  std::vector<uint8_t> out(1 << 16);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflate.data()));
  s.avail_in = static_cast<uInt>(deflate.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  int result = inflate(&s, Z_FINISH);
  std::string verdict = result == Z_STREAM_END ? "" : s.msg ? s.msg : "incomplete";
  inflateEnd(&s);
  return verdict;
}

struct HandMade {
  const char* name;
  std::string deflate;
  const char* zlibSays;  // the rule the stream breaks, in zlib's words
};

std::vector<HandMade> handMadeStreams() {
  std::vector<HandMade> cases;
  {
    BitWriter w;
    w.put(1, 1);
    w.put(3, 2);
    cases.push_back({"block type 3", w.bytes(), "invalid block type"});
  }
  {
    BitWriter w;
    w.put(1, 1);
    w.put(0, 2);
    w.align();
    for (uint8_t b : {5, 0, 0, 0}) w.byte(b);  // LEN 5, NLEN not its complement
    for (char c : std::string("hello")) w.byte(static_cast<uint8_t>(c));
    cases.push_back({"stored length check", w.bytes(), "invalid stored block lengths"});
  }
  {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    fixedSymbol(w, 'a');
    fixedSymbol(w, 257);  // length 3
    w.code(1, 5);         // distance 2, one byte after the start
    fixedSymbol(w, 256);
    cases.push_back({"distance too far back", w.bytes(), "invalid distance too far back"});
  }
  for (int sym : {286, 287}) {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    fixedSymbol(w, 'a');
    fixedSymbol(w, sym);
    cases.push_back({sym == 286 ? "fixed length symbol 286" : "fixed length symbol 287", w.bytes(),
                     "invalid literal/length code"});
  }
  for (uint32_t distance : {30u, 31u}) {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    for (int i = 0; i < 4; ++i) fixedSymbol(w, 'a');
    fixedSymbol(w, 257);
    w.code(distance, 5);
    fixedSymbol(w, 256);
    cases.push_back({distance == 30 ? "fixed distance symbol 30" : "fixed distance symbol 31", w.bytes(),
                     "invalid distance code"});
  }
  Dynamic base;
  base.lit = lengths(257, {{'a', 1}, {'b', 2}, {256, 2}});
  base.dist = lengths(1, {{0, 1}});
  cases.push_back({"dynamic block, good", dynamicBlock(base), ""});
  {
    Dynamic d = base;
    d.dist = lengths(2, {{0, 1}, {1, 1}});
    cases.push_back({"two distance codes, good", dynamicBlock(d), ""});
    d.dist = lengths(1, {{0, 0}});
    cases.push_back({"no distance codes at all", dynamicBlock(d), ""});
  }
  {
    Dynamic d = base;
    d.lit = lengths(287, {{'a', 1}, {'b', 2}, {256, 3}, {286, 3}});
    cases.push_back({"287 literal/length codes", dynamicBlock(d), "too many length or distance symbols"});
    d.lit = lengths(288, {{'a', 1}, {'b', 2}, {256, 3}, {287, 3}});
    cases.push_back({"288 literal/length codes", dynamicBlock(d), "too many length or distance symbols"});
  }
  {
    Dynamic d = base;
    d.dist = lengths(31, {{0, 1}, {30, 1}});
    cases.push_back({"31 distance codes", dynamicBlock(d), "too many length or distance symbols"});
    d.dist = lengths(32, {{0, 1}, {31, 1}});
    cases.push_back({"32 distance codes", dynamicBlock(d), "too many length or distance symbols"});
  }
  {
    Dynamic d = base;
    d.lit = lengths(257, {{'a', 2}, {'b', 2}, {256, 2}});
    cases.push_back({"incomplete literal code", dynamicBlock(d), "invalid literal/lengths set"});
    d.lit = lengths(257, {{'a', 1}, {'b', 1}, {256, 1}});
    cases.push_back({"over-subscribed literal code", dynamicBlock(d), "invalid literal/lengths set"});
    d.lit = lengths(257, {{'a', 1}, {'b', 1}});
    cases.push_back({"no end-of-block code", dynamicBlock(d), "invalid code -- missing end-of-block"});
    d.lit = lengths(257, {{256, 1}});
    cases.push_back({"end-of-block code alone", dynamicBlock(d), ""});
  }
  {
    Dynamic d = base;
    d.dist = lengths(2, {{0, 2}, {1, 2}});
    cases.push_back({"incomplete distance code", dynamicBlock(d), "invalid distances set"});
    d.dist = lengths(3, {{0, 1}, {1, 1}, {2, 1}});
    cases.push_back({"over-subscribed distance code", dynamicBlock(d), "invalid distances set"});
  }
  {
    Dynamic d = base;
    for (int i = 0; i < 19; ++i) d.codeLengthLengths[static_cast<std::size_t>(i)] = 5;
    cases.push_back({"incomplete code-length code", dynamicBlock(d), "invalid code lengths set"});
    for (int i = 0; i < 19; ++i) d.codeLengthLengths[static_cast<std::size_t>(i)] = 4;
    cases.push_back({"over-subscribed code-length code", dynamicBlock(d), "invalid code lengths set"});
  }
  {
    Dynamic d = base;
    d.lengthSymbols = {{16, 0}};  // a repeat with nothing before it
    cases.push_back({"repeat first", dynamicBlock(d), "invalid bit length repeat"});
    d.lengthSymbols = {{18, 127}, {18, 127}, {18, 127}};  // 414 zeros for 258 lengths
    cases.push_back({"repeat past the end", dynamicBlock(d), "invalid bit length repeat"});
  }
  return cases;
}

class InflaterEngines : public ::testing::Test {
 protected:
  // Each engine's transcript of `deflate` read `reads` bytes at a time.
  std::vector<std::string> transcripts(const std::string& deflate, std::vector<std::size_t> reads) {
    test::writeFile(box.path("a"), test::archiveAround(deflate));
    std::vector<std::string> out;
    for (const InflaterEngine& engine : inflaterEngines()) {
      out.push_back(test::readTranscript(box.path("a"), engine, reads, 8));
    }
    return out;
  }
  Sandbox box;
};

TEST_F(InflaterEngines, ZlibComesFirstAndTheBuildsChoiceLast) {
  const auto& engines = inflaterEngines();
  ASSERT_FALSE(engines.empty());
  EXPECT_STREQ(engines.front().name, "zlib");
}

// zlib refuses a dynamic block whose code leaves code space unused; ISA-L
// decodes such a block as long as the data uses only the codes defined. It
// is the one difference between the engines that the reader cannot remove
// without decoding deflate itself; the bytes delivered are still exactly
// what the code defines, and the archive's two check values decide.
bool incompleteCode(const std::string& zlibSays, const HandMade& c) {
  return (zlibSays == "invalid literal/lengths set" || zlibSays == "invalid distances set" ||
          zlibSays == "invalid code lengths set") &&
         std::strncmp(c.name, "incomplete", 10) == 0;
}

TEST_F(InflaterEngines, HandMadeStreamsGetTheSameVerdictFromEveryEngine) {
  for (const HandMade& c : handMadeStreams()) {
    std::string zlibSays = zlibVerdict(c.deflate);
    ASSERT_EQ(zlibSays, c.zlibSays) << c.name << ": the stream is not what it was built to be";
    for (std::vector<std::size_t> reads : {std::vector<std::size_t>{1}, {3, 64}, {100000}}) {
      std::vector<std::string> all = transcripts(c.deflate, reads);
      for (std::size_t i = 1; i < all.size(); ++i) {
        if (all[i] != all[0] && incompleteCode(zlibSays, c)) {
          // The literals "ab" come out, then the stream (which has no
          // trailer) is found cut off.
          EXPECT_EQ(all[0], "error FormatError\n") << c.name;
          EXPECT_TRUE(all[i] == "read 1\na\nread 1\nb\nerror UnexpectedEndOfCompressedFile\n" ||
                      all[i] == "error UnexpectedEndOfCompressedFile\n")
              << c.name << ": " << all[i];
          continue;
        }
        EXPECT_EQ(all[i], all[0]) << c.name << " (zlib: \"" << zlibSays << "\"), engine "
                                  << inflaterEngines()[i].name << ", first read " << reads[0];
      }
    }
  }
}

uint32_t crc32Bzip2(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= static_cast<uint32_t>(byte) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return ~crc;
}

std::string bigEndian(uint32_t value) {
  return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                     static_cast<char>(value >> 8), static_cast<char>(value)};
}

// An archive whose records sit in one dynamic block with an incomplete
// literal/length code (257 codes of nine bits), which zlib refuses and ISA-L
// decodes. With a wrong check value, neither build may harm a file that
// stood before the run.
TEST_F(InflaterEngines, IncompleteCodeArchiveThatFailsItsChecksReplacesNothing) {
  const std::string body = test::record("f", "new") + test::record("g", "only new") + test::kEndRecord;
  Dynamic d;
  d.lit = std::vector<int>(257, 9);
  d.dist = lengths(1, {{0, 1}});
  BitWriter w;
  d.header(w);
  for (unsigned char byte : body) d.symbol(w, byte);
  d.symbol(w, 256);
  uLong adler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(body.data()),
                        static_cast<uInt>(body.size()));
  const std::string stream = std::string("\x78\x9c", 2) + w.bytes() + bigEndian(static_cast<uint32_t>(adler));
  const std::string wrongCrc = std::string("##SC001\0", 8) + bigEndian(crc32Bzip2(body) ^ 1) + stream;
  std::string wrongAdler = std::string("##SC001\0", 8) + bigEndian(crc32Bzip2(body)) + stream;
  wrongAdler.back() = static_cast<char>(wrongAdler.back() ^ 1);
  for (const std::string& archive : {wrongCrc, wrongAdler}) {
    test::writeFile(box.path("a.vna"), archive);
    test::makeDirectory(box.path("out"));
    test::writeFile(box.path("out\\f"), "old");
    EXPECT_EQ(test::outcomeOf([&] { extractArchive(box.path("a.vna"), box.path("out")); }),
              "Invalidly formatted VNArchive file.\n");
    EXPECT_EQ(test::readFile(box.path("out\\f")), "old");
    test::removeTree(box.path("out"));
  }
  // With both check values right, the one difference the README states:
  // zlib refuses the block, ISA-L extracts the archive.
  test::writeFile(box.path("a.vna"), std::string("##SC001\0", 8) + bigEndian(crc32Bzip2(body)) + stream);
  test::makeDirectory(box.path("out"));
  test::writeFile(box.path("out\\f"), "old");
  std::string outcome = test::outcomeOf([&] { extractArchive(box.path("a.vna"), box.path("out")); });
  const bool reference = inflaterEngines().size() == 1;  // the build reads with zlib
  EXPECT_EQ(outcome, reference ? "Invalidly formatted VNArchive file.\n" : "");
  EXPECT_EQ(test::readFile(box.path("out\\f")), reference ? "old" : "new");
}

// Real archives, cut at every length and with every single bit flipped:
// each engine must deliver the same bytes and fail at the same read with
// the same error (the reference decides wherever another engine fails).
TEST_F(InflaterEngines, DamagedArchivesReadTheSameWithEveryEngine) {
  std::string body = test::record("a.txt", "alpha alpha alpha alpha") +
                     test::record("b.bin", test::randomBytes(700, 3)) + test::kEndRecord;
  test::writeArchive(box.path("good"), body);
  const std::string good = test::readFile(box.path("good"));
  std::vector<std::string> variants;
  for (std::size_t length = 12; length < good.size(); ++length) variants.push_back(good.substr(0, length));
  for (std::size_t byte = 12; byte < good.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string damaged = good;
      damaged[byte] = static_cast<char>(damaged[byte] ^ (1 << bit));
      variants.push_back(damaged);
    }
  }
  variants.push_back(good + "X");
  variants.push_back(good + good.substr(12));
  int differing = 0;
  for (const std::string& bytes : variants) {
    test::writeFile(box.path("a"), bytes);
    for (std::vector<std::size_t> reads : {std::vector<std::size_t>{5, 1, 300}, {body.size()}}) {
      std::string first = test::readTranscript(box.path("a"), inflaterEngines()[0], reads, 64);
      for (std::size_t i = 1; i < inflaterEngines().size(); ++i) {
        std::string other = test::readTranscript(box.path("a"), inflaterEngines()[i], reads, 64);
        if (other != first && ++differing <= 3) {
          ADD_FAILURE() << inflaterEngines()[i].name << " differs on a " << bytes.size()
                        << "-byte variant:\n" << first << "---\n" << other;
        }
      }
    }
  }
  EXPECT_EQ(differing, 0);
}

// An engine may read past the end of the deflate data; what it took must
// still reach the trailer check and the end test: the whole archive ends
// there, one byte more or one byte less does not.
TEST_F(InflaterEngines, BytesAfterTheDeflateDataAreSeenByEveryEngine) {
  std::string body = test::randomBytes(100000, 5) + std::string(50000, 'z');
  test::writeArchive(box.path("good"), body);
  const std::string good = test::readFile(box.path("good"));
  auto ending = [](const std::string& log) {
    std::size_t line = log.rfind('\n', log.size() - 2);  // the end test comes before the check value
    std::size_t from = log.rfind('\n', line - 1);
    return log.substr(from + 1, line - from - 1);
  };
  for (const InflaterEngine& engine : inflaterEngines()) {
    for (std::size_t read : {body.size(), std::size_t{1000}}) {
      int rounds = static_cast<int>(body.size() / read);
      for (const std::string& bytes : {good, good + "1", good + "12345678", good + std::string(5000, '\0'),
                                       good.substr(0, good.size() - 1)}) {
        test::writeFile(box.path("a"), bytes);
        std::string log = ending(test::readTranscript(box.path("a"), engine, {read}, rounds));
        EXPECT_EQ(log == "at end", bytes == good)
            << engine.name << ", " << static_cast<long>(bytes.size() - good.size()) << " bytes more, reads of "
            << read << ": " << log.substr(0, 200);
      }
    }
  }
}

}  // namespace
}  // namespace vna
