#include <gtest/gtest.h>

#include <map>

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/create/create_archive.h"
#include "archive/extract/extract_archive.h"
#include "../archive_fixtures.h"
#include "base/errors.h"
#include "platform_api.h"

namespace vna {
namespace {

using test::Sandbox;

std::string body(const FilePath& archive) {
  std::string file = test::readFile(archive);
  std::string out(1 << 22, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(&out[0]), &length,
                       reinterpret_cast<const Bytef*>(file.data() + 12),
                       static_cast<uLong>(file.size() - 12)),
            Z_OK);
  out.resize(length);
  return out;
}

// Stored names in record order.
std::vector<std::string> names(const std::string& records) {
  std::vector<std::string> out;
  std::size_t p = 0;
  while (p + 2 <= records.size() && records[p + 1] != 0) {
    std::size_t n = static_cast<uint8_t>(records[p + 1]);
    out.push_back(records.substr(p + 2, n - 1));
    p += 2 + n;
    std::size_t t = static_cast<uint8_t>(records[p]);
    p += 1 + t;
    uint32_t size = 0;
    for (int i = 0; i < 4; ++i) size |= static_cast<uint32_t>(static_cast<uint8_t>(records[p + i])) << (8 * i);
    p += 4 + size;
  }
  return out;
}

TEST(CreateArchive, EmptyDirectoryHoldsOnlyTheEndRecord) {
  Sandbox box;
  test::makeDirectory(box.path("src"));
  createArchive(box.path("src"), box.path("a.vna"));
  std::string file = test::readFile(box.path("a.vna"));
  EXPECT_EQ(file.substr(0, 12), std::string("##SC001\0\x13\xD8\x51\xF5", 12));
  EXPECT_EQ(body(box.path("a.vna")), test::kEndRecord);
}

TEST(CreateArchive, DirectoryEntryPrecedesItsContents) {
  Sandbox box;
  test::makeDirectory(box.path("src"));
  test::writeFile(box.path("src\\a.txt"), "abc");
  test::makeDirectory(box.path("src\\sub"));
  test::writeFile(box.path("src\\sub\\b.txt"), "");
  createArchive(box.path("src"), box.path("a.vna"));
  std::vector<std::string> stored = names(body(box.path("a.vna")));
  ASSERT_EQ(stored.size(), 3u);
  auto sub = std::find(stored.begin(), stored.end(), "sub\\");
  ASSERT_NE(sub, stored.end());
  EXPECT_EQ(*(sub + 1), "sub\\b.txt");
  EXPECT_NE(std::find(stored.begin(), stored.end(), "a.txt"), stored.end());
}

TEST(CreateArchive, SingleFileRecordIsExact) {
  Sandbox box;
  test::writeFile(box.path("a.txt"), "xyz");
  createArchive(box.path("a.txt"), box.path("a.vna"));
  std::string records = body(box.path("a.vna"));
  ASSERT_EQ(records.size(), 2 + 6 + 1 + 31 + 4 + 3 + 2u);
  EXPECT_EQ(records.substr(0, 8), std::string("_\x06" "a.txt\0", 8));
  EXPECT_EQ(records[8], '\x1F');
  EXPECT_EQ(records.substr(40, 4), std::string("\x03\0\0\0", 4));
  EXPECT_EQ(records.substr(44, 3), "xyz");
  EXPECT_EQ(records.substr(47), test::kEndRecord);
}

TEST(CreateArchive, NameLimitIs254Bytes) {
  if (platform::kWindowsPaths) GTEST_SKIP() << "names this long exceed MAX_PATH below TEMP";
  Sandbox box;
  test::makeDirectory(box.path("src"));
  std::string ok(254, 'n');
  test::writeFile(box.path(("src\\" + ok).c_str()), "x");
  EXPECT_NO_THROW(createArchive(box.path("src"), box.path("a.vna")));
  test::makeDirectory(box.path("deep"));
  test::makeDirectory(box.path("deep\\d"));
  test::writeFile(box.path(("deep\\d\\" + std::string(253, 'm')).c_str()), "x");
  EXPECT_THROW(createArchive(box.path("deep"), box.path("b.vna")), ArchiveWriterError);
}

TEST(CreateArchive, MissingOrDotSourcesAreReported) {
  Sandbox box;
  try {
    createArchive(box.path("missing"), box.path("a.vna"));
    FAIL();
  } catch (const ExceptionPL& e) {
    EXPECT_STREQ(e.what(), "Unable to open source location!\n");
  }
  EXPECT_FALSE(test::exists(box.path("a.vna")));
}

TEST(CreateArchive, ArchivePathNamingTheSourceFileIsRefusedBeforeTruncating) {
  Sandbox box;
  test::writeFile(box.path("a.txt"), "precious");
  try {
    createArchive(box.path("a.txt"), box.path("a.txt"));
    FAIL();
  } catch (const ExceptionPL& e) {
    EXPECT_STREQ(e.what(), "Archive location is the same as the source location!\n");
  }
  EXPECT_EQ(test::readFile(box.path("a.txt")), "precious");
  FilePath respelled((std::string(box.root().text()) + "\\.\\a.txt").c_str());
  EXPECT_THROW(createArchive(box.path("a.txt"), respelled), ExceptionPL);
  EXPECT_EQ(test::readFile(box.path("a.txt")), "precious");
}

TEST(CreateArchive, ArchiveInsideTheSourceIsLeftOut) {
  Sandbox box;
  test::makeDirectory(box.path("src"));
  test::writeFile(box.path("src\\a.txt"), "abc");
  // The second run meets the first run's archive at the final name and its
  // own one under a temporary name: neither is stored.
  for (int run = 0; run < 2; ++run) {
    createArchive(box.path("src"), box.path("src\\self.vna"));
    std::vector<std::string> stored = names(body(box.path("src\\self.vna")));
    EXPECT_EQ(stored, (std::vector<std::string>{"a.txt"}));
  }
  createArchive(box.path("src"), box.path("out.vna"));
  std::vector<std::string> outside = names(body(box.path("out.vna")));
  std::sort(outside.begin(), outside.end());
  EXPECT_EQ(outside, (std::vector<std::string>{"a.txt", "self.vna"}));
}

TEST(CreateArchive, ReadOnlyEarlierArchiveIsRefusedBeforeTheSourceIsRead) {
  Sandbox box;
  test::makeDirectory(box.path("src"));
  test::writeFile(box.path("ro.vna"), "earlier");
  test::setReadOnly(box.path("ro.vna"), true);
  EXPECT_THROW(createArchive(box.path("src"), box.path("ro.vna")), FileIOError);
  test::setReadOnly(box.path("ro.vna"), false);
  EXPECT_EQ(test::readFile(box.path("ro.vna")), "earlier");
  EXPECT_EQ(test::snapshot(box.root()),
            (std::map<std::string, std::string>{{"src/", ""}, {"ro.vna", "earlier"}}))
      << "no temporary archive is left";
}

TEST(CreateArchive, TimesOutsideYearsZeroTo9999AreClamped) {
  EXPECT_EQ(clampToWritableTime(0), 0);
  EXPECT_EQ(clampToWritableTime(INT64_MIN), -62167219200LL * 1000000);
  EXPECT_EQ(clampToWritableTime(INT64_MAX), 253402300799LL * 1000000);
  EXPECT_EQ(clampToWritableTime(253402300799LL * 1000000 + 999999), 253402300799LL * 1000000);
}

TEST(CreateArchive, TreeRoundTripsThroughExtraction) {
  Sandbox box;
  test::makeDirectory(box.path("src"));
  test::makeDirectory(box.path("src\\empty"));
  test::makeDirectory(box.path("src\\d"));
  test::makeDirectory(box.path("src\\d\\e"));
  test::writeFile(box.path("src\\zero"), "");
  test::writeFile(box.path("src\\d\\big.bin"), test::randomBytes(200000, 4));
  test::writeFile(box.path("src\\d\\e\\text.txt"), std::string(70000, 'a'));
  createArchive(box.path("src"), box.path("a.vna"));
  extractArchive(box.path("a.vna"), box.path("out"));
  EXPECT_EQ(test::snapshot(box.path("out")), test::snapshot(box.path("src")));
}

TEST(CreateArchive, TreeArchiveIsTheSameByteForByteWithAnyNumberOfWorkers) {
  // Files of many sizes, so that records and data cross block boundaries at
  // every kind of place: inside a record's fields, inside data, at a file's
  // end. Read into memory in between, each archive is compared whole.
  Sandbox box;
  test::makeDirectory(box.path("src"));
  for (int d = 0; d < 4; ++d) {
    FilePath dir = box.path(("src\\d" + std::to_string(d)).c_str());
    test::makeDirectory(dir);
    for (int f = 0; f < 12; ++f) {
      std::size_t size = static_cast<std::size_t>((f * 7919 + d * 104729) % 60001);
      std::string name = std::string(dir.text()) + "\\f" + std::to_string(f);
      test::writeFile(FilePath(name.c_str()), f % 2 == 0 ? test::randomBytes(size, f + d)
                                                          : std::string(size, static_cast<char>('a' + f)));
    }
  }
  auto archiveWith = [&](unsigned workers) {
    {
      test::NewFile file(box.path("a.vna"));
      ArchiveWriter writer(file, workers);
      platform::HeldDirectory source;
      EXPECT_EQ(source.hold(box.path("src").text()), platform::HeldDirectory::Outcome::Held);
      SourceWalk walk(writer, source);
      walk.walk(source, "");
      EXPECT_FALSE(walk.skipped());
      writer.finishArchive();
      file.close();
    }
    return test::readFile(box.path("a.vna"));
  };
  std::string serial = archiveWith(0);
  ASSERT_GT(serial.size(), 3 * BlockDeflater::kBlockSize / 2) << "the tree spans several blocks";
  for (unsigned workers : {1u, 2u, 3u, 4u, 8u}) {
    EXPECT_TRUE(archiveWith(workers) == serial) << workers << " workers";
  }
  EXPECT_EQ(names(body(box.path("a.vna"))).size(), 4u + 4u * 12u);
}

}  // namespace
}  // namespace vna
