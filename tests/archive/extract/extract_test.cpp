#include <gtest/gtest.h>

#include <map>
#include <string>

#include "archive/create/create_archive.h"
#include "archive/extract/extract_archive.h"
#include "../archive_fixtures.h"
#include "base/errors.h"
#include "platform_api.h"

namespace vna {
namespace {

using test::record;
using test::Sandbox;

const char kInvalid[] = "Invalidly formatted VNArchive file.\n";
const char kSomeFailed[] = "Some files could not be extracted.\n";

// Runs the extraction and returns the ExceptionPL text, "" on success, or
// "other" for any other error.
std::string extract(const Sandbox& box, const char* archive = "a.vna", const char* target = "out") {
  return test::outcomeOf([&] { extractArchive(box.path(archive), box.path(target)); });
}

TEST(ExtractArchive, EndRecordOnlyCreatesTheTargetAndSucceeds) {
  Sandbox box;
  test::writeArchive(box.path("a.vna"), test::kEndRecord);
  EXPECT_EQ(extract(box), "");
  EXPECT_TRUE(test::isDirectory(box.path("out")));
  EXPECT_TRUE(test::snapshot(box.path("out")).empty());
}

TEST(ExtractArchive, MissingArchiveIsReported) {
  Sandbox box;
  EXPECT_EQ(extract(box), "Unable to open source location!\n");
  EXPECT_FALSE(test::exists(box.path("out")));
}

TEST(ExtractArchive, FilesBeforeTheFirstDirectoryLandFlat) {
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record("dir\\a.txt", "one") + record("dir\\", "") +
                                            record("dir\\a.txt", "two") + test::kEndRecord);
  EXPECT_EQ(extract(box), "");
  EXPECT_EQ(test::snapshot(box.path("out")),
            (std::map<std::string, std::string>{{"a.txt", "one"}, {"dir/", ""}, {"dir/a.txt", "two"}}));
}

TEST(ExtractArchive, FormatErrorsAreReportedAfterWhatCameBefore) {
  Sandbox box;
  std::string good = record("a.txt", "abc");
  struct Case {
    const char* name;
    std::string bytes;  // whole file
  };
  test::writeArchive(box.path("ok.vna"), good + test::kEndRecord);
  std::string valid = test::readFile(box.path("ok.vna"));
  std::string badCheck = valid;
  badCheck[11] ^= 1;
  test::writeArchive(box.path("m.vna"), std::string("X") + good + test::kEndRecord);
  test::writeArchive(box.path("t.vna"), record("a.txt", "abc", "") + test::kEndRecord);
  test::writeArchive(box.path("d.vna"), record("d\\", "xyz") + test::kEndRecord);
  test::writeArchive(box.path("n.vna"), good);
  Case cases[] = {
      {"trailing byte", valid + "Z"},
      {"check value", badCheck},
      {"marker", test::readFile(box.path("m.vna"))},
      {"timestamp length 0", test::readFile(box.path("t.vna"))},
      {"directory with data", test::readFile(box.path("d.vna"))},
      {"no end record", test::readFile(box.path("n.vna"))},
      {"magic", "##SC00X" + valid.substr(7)},
  };
  for (const Case& c : cases) {
    test::removeTree(box.path("out"));
    test::writeFile(box.path("a.vna"), c.bytes);
    EXPECT_EQ(extract(box), kInvalid) << c.name;
  }
  test::writeFile(box.path("a.vna"), valid + "Z");
  extract(box);
  EXPECT_EQ(test::readFile(box.path("out\\a.txt")), "abc") << "entries before the fault stay";
}

TEST(ExtractArchive, TimestampErrorsAreNotFormatErrors) {
  Sandbox box;
  test::writeArchive(box.path("a.vna"),
                     record("a.txt", "x", "05 Mar 2004 14:07:09") + test::kEndRecord);
  EXPECT_THROW(extractArchive(box.path("a.vna"), box.path("out")), NoTimeZone);
  test::writeArchive(box.path("a.vna"), record("a.txt", "x", "garbage") + test::kEndRecord);
  EXPECT_THROW(extractArchive(box.path("a.vna"), box.path("out")), ParsingFailure);
  EXPECT_FALSE(test::exists(box.path("out\\a.txt")));
  // An accepted text does not vouch for a later one of the same length.
  test::writeArchive(box.path("a.vna"), record("a.txt", "x") +
                                            record("b.txt", "y", "Fri, 05 Mar 2004 14:07:09 +0O00") +
                                            test::kEndRecord);
  EXPECT_THROW(extractArchive(box.path("a.vna"), box.path("out")), ParsingFailure);
  EXPECT_FALSE(test::exists(box.path("out\\b.txt")));
}

TEST(ExtractArchive, LargeFilesArriveWholeAndAFailedOneIsPassedExactly) {
  // Data is inflated in large pieces and written in smaller chunks: sizes on
  // and around both boundaries must arrive whole, and a file that cannot be
  // created must be read past to the byte, so the entry after it is intact.
  Sandbox box;
  const std::size_t sizes[] = {32767, 32768, 32769, 1048575, 1048576, 1048577, 3 * 1048576 + 5};
  std::string records;
  for (std::size_t n : sizes) {
    records += record("f" + std::to_string(n), test::randomBytes(n, static_cast<uint32_t>(n)));
  }
  records += record("blocked", test::randomBytes(2 * 1048576 + 3, 7)) + record("after", "tail");
  test::writeArchive(box.path("a.vna"), records + test::kEndRecord);
  test::makeDirectory(box.path("out"));
  test::makeDirectory(box.path("out\\blocked"));
  test::writeFile(box.path("out\\blocked\\mine"), "kept");
  EXPECT_EQ(extract(box), kSomeFailed);
  for (std::size_t n : sizes) {
    EXPECT_EQ(test::readFile(box.path(("out\\f" + std::to_string(n)).c_str())),
              test::randomBytes(n, static_cast<uint32_t>(n)))
        << n;
  }
  EXPECT_EQ(test::readFile(box.path("out\\blocked\\mine")), "kept");
  EXPECT_EQ(test::readFile(box.path("out\\after")), "tail");
}

TEST(ExtractArchive, TruncationInsideTheLastFileRemovesIt) {
  Sandbox box;
  std::string records = record("first.txt", "keep me") +
                        record("last.bin", test::randomBytes(100000, 2)) + test::kEndRecord;
  test::writeArchive(box.path("ok.vna"), records);
  std::string valid = test::readFile(box.path("ok.vna"));
  test::writeFile(box.path("a.vna"), valid.substr(0, valid.size() * 2 / 3));
  EXPECT_EQ(extract(box), kInvalid);
  EXPECT_EQ(test::readFile(box.path("out\\first.txt")), "keep me");
  EXPECT_FALSE(test::exists(box.path("out\\last.bin")));
}

TEST(ExtractArchive, ValidArchivesOfEveryTailLengthAreAccepted) {
  // The last record byte can come from one 32768-byte refill while the
  // stream's own tail lies in the next; such complete archives are valid.
  Sandbox box;
  test::makeDirectory(box.path("src"));
  for (uint32_t want = 0; want <= 8; ++want) {
    uint32_t size = 3 * 32768;
    uint32_t remainder = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
      test::writeFile(box.path("src\\data.bin"), test::randomBytes(size, 11));
      createArchive(box.path("src\\data.bin"), box.path("a.vna"));
      remainder = static_cast<uint32_t>((test::readFile(box.path("a.vna")).size() - 12) % 32768);
      if (remainder == want) break;
      int32_t step = static_cast<int32_t>((want + 32768 + 16384 - remainder) % 32768) - 16384;
      size = static_cast<uint32_t>(static_cast<int32_t>(size) + step);
    }
    ASSERT_EQ(remainder, want) << "could not tune the archive";
    test::removeTree(box.path("out"));
    EXPECT_EQ(extract(box), "") << "body length " << want << " modulo 32768";
    EXPECT_EQ(test::readFile(box.path("out\\data.bin")), test::randomBytes(size, 11));
  }
}

TEST(ExtractArchive, FailedEntryIsSkippedAndReportedAtTheEnd) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::makeDirectory(box.path("out\\blocked.txt"));
  test::writeFile(box.path("out\\blocked.txt\\inside"), "user data");
  test::writeArchive(box.path("a.vna"), record("blocked.txt", std::string(50000, 'b')) +
                                            record("after.txt", "after") + test::kEndRecord);
  EXPECT_EQ(extract(box), kSomeFailed);
  EXPECT_EQ(test::readFile(box.path("out\\after.txt")), "after");
  EXPECT_EQ(test::readFile(box.path("out\\blocked.txt\\inside")), "user data");
}

TEST(ExtractArchive, LaterFormatErrorWinsOverFailedEntries) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::makeDirectory(box.path("out\\blocked.txt"));
  test::writeFile(box.path("out\\blocked.txt\\inside"), "x");
  test::writeArchive(box.path("ok.vna"), record("blocked.txt", "b") + test::kEndRecord);
  test::writeFile(box.path("a.vna"), test::readFile(box.path("ok.vna")) + "junk");
  EXPECT_EQ(extract(box), kInvalid);
}

TEST(ExtractArchive, ReadOnlyFileInTheWayIsReplaced) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::writeFile(box.path("out\\ro.txt"), "old");
  test::setReadOnly(box.path("out\\ro.txt"), true);
  test::writeArchive(box.path("a.vna"), record("ro.txt", "new") + test::kEndRecord);
  EXPECT_EQ(extract(box), "");
  EXPECT_EQ(test::readFile(box.path("out\\ro.txt")), "new");
}

TEST(ExtractArchive, EmptyEntryTruncatesAnExistingFile) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::makeDirectory(box.path("out\\d"));
  test::writeFile(box.path("out\\e.txt"), "old content");
  test::writeFile(box.path("out\\d\\keep"), "k");
  test::writeArchive(box.path("a.vna"), record("e.txt", "") + record("d\\", "") + test::kEndRecord);
  EXPECT_EQ(extract(box), "");
  EXPECT_EQ(test::readFile(box.path("out\\e.txt")), "");
  EXPECT_EQ(test::readFile(box.path("out\\d\\keep")), "k") << "an existing directory is left alone";
}

TEST(ExtractArchive, DotComponentsNameTheDirectoryBeforeThem) {
  // A directory named with a trailing "." is the directory before it; a file
  // named so has no name to take and fails alone.
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record("a\\", "") + record("a\\.\\", "") +
                                            record("a\\.\\b\\", "") + record("a\\b\\.\\f", "f") +
                                            record("a\\.", "dot") + test::kEndRecord);
  EXPECT_EQ(extract(box), "Some files could not be extracted.\n");
  EXPECT_EQ(test::snapshot(box.path("out")),
            (std::map<std::string, std::string>{{"a/", ""}, {"a/b/", ""}, {"a/b/f", "f"}}));
}

TEST(ExtractArchive, DirectoryEntryWhereAFileStandsEndsTheRun) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::writeFile(box.path("out\\d"), "file");
  test::writeArchive(box.path("a.vna"), record("d\\", "") + test::kEndRecord);
  EXPECT_EQ(extract(box), "other");
  EXPECT_EQ(test::readFile(box.path("out\\d")), "file");
}

TEST(ExtractArchive, NothingIsWrittenOutsideTheTarget) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::writeArchive(box.path("a.vna"),
                     record("x/..", "escape") + record("/abs.txt", "a") + record("d\\", "") +
                         record("\\\\srv\\share.txt", "s") + record("d/../../up.txt", "u") +
                         test::kEndRecord);
  std::map<std::string, std::string> before = test::snapshot(box.root());
  std::string result = extract(box);
  EXPECT_EQ(result, kSomeFailed);
  std::map<std::string, std::string> after = test::snapshot(box.root());
  for (const auto& entry : after) {
    if (entry.first.rfind("out/", 0) == 0) continue;
    EXPECT_TRUE(before.count(entry.first)) << "written outside: " << entry.first;
  }
  EXPECT_EQ(test::readFile(box.path("out\\abs.txt")), "a");
}

TEST(ExtractArchive, EntryNamingTheTargetItselfFails) {
  // Found by fuzzing: "." survives sanitising and names the target itself.
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record(".", "x") + record("ok.txt", "ok") + test::kEndRecord);
  EXPECT_EQ(extract(box), kSomeFailed);
  EXPECT_EQ(test::snapshot(box.path("out")), (std::map<std::string, std::string>{{"ok.txt", "ok"}}));
}

TEST(ExtractArchive, DeviceNamesAreNeverOpenedOnWindows) {
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record("d\\", "") + record("d\\nul.txt", "") +
                                            record("d\\Aux", "") + record("d\\ok.txt", "ok") +
                                            test::kEndRecord);
  std::string result = extract(box);
  EXPECT_EQ(test::readFile(box.path("out\\d\\ok.txt")), "ok");
  if (platform::kWindowsPaths) {
    EXPECT_EQ(result, kSomeFailed);
  } else {
    EXPECT_EQ(result, "");
    EXPECT_TRUE(test::exists(box.path("out\\d\\nul.txt")));
  }
}

TEST(ExtractArchive, DirectoryInsteadOfArchiveIsAnOpenError) {
  Sandbox box;
  test::makeDirectory(box.path("a.vna"));
  EXPECT_EQ(extract(box), "other");
  test::writeFile(box.path("short.vna"), "##SC0");
  EXPECT_EQ(extract(box, "short.vna"), "other");
}

}  // namespace
}  // namespace vna
