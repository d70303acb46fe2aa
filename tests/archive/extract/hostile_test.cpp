// Damaged and hostile archives: whatever the bytes, extraction never
// crashes, never reports a different tree as success, never leaves a file
// of a damaged entry in part, and never writes outside its target.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <zlib.h>

#include "archive/create/create_archive.h"
#include "archive/extract/extract_archive.h"
#include "../archive_fixtures.h"
#include "base/errors.h"

namespace vna {
namespace {

using test::record;
using test::Sandbox;
using Tree = std::map<std::string, std::string>;

// Extracts `bytes` into a fresh "out" as the program does; returns what it
// told: "" on success, the message of an ExceptionPL, or the class of any
// other error that a damaged archive may raise. Whether the archive is
// inflated on a thread of its own changes nothing a reader delivers or
// meets (the stream tests compare the two ways).
std::string extractWith(const Sandbox& box, const std::string& bytes) {
  test::removeTree(box.path("out"));
  test::writeFile(box.path("a.vna"), bytes);
  try {
    extractArchive(box.path("a.vna"), box.path("out"));
  } catch (const ExceptionPL& e) {
    return e.what();
  } catch (const FileIOError& e) {
    return "FileIOError " + std::to_string(e.code());
  } catch (const DebuggableException& e) {
    return e.what();
  } catch (const InvalidTime&) {
    return "InvalidTime";
  } catch (const StackFull&) {
    return "StackFull";
  }
  return "";
}

// True when `bytes` extract with success.
bool extractBytes(const Sandbox& box, const std::string& bytes) {
  return extractWith(box, bytes).empty();
}

// Everything in the sandbox apart from the target and the archive.
Tree outside(const Sandbox& box) {
  Tree all = test::snapshot(box.root());
  Tree rest;
  for (const auto& entry : all) {
    if (entry.first.rfind("out/", 0) == 0 || entry.first == "a.vna" || entry.first == "x.vna") continue;
    rest.insert(entry);
  }
  return rest;
}

class HostileArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    test::makeDirectory(box.path("src"));
    test::writeFile(box.path("src\\a.txt"), "alpha alpha alpha");
    test::writeFile(box.path("src\\e"), "");
    test::makeDirectory(box.path("src\\d"));
    test::writeFile(box.path("src\\d\\b.bin"), test::randomBytes(300, 8));
    createArchive(box.path("src"), box.path("good.vna"));
    good = test::readFile(box.path("good.vna"));
    original = test::snapshot(box.path("src"));
    before = outside(box);
  }

  // Every file left in the target is a whole file of the original.
  void expectNoPartialFiles(const std::string& what) {
    for (const auto& entry : test::snapshot(box.path("out"))) {
      auto found = original.find(entry.first);
      ASSERT_TRUE(found != original.end() && found->second == entry.second)
          << what << ": " << entry.first;
    }
  }

  Sandbox box;
  std::string good;
  Tree original;
  Tree before;
};

TEST_F(HostileArchives, TruncationAtEveryOffsetIsRejected) {
  for (std::size_t length = 0; length < good.size(); ++length) {
    ASSERT_FALSE(extractBytes(box, good.substr(0, length))) << "accepted at length " << length;
    expectNoPartialFiles("length " + std::to_string(length));
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(extractBytes(box, good));
  EXPECT_EQ(test::snapshot(box.path("out")), original);
  EXPECT_EQ(outside(box), before);
}

TEST_F(HostileArchives, EverySingleBitFlipIsRejectedOrHarmless) {
  int accepted = 0;
  for (std::size_t byte = 0; byte < good.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string damaged = good;
      damaged[byte] = static_cast<char>(damaged[byte] ^ (1 << bit));
      if (extractBytes(box, damaged)) {
        ++accepted;
        ASSERT_EQ(test::snapshot(box.path("out")), original) << "byte " << byte << " bit " << bit;
      }
      ASSERT_EQ(outside(box), before) << "byte " << byte << " bit " << bit;
    }
  }
  // The filler byte carries no meaning: its eight flips are accepted.
  EXPECT_GE(accepted, 8);
}

TEST_F(HostileArchives, DamageAnywhereInALongArchiveEndsTheSameWithTheInflatingThread) {
  // Files across the blocks the thread inflates ahead, so that damage lies
  // ahead of the file being written: only the files before it may stand.
  auto text = [](std::size_t size, uint32_t seed) {
    std::string out;
    while (out.size() < size) {
      seed = seed * 1103515245u + 12345u;
      out += "line " + std::to_string(seed) + "\n";
    }
    return out.substr(0, size);
  };
  test::makeDirectory(box.path("long"));
  test::writeFile(box.path("long\\a.txt"), text(400000, 1));
  test::makeDirectory(box.path("long\\d"));
  test::writeFile(box.path("long\\d\\b.txt"), text(300000, 2));
  test::writeFile(box.path("long\\d\\c.txt"), "small");
  test::writeFile(box.path("long\\d\\e.txt"), text(700000, 3));
  createArchive(box.path("long"), box.path("long.vna"));
  const std::string whole = test::readFile(box.path("long.vna"));
  original = test::snapshot(box.path("long"));
  before = outside(box);
  for (std::size_t at = 12; at < whole.size(); at += whole.size() / 23) {
    ASSERT_FALSE(extractBytes(box, whole.substr(0, at))) << "accepted cut at " << at;
    expectNoPartialFiles("cut at " + std::to_string(at));
    std::string damaged = whole;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    if (extractBytes(box, damaged)) {
      ASSERT_EQ(test::snapshot(box.path("out")), original) << "accepted flip at " << at;
    }
    ASSERT_EQ(outside(box), before);
    if (HasFatalFailure()) return;
  }
}

TEST_F(HostileArchives, SizeFarBeyondTheDataIsRejectedAndNothingLeft) {
  std::string lying = record("a.txt", "only a little");
  lying.replace(lying.size() - 13 - 4, 4, test::le32(0x7FFFFFF0u));
  test::writeArchive(box.path("x.vna"), lying + test::kEndRecord);
  EXPECT_FALSE(extractBytes(box, test::readFile(box.path("x.vna"))));
  EXPECT_FALSE(test::exists(box.path("out\\a.txt")));
}

TEST_F(HostileArchives, SecondStreamAfterTheEndRecordIsRejected) {
  test::writeArchive(box.path("x.vna"), test::kEndRecord);
  std::string second = test::readFile(box.path("x.vna")).substr(12);
  EXPECT_FALSE(extractBytes(box, good + second));
  EXPECT_EQ(test::snapshot(box.path("out")), original) << "the entries before it were extracted";
}

TEST_F(HostileArchives, HostileNamesStayBelowTheTarget) {
  const std::string names[] = {
      "../up.txt", "..\\up.txt", "a/../../b.txt", ". ./x.txt", "x. ", "... ", "..",
      ".. ", "/etc/vna-abs.txt", "\\vna-rooted.txt", "C:\\vna-drive.txt", "C:vna-rel.txt",
      "\\\\server\\share\\x.txt", "\\\\?\\C:\\vna-long.txt", "a:b", "nul", "CON.txt",
      "lpt1", std::string(254, 'n'), "ctl\x01\x1f.txt", "high\x80\xff.txt", " \t lead.txt",
      "trail.txt. . .", "%2e%2e/x", "d/..", "d\\..\\..\\z",
  };
  for (int treeMode = 0; treeMode < 2; ++treeMode) {
    std::string records = treeMode ? record("dir\\", "") : std::string();
    for (const std::string& name : names) records += record(name, "");
    records += record("same", "file") + record("same\\", "") + record("other\\", "") +
               record("other", "file");
    test::writeArchive(box.path("x.vna"), records + test::kEndRecord);
    extractBytes(box, test::readFile(box.path("x.vna")));
    EXPECT_EQ(outside(box), before) << "tree mode " << treeMode;
  }
  for (const char* absolute : {"/etc/vna-abs.txt", "\\vna-rooted.txt", "C:\\vna-drive.txt",
                               "C:\\vna-long.txt", "C:vna-rel.txt"}) {
    EXPECT_FALSE(test::exists(FilePath(absolute))) << absolute;
  }
}

}  // namespace
}  // namespace vna
