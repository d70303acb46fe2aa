// Extraction never harms what was there before the run: the archive being
// read, a file whose entry fails, a file an earlier entry wrote. The oracle
// is the bytes and names on disk before and after.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "archive/stream/compressed_reader.h"
#include "archive/extract/extract_archive.h"
#include "../archive_fixtures.h"
#include "base/errors.h"
#include "platform_api.h"

namespace vna {
namespace {

using test::record;
using test::Sandbox;
using Tree = std::map<std::string, std::string>;

const char kInvalid[] = "Invalidly formatted VNArchive file.\n";
const char kSomeFailed[] = "Some files could not be extracted.\n";

std::string extract(const FilePath& archive, const FilePath& target) {
  return test::outcomeOf([&] { extractArchive(archive, target); });
}

// An archive whose last record's data is cut short: the entry fails inside
// its guard, then the run ends with the format error.
std::string archiveCutInside(const Sandbox& box, const std::string& records) {
  test::writeArchive(box.path("whole.vna"), records + test::kEndRecord);
  std::string whole = test::readFile(box.path("whole.vna"));
  return whole.substr(0, whole.size() - 40);
}

TEST(ExtractSafety, ArchiveNamedByItsOwnEntryStaysByteForByte) {
  struct Case {
    const char* archive;  // below the sandbox
    const char* entries;  // the entry that names the archive
  };
  for (Case c : {Case{"x.vna", ""}, Case{"sub\\x.vna", "sub\\"}}) {
    SCOPED_TRACE(c.archive);
    Sandbox box;
    test::makeDirectory(box.path("sub"));
    std::string records = record("first.txt", "1");
    if (*c.entries != '\0') records += record(c.entries, "");
    records += record(std::string(c.entries) + "x.vna", std::string(300000, 'z')) +
               record("last.txt", "2");
    test::writeArchive(box.path(c.archive), records + test::kEndRecord);
    std::string before = test::readFile(box.path(c.archive));
    EXPECT_EQ(extract(box.path(c.archive), box.root()), kSomeFailed);
    EXPECT_EQ(test::readFile(box.path(c.archive)), before);
    EXPECT_EQ(test::readFile(box.path("first.txt")), "1");
    EXPECT_EQ(test::readFile(box.path("last.txt")), "2");
  }
}

TEST(ExtractSafety, FailedEntryLeavesWhatStoodAtItsTarget) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::makeDirectory(box.path("out\\emptydir"));
  test::writeFile(box.path("out\\keep.txt"), "user's own");
  test::writeFile(box.path("out\\ro.txt"), "read-only");
  test::setReadOnly(box.path("out\\ro.txt"), true);
  // A file entry where an empty directory stands fails; so do the damaged
  // entries over existing files. None of them may remove what was there.
  test::writeArchive(box.path("a.vna"), record("emptydir", "data") + test::kEndRecord);
  EXPECT_EQ(extract(box.path("a.vna"), box.path("out")), kSomeFailed);
  for (const char* name : {"keep.txt", "ro.txt"}) {
    SCOPED_TRACE(name);
    test::writeFile(box.path("cut.vna"), archiveCutInside(box, record(name, std::string(5000, 'n'))));
    EXPECT_EQ(extract(box.path("cut.vna"), box.path("out")), kInvalid);
  }
  EXPECT_EQ(test::snapshot(box.path("out")),
            (Tree{{"emptydir/", ""}, {"keep.txt", "user's own"}, {"ro.txt", "read-only"}}))
      << "no temporary file is left either";
  EXPECT_EQ(GetFileAttributesA(box.path("out\\ro.txt").text()) & FILE_ATTRIBUTE_READONLY,
            FILE_ATTRIBUTE_READONLY);
}

TEST(ExtractSafety, ExistingFilesAreReplacedWholeAndNoTemporaryStays) {
  Sandbox box;
  test::makeDirectory(box.path("out"));
  test::writeFile(box.path("out\\a.txt"), std::string(100000, 'o'));
  test::writeFile(box.path("out\\ro.txt"), "old");
  test::setReadOnly(box.path("out\\ro.txt"), true);
  test::writeFile(box.path("out\\~vna0.tmp"), "a file that happens to have the name");
  test::writeArchive(box.path("a.vna"), record("a.txt", "new") + record("ro.txt", "fresh") +
                                            record("b.txt", "b") + test::kEndRecord);
  EXPECT_EQ(extract(box.path("a.vna"), box.path("out")), "");
  EXPECT_EQ(test::snapshot(box.path("out")),
            (Tree{{"a.txt", "new"},
                  {"b.txt", "b"},
                  {"ro.txt", "fresh"},
                  {"~vna0.tmp", "a file that happens to have the name"}}));
}

TEST(ExtractSafety, LaterEntryNeverReplacesAFileThisRunWrote) {
  struct Case {
    const char* first;
    const char* second;
    const char* onDisk;  // where the first lands ("/" between levels)
    bool meet;           // whether both reach one file on this platform
  };
  const Case cases[] = {
      {"a:b", "a_b", "a_b", true},          // the colon becomes "_"
      {"v1__2", "v1..2", "v1__2", true},    // dots become "_" where ".." appears
      {"lead", "  lead", "lead", true},     // leading blanks are dropped
      {"p_20q", "p%20q", "p_20q", true},    // "%" becomes "_" where "%2" appears
      {"d\\f", "d/f", "d/f", true},         // either separator
      {"Case.txt", "CASE.TXT", "Case.txt", platform::kWindowsPaths},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " then " + c.second);
    Sandbox box;
    test::writeArchive(box.path("a.vna"), record("d\\", "") + record(c.first, "first") +
                                              record(c.second, "second") + test::kEndRecord);
    std::string result = extract(box.path("a.vna"), box.path("out"));
    Tree tree = test::snapshot(box.path("out"));
    EXPECT_EQ(tree[c.onDisk], "first");
    if (c.meet) {
      EXPECT_EQ(result, kSomeFailed);
      EXPECT_EQ(tree.size(), 2u) << "the directory and the first file only";
    } else {
      EXPECT_EQ(result, "");
      EXPECT_EQ(tree.size(), 3u);
    }
  }
}

TEST(ExtractSafety, NameBeforeTheFirstDirectoryEntryMeetsTheSameRules) {
  // Only the last component is kept there, and it is made safe as a whole
  // name would be: on NTFS "a:b" would be the stream "b" of the file "a".
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record("q\\a:b", "colon") + record("r\\x..y", "dots") +
                                            test::kEndRecord);
  EXPECT_EQ(extract(box.path("a.vna"), box.path("out")), "");
  EXPECT_EQ(test::snapshot(box.path("out")), (Tree{{"a_b", "colon"}, {"x__y", "dots"}}));
}

TEST(ExtractSafety, DamagedArchiveReplacesNothingThatStoodBeforeTheRun) {
  // Enough replaced files, with long names, that the pending moves fill the
  // journal's buffer several times.
  const std::string longName(150, 'n');
  std::string records = record("d\\", "");
  Tree before;
  for (int i = 0; i < 400; ++i) {
    std::string name = "d\\" + longName + std::to_string(i);
    records += record(name.c_str(), "new " + std::to_string(i));
    before["d/" + longName + std::to_string(i)] = "old " + std::to_string(i);
  }
  records += record("d\\fresh.txt", "fresh");
  Sandbox box;
  test::writeArchive(box.path("good.vna"), records + test::kEndRecord);
  const std::string good = test::readFile(box.path("good.vna"));
  std::string wrongCheck = good;
  wrongCheck[11] = static_cast<char>(wrongCheck[11] ^ 1);
  const std::string damaged[] = {wrongCheck, good + "x", good.substr(0, good.size() - 3)};
  for (const std::string& archive : damaged) {
    test::writeFile(box.path("bad.vna"), archive);
    test::makeDirectory(box.path("out"));
    test::makeDirectory(box.path("out\\d"));
    for (const auto& [name, data] : before) test::writeFile(box.path(("out\\" + name).c_str()), data);
    EXPECT_EQ(extract(box.path("bad.vna"), box.path("out")), kInvalid);
    Tree after = test::snapshot(box.path("out"));
    EXPECT_EQ(after["d/fresh.txt"], "fresh") << "a new file is written as before";
    after.erase("d/fresh.txt");
    after.erase("d/");
    EXPECT_EQ(after, before) << "every old file as it was, and no waiting file left";
    test::removeTree(box.path("out"));
  }
  test::makeDirectory(box.path("out"));
  test::makeDirectory(box.path("out\\d"));
  for (const auto& [name, data] : before) test::writeFile(box.path(("out\\" + name).c_str()), data);
  EXPECT_EQ(extract(box.path("good.vna"), box.path("out")), "");
  Tree after = test::snapshot(box.path("out"));
  for (const auto& [name, data] : before) EXPECT_EQ(after[name], "new" + data.substr(3)) << name;
  EXPECT_EQ(after.size(), before.size() + 2) << "d, fresh.txt, and no waiting file or journal";
}

TEST(ExtractSafety, SecondRunOverTheSameTreeReplacesEveryFile) {
  // Files written by an earlier run are not "written in this run".
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record("x.txt", "1") + record("d\\", "") +
                                            record("d\\y.txt", "2") + test::kEndRecord);
  EXPECT_EQ(extract(box.path("a.vna"), box.path("out")), "");
  EXPECT_EQ(extract(box.path("a.vna"), box.path("out")), "");
  EXPECT_EQ(test::snapshot(box.path("out")), (Tree{{"x.txt", "1"}, {"d/", ""}, {"d/y.txt", "2"}}));
}

TEST(ExtractSafety, DirectoryEntryNamingTheTargetIsSatisfied) {
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record(".\\", "") + record("./", "") +
                                            record("in.txt", "i") + test::kEndRecord);
  EXPECT_EQ(extract(box.path("a.vna"), box.path("out")), "");
  EXPECT_EQ(test::snapshot(box.path("out")), (Tree{{"in.txt", "i"}}));
}

TEST(ExtractSafety, ReadAfterTheEndTestIsAProgrammingError) {
  Sandbox box;
  test::writeArchive(box.path("a.vna"), record("a.txt", "abc") + test::kEndRecord);
  FileHandle file(box.path("a.vna"));
  CompressedStreamReader reader(file);
  uint8_t byte;
  reader.read(ByteRange{&byte, &byte + 1});
  EXPECT_FALSE(reader.finishAtEnd()) << "a record follows";
  EXPECT_THROW(reader.read(ByteRange{&byte, &byte + 1}), std::logic_error);
}

}  // namespace
}  // namespace vna
