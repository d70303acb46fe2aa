#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/extract/replacement_journal.h"
#include "new_file.h"
#include "sandbox.h"

namespace vna {
namespace {

Replacement sample(int i) {
  Replacement r;
  r.directory = i % 2 ? "d" : "";
  r.target = "file" + std::to_string(i) + ".txt";
  r.waiting = "~vna7-1-" + std::to_string(i) + ".tmp";
  r.waitingStamp.identity = FileIdentity{0x801u, 0u, 1000u + i};
  r.waitingStamp.birth = 0x0123456789ull + i;
  r.waitingStamp.size = 10u * i;
  r.standing = i % 3 != 0;
  r.standingStamp.identity = FileIdentity{0x801u, 1u, 2000u + i};
  r.standingStamp.birth = 77u;
  return r;
}

// Reads the journal at `path`: the targets of its whole records, in order,
// and "V" for the mark.
std::vector<std::string> readBack(const FilePath& path) {
  FileHandle file(path);
  JournalReader reader;
  std::vector<std::string> seen;
  if (reader.start(file) != JournalReader::Start::Journal) return {"not a journal"};
  Replacement r;
  for (auto next = reader.next(r); next != JournalReader::Next::End; next = reader.next(r)) {
    if (next == JournalReader::Next::Verified) {
      seen.push_back("V");
      continue;
    }
    const Replacement expected = sample(static_cast<int>(seen.size()));
    EXPECT_EQ(r.directory, expected.directory);
    EXPECT_EQ(r.waiting, expected.waiting);
    EXPECT_TRUE(r.waitingStamp == expected.waitingStamp);
    EXPECT_EQ(r.standing, expected.standing);
    if (r.standing) {
      EXPECT_TRUE(r.standingStamp == expected.standingStamp);
    }
    seen.push_back(r.target);
  }
  return seen;
}

class Journal : public ::testing::Test {
 protected:
  // Three records and the mark, as a run writes them; returns the bytes
  // and, in `ends`, where each whole record ends.
  std::string writeWhole(std::vector<std::size_t>& ends) {
    {
      test::NewFile file(box_.path("j.jnl"));
      JournalWriter writer;
      writer.start(file);
      for (int i = 0; i < 3; ++i) {
        writer.add(sample(i));
        ends.push_back(static_cast<std::size_t>(file.size()));
      }
      writer.addVerified();
      ends.push_back(static_cast<std::size_t>(file.size()));
    }
    return test::readFile(box_.path("j.jnl"));
  }
  test::Sandbox box_;
};

TEST_F(Journal, ATornTailEndsItAtTheLastWholeRecord) {
  std::vector<std::size_t> ends;
  const std::string whole = writeWhole(ends);
  const std::vector<std::string> all = {"file0.txt", "file1.txt", "file2.txt", "V"};
  ASSERT_EQ(readBack(box_.path("j.jnl")), all);
  // Cut at every length, and with the cut part zero-filled as a power cut
  // leaves a file whose size was logged before its data.
  auto wholeBefore = [&](std::size_t end) {
    std::size_t n = 0;
    while (n < ends.size() && ends[n] <= end) ++n;
    return std::vector<std::string>(all.begin(), all.begin() + n);
  };
  for (std::size_t cut = sizeof kJournalMagic; cut < whole.size(); ++cut) {
    test::writeFile(box_.path("j.jnl"), whole.substr(0, cut));
    EXPECT_EQ(readBack(box_.path("j.jnl")), wholeBefore(cut)) << "cut at " << cut;
    // Zeros where zeros stood change nothing: the first byte they change
    // is where the records end.
    std::size_t changed = cut;
    while (changed < whole.size() && whole[changed] == '\0') ++changed;
    test::writeFile(box_.path("j.jnl"), whole.substr(0, cut) + std::string(whole.size() - cut, '\0'));
    EXPECT_EQ(readBack(box_.path("j.jnl")), wholeBefore(changed)) << "zeros from " << cut;
  }
}

TEST_F(Journal, AChangedByteEndsItBeforeThatRecord) {
  std::vector<std::size_t> ends;
  const std::string whole = writeWhole(ends);
  // A byte of the second record's payload, then of its check value.
  for (std::size_t at : {ends[0] + 12, ends[0] + 1}) {
    std::string bad = whole;
    bad[at] = static_cast<char>(bad[at] ^ 0x20);
    test::writeFile(box_.path("j.jnl"), bad);
    EXPECT_EQ(readBack(box_.path("j.jnl")), std::vector<std::string>{"file0.txt"});
  }
  test::writeFile(box_.path("j.jnl"), "VNArchive replacement journal 1" + std::string(1, '\0'));
  EXPECT_EQ(readBack(box_.path("j.jnl")), std::vector<std::string>{"not a journal"});
}

}  // namespace
}  // namespace vna
