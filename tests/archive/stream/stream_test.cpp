#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "archive/stream/compressed_reader.h"
#include "archive/stream/block_deflater.h"
#include "archive/stream/compressed_writer.h"
#include "archive/checks/crc_folding.h"
#include "archive/checks/stream_crc.h"
#include "../archive_fixtures.h"
#include "base/errors.h"

namespace vna {
namespace {

using test::Sandbox;

uint32_t crcOf(const std::string& bytes) {
  StreamCrc crc;
  crc.update(reinterpret_cast<const uint8_t*>(bytes.data()),
             reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size());
  return crc.final();
}

TEST(StreamCrc, HasTheBzip2CheckValues) {
  EXPECT_EQ(crcOf("123456789"), 0xFC891918u);
  EXPECT_EQ(crcOf(std::string("_\0", 2)), 0x13D851F5u);
  EXPECT_EQ(crcOf(""), 0x00000000u);
}

TEST(StreamCrc, FastFormAgreesWithTheByteTableOnEveryLengthAndAlignment) {
  std::string data = test::randomBytes(300, 9);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; offset + length <= 200; ++length) {
      const uint8_t* begin = reinterpret_cast<const uint8_t*>(data.data()) + offset;
      StreamCrc fast;
      fast.update(begin, begin + length);
      ASSERT_EQ(fast.value(), StreamCrc::updateBytewise(0xFFFFFFFFu, begin, begin + length))
          << offset << "+" << length;
    }
  }
}

TEST(StreamCrc, EveryFormAgreesOnLongRangesAtEveryAlignment) {
  std::string data = test::randomBytes(5000, 21);
  const uint8_t* base = reinterpret_cast<const uint8_t*>(data.data());
  std::size_t lengths[] = {63,  64,  65,  79,  80,  127, 128, 129,  191,  255,  256,  257,
                           511, 512, 513, 575, 576, 767, 768, 769, 1000, 1024, 4093, 4096};
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t length : lengths) {
      const uint8_t* begin = base + offset;
      uint32_t reference = StreamCrc::updateBytewise(0x12345678u, begin, begin + length);
      // Start from an arbitrary register by feeding a prefix first.
      StreamCrc prefixed;
      prefixed.update(base + 4900, base + 4904);
      uint32_t start = prefixed.value();
      uint32_t expected = StreamCrc::updateBytewise(start, begin, begin + length);
      prefixed.update(begin, begin + length);
      ASSERT_EQ(prefixed.value(), expected) << offset << "+" << length;
      ASSERT_EQ(StreamCrc::updateSliced(0x12345678u, begin, begin + length), reference);
    }
  }
  EXPECT_EQ(crc::powerModPolynomial(32), 0x04C11DB7u);
}

TEST(StreamCrc, SplittingTheInputChangesNothing) {
  std::string data = test::randomBytes(1000, 3);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
  StreamCrc pieces;
  pieces.update(p, p + 1);
  pieces.update(p + 1, p + 1);
  pieces.update(p + 1, p + 333);
  pieces.update(p + 333, p + 1000);
  EXPECT_EQ(pieces.final(), crcOf(data));
}

std::string inflateBody(const std::string& file, std::size_t room = 1 << 20) {
  std::string out(room + 1, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  int r = uncompress(reinterpret_cast<Bytef*>(&out[0]), &length,
                     reinterpret_cast<const Bytef*>(file.data() + 12),
                     static_cast<uLong>(file.size() - 12));
  EXPECT_EQ(r, Z_OK);
  out.resize(length);
  return out;
}

TEST(CompressedStreamWriter, EmptyStreamHasZeroCheckValue) {
  Sandbox box;
  test::writeArchive(box.path("a"), "");
  std::string file = test::readFile(box.path("a"));
  EXPECT_EQ(file.substr(0, 12), std::string("##SC001\0\0\0\0\0", 12));
  EXPECT_EQ(static_cast<uint8_t>(file[12]), 0x78);
  EXPECT_EQ(static_cast<uint8_t>(file[13]), 0x9C);
  EXPECT_EQ(inflateBody(file), "");
}

TEST(CompressedStreamWriter, EndRecordArchiveCarriesItsCheckValue) {
  Sandbox box;
  test::writeArchive(box.path("a"), test::kEndRecord);
  std::string file = test::readFile(box.path("a"));
  EXPECT_EQ(file.substr(8, 4), "\x13\xD8\x51\xF5");
  EXPECT_EQ(inflateBody(file), test::kEndRecord);
}

TEST(CompressedStreamWriter, ErrorAfterConstructionLeavesThePlaceholder) {
  // Destroyed without finish, as when an error unwinds, with blocks still
  // being deflated by the workers: they are stopped and nothing more is
  // written, and the stream is cut at a whole output buffer.
  Sandbox box;
  std::string data = test::randomBytes(3 * BlockDeflater::kBlockSize + 100, 5);
  for (unsigned workers : {0u, 2u, 4u}) {
    {
      test::NewFile file(box.path("a"));
      CompressedStreamWriter writer(file, workers);
      writer.write(ConstByteRange(reinterpret_cast<const uint8_t*>(data.data()),
                                  reinterpret_cast<const uint8_t*>(data.data()) + data.size()));
    }
    std::string file = test::readFile(box.path("a"));
    EXPECT_EQ(file.substr(8, 4), "\xFF\xFF\xFF\xFF") << workers << " workers";
    EXPECT_EQ((file.size() - 12) % 32768, 0u) << workers << " workers";
  }
}

// Writes `input` in pieces of `piece` bytes through a writer with
// `workers` threads; returns the archive file's bytes.
std::string archiveOf(Sandbox& box, const std::string& input, unsigned workers,
                      std::size_t piece) {
  {
    test::NewFile file(box.path("a"));
    CompressedStreamWriter writer(file, workers);
    const auto* p = reinterpret_cast<const uint8_t*>(input.data());
    for (std::size_t at = 0; at < input.size(); at += piece) {
      std::size_t n = input.size() - at < piece ? input.size() - at : piece;
      writer.write(ConstByteRange(p + at, p + at + n));
    }
    writer.finish();
    file.close();
  }
  return test::readFile(box.path("a"));
}

TEST(CompressedStreamWriter, StreamIsTheSameWhateverTheWorkersAndPieces) {
  // zlib's own inflate is the oracle for the stream (it checks the wrapper
  // and the Adler-32 itself); the bytes must not depend on how many
  // threads deflated them or how the input was split, and the cuts between
  // blocks may cost next to nothing against one serial level-6 stream.
  Sandbox box;
  const std::size_t block = BlockDeflater::kBlockSize;
  std::string text;
  while (text.size() < 3 * block + 5000) text += "the quick brown fox " + std::to_string(text.size());
  std::vector<std::string> inputs = {"", std::string("_\0", 2), test::randomBytes(100000, 8),
                                     text,
                                     text.substr(0, block),
                                     text.substr(0, block + 1),
                                     text.substr(0, 2 * block - 1) + test::randomBytes(block, 4),
                                     // Stored and deflated stretches in one block, cut off the
                                     // pieces' bounds; a stream ending in a stored stretch.
                                     text.substr(0, 50000) + test::randomBytes(90000, 6) +
                                         text.substr(0, 200000) + test::randomBytes(3 * block, 7),
                                     test::randomBytes(block / 2, 10)};
  for (std::size_t n = 32700; n < 32780; n += 13) inputs.push_back(test::randomBytes(n, 9));
  for (const std::string& input : inputs) {
    std::string reference = archiveOf(box, input, 0, input.size() + 1);
    ASSERT_EQ(inflateBody(reference, input.size()), input) << input.size() << " bytes";
    EXPECT_EQ(reference.substr(8, 4), test::be32(crcOf(input))) << input.size() << " bytes";
    uLongf serial = compressBound(static_cast<uLong>(input.size()));
    std::vector<Bytef> serialBytes(serial);
    ASSERT_EQ(compress2(serialBytes.data(), &serial, reinterpret_cast<const Bytef*>(input.data()),
                        static_cast<uLong>(input.size()), 6),
              Z_OK);
    EXPECT_LE(reference.size() - 12, serial + serial / 200 + 16) << input.size() << " bytes";
    for (unsigned workers : {1u, 2u, 3u, 8u}) {
      for (std::size_t piece : {std::size_t(1000), std::size_t(65536), block + 7}) {
        if (piece == 1000 && input.size() > 200000 && workers != 3) continue;
        ASSERT_EQ(archiveOf(box, input, workers, piece), reference)
            << input.size() << " bytes, " << workers << " workers, pieces of " << piece;
      }
    }
  }
}

TEST(CompressedStreamWriter, IncompressibleInputIsCopiedIntoStoredBlocks) {
  // RFC 1951 is the oracle: after the zlib header, a stored block is one
  // byte holding BFINAL and type 00, the length and its complement (least
  // significant byte first), then the bytes themselves.
  Sandbox box;
  std::string random = test::randomBytes(65536, 11);
  std::string file = archiveOf(box, random, 2, 4096);
  std::string expected = std::string("\x78\x9C\x00\xFF\xFF\x00\x00", 7) + random.substr(0, 65535) +
                         std::string("\x01\x01\x00\xFE\xFF", 5) + random.substr(65535);
  ASSERT_EQ(file.size(), 12 + expected.size() + 4);
  EXPECT_TRUE(file.substr(12, expected.size()) == expected);
  EXPECT_EQ(file.substr(8, 4), test::be32(crcOf(random)));
}

class ReaderTest : public ::testing::Test {
 protected:
  std::string readAll(const std::string& fileBytes, std::size_t count) {
    test::writeFile(box.path("a"), fileBytes);
    FileHandle file(box.path("a"));
    CompressedStreamReader reader(file);
    std::string out(count, '\0');
    if (count > 0) {
      uint8_t* p = reinterpret_cast<uint8_t*>(&out[0]);
      reader.read(ByteRange{p, p + count});
    }
    atEnd = reader.finishAtEnd();
    check = reader.checkValue();
    stored = reader.storedCheckValue();
    return out;
  }
  Sandbox box;
  bool atEnd = false;
  uint32_t check = 0;
  uint32_t stored = 0;
};

TEST_F(ReaderTest, HeaderOnlyArchiveFailsAtTheFirstRead) {
  EXPECT_THROW(readAll(std::string("##SC001\0\0\0\0\0", 12), 1), UnexpectedEndOfCompressedFile);
  EXPECT_THROW(readAll("##SC0", 0), EndOfFileError);
}

TEST_F(ReaderTest, MagicIsCaseSensitiveAndTheFillerIgnored) {
  EXPECT_THROW(readAll(std::string("##sc001\0\0\0\0\0", 12), 0), FileStartingBytesNotRecognized);
  EXPECT_THROW(readAll(std::string("##SC002\0\0\0\0\0", 12), 0), FileStartingBytesNotRecognized);
  test::writeArchive(box.path("ok"), test::kEndRecord);
  std::string bytes = test::readFile(box.path("ok"));
  bytes[7] = '\x7F';
  EXPECT_EQ(readAll(bytes, 2), test::kEndRecord);
  EXPECT_TRUE(atEnd);
  EXPECT_EQ(check, 0x13D851F5u);
  EXPECT_EQ(stored, 0x13D851F5u);
}

TEST_F(ReaderTest, StoredVariantReadsPlainRecords) {
  std::string body = test::record("a.txt", "abc") + test::kEndRecord;
  std::string file = std::string("##SN001\0", 8) + std::string(4, '\0') + body;
  EXPECT_EQ(readAll(file, body.size()), body);
  EXPECT_TRUE(atEnd);
  EXPECT_EQ(check, crcOf(body));
  EXPECT_THROW(readAll(file, body.size() + 1), EndOfFileError);
}

TEST_F(ReaderTest, ByteAfterTheStreamIsNotTheEnd) {
  test::writeArchive(box.path("ok"), test::kEndRecord);
  std::string bytes = test::readFile(box.path("ok")) + "X";
  // The record bytes before it are delivered; the end test then fails.
  EXPECT_EQ(readAll(bytes, 2), test::kEndRecord);
  EXPECT_FALSE(atEnd);
  EXPECT_THROW(readAll(bytes, 3), FormatError);
}

TEST_F(ReaderTest, TruncatedStreamIsRejectedAtTheEndTest) {
  test::writeArchive(box.path("ok"), test::kEndRecord);
  std::string bytes = test::readFile(box.path("ok"));
  readAll(bytes.substr(0, bytes.size() - 2), 2);
  EXPECT_FALSE(atEnd) << "the Adler-32 trailer is incomplete";
}

TEST_F(ReaderTest, CorruptTrailerIsRejectedAtTheEndTest) {
  test::writeArchive(box.path("ok"), test::kEndRecord);
  std::string bytes = test::readFile(box.path("ok"));
  bytes[bytes.size() - 1] ^= 1;
  bool rejected = false;
  try {
    readAll(bytes, 2);
    rejected = !atEnd;
  } catch (const FormatError&) {
    rejected = true;
  }
  EXPECT_TRUE(rejected);
}

TEST_F(ReaderTest, CheckValueCoversExactlyTheBytesDeliveredWhateverTheReadSizes) {
  // Small reads come from a block inflated ahead and large ones bypass it;
  // the check value must still follow the delivered bytes in order, and
  // bytes inflated but not yet asked for must not count.
  std::string body = test::randomBytes(200000, 9);
  test::writeArchive(box.path("ok"), body);
  const std::size_t patterns[][4] = {{1, 5000, 3, 70000}, {4095, 4096, 1, 2}, {31, 40000, 7, 1}};
  for (const auto& sizes : patterns) {
    FileHandle file(box.path("ok"));
    CompressedStreamReader reader(file);
    std::string delivered;
    std::size_t total = 0;
    for (int round = 0; total < 150000; ++round) {
      std::size_t n = sizes[round % 4];
      std::string piece(n, '\0');
      reader.read(ByteRange{reinterpret_cast<uint8_t*>(&piece[0]),
                            reinterpret_cast<uint8_t*>(&piece[0]) + n});
      delivered += piece;
      total += n;
    }
    EXPECT_EQ(delivered, body.substr(0, delivered.size()));
    EXPECT_EQ(reader.checkValue(), crcOf(delivered)) << sizes[0] << "," << sizes[1];
  }
}

// zlib's own inflate over a whole zlib stream at once, the oracle: the
// bytes it gives before it stops, at the end or at the first damage.
std::string zlibGives(const std::string& stream) {
  z_stream z{};
  EXPECT_EQ(inflateInit(&z), Z_OK);
  std::string out(1 << 22, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  while (inflate(&z, Z_SYNC_FLUSH) == Z_OK && z.avail_in > 0 && z.avail_out > 0) {
  }
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// Everything the reader delivers, in pieces of at most 32 KiB, until it
// fails or `count` bytes are out.
std::string deliveredBy(const FilePath& archive, InflateThread thread, std::size_t count) {
  FileHandle file(archive);
  CompressedStreamReader reader(file, nullptr, thread);
  std::string delivered;
  try {
    while (delivered.size() < count) {
      ConstByteRange piece = reader.readInPlace(32768);
      delivered.append(reinterpret_cast<const char*>(piece.begin), piece.length());
    }
  } catch (const FormatError&) {
  }
  return delivered;
}

TEST_F(ReaderTest, NoByteBeyondDamageIsEverDeliveredWhileInflatingAhead) {
  // Long enough that the thread runs several blocks ahead of the reader.
  std::string body;
  for (uint32_t i = 0; body.size() < 1500000; ++i) {
    body += "record " + std::to_string(i * 7919 % 100003) + ";";
  }
  test::writeArchive(box.path("ok"), body);
  const std::string good = test::readFile(box.path("ok"));
  const std::size_t body_start = 12;
  for (std::size_t at = body_start + 2; at < good.size(); at += (good.size() - body_start) / 29) {
    std::string damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    test::writeFile(box.path("bad"), damaged);
    const std::string oracle = zlibGives(damaged.substr(body_start));
    for (InflateThread thread : {InflateThread::kNone, InflateThread::kOne}) {
      std::string delivered = deliveredBy(box.path("bad"), thread, 2 * body.size());
      ASSERT_EQ(delivered.size(), oracle.size()) << "damage at " << at;
      ASSERT_TRUE(delivered == oracle) << "damage at " << at;
    }
  }
}

}  // namespace
}  // namespace vna
