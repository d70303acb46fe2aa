// What a run does with what a dead run left: the decision table of the
// replacement protocol, driven through the seam by extracting a one-file
// archive into a target where a dead run's journal and files lie. The
// oracle is the names and bytes on disk before and after.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "archive/extract/extract_archive.h"
#include "archive/extract/replacement_journal.h"
#include "../archive_fixtures.h"
#include "new_file.h"
#include "platform/held_directory.h"

namespace vna {
namespace {

using Tree = std::map<std::string, std::string>;

// A dead run in the sandbox's "t": its journal and its waiting files, made
// through the seam as a run makes them.
class DeadRun {
 public:
  DeadRun(const test::Sandbox& box, const std::string& stem) : box_(box), stem_(stem) {
    test::makeDirectory(box.path("t"));
    if (target_.hold(box.path("t").text()) != platform::HeldDirectory::Outcome::Held ||
        !journal_.createPrivate(target_, (stem + ".jnl").c_str())) {
      throw FileIOError(0);
    }
    writer_.start(journal_);
  }
  // A waiting file of this run beside `target`, recorded with the stamps
  // the two files have now.
  Replacement wait(const std::string& target, const std::string& k, const std::string& content) {
    Replacement r;
    r.target = target;
    r.waiting = stem_ + "-" + k + ".tmp";
    {
      test::NewFile file(box_.path(("t\\" + r.waiting).c_str()));
      FileWriter(file, 0).write(ConstByteRange(reinterpret_cast<const uint8_t*>(content.data()),
                                               reinterpret_cast<const uint8_t*>(content.data()) +
                                                   content.size()));
      EXPECT_TRUE(stampOf(file, r.waitingStamp));
    }
    DWORD attributes = 0;
    r.standing = stampAt(target_, target.c_str(), r.standingStamp, attributes);
    return r;
  }
  void add(const Replacement& r) { writer_.add(r); }
  void verify() { writer_.addVerified(); }
  // The first half of `r`'s record, as a power cut leaves a tail.
  void addTorn(const Replacement& r) {
    {
      test::NewFile scratch(box_.path("scratch.jnl"));
      JournalWriter writer;
      writer.start(scratch);
      writer.add(r);
    }
    std::string bytes = test::readFile(box_.path("scratch.jnl")).substr(sizeof kJournalMagic);
    test::removeTree(box_.path("scratch.jnl"));
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(bytes.data());
    FileWriter(journal_, journal_.size()).write(ConstByteRange(begin, begin + bytes.size() / 2));
  }

 private:
  const test::Sandbox& box_;
  std::string stem_;
  platform::HeldDirectory target_;
  WritableFileHandle journal_;
  JournalWriter writer_;
};

// Extracts an archive of "x.txt" into "t" (where "x.txt" stands already,
// so the run replaces a file itself); returns what "t" then holds.
Tree extractInto(const test::Sandbox& box) {
  test::writeArchive(box.path("x.vna"), test::record("x.txt", "x") + test::kEndRecord);
  extractArchive(box.path("x.vna"), box.path("t"));
  return test::snapshot(box.path("t"));
}

TEST(Settlement, ActsOnlyOnWhatTheDeadRunProvablyMade) {
  struct Case {
    const char* name;
    // Plants the dead run's journal and files; returns what "t" holds after.
    std::function<Tree(const test::Sandbox&, DeadRun&)> plant;
  };
  const Tree x = {{"x.txt", "x"}};
  auto with = [&](Tree more) {
    more.insert(x.begin(), x.end());
    return more;
  };
  // A verified record whose waiting file is not the one `change` makes
  // the record name.
  auto leftAlone = [&](void (*change)(Replacement&)) {
    return [&with, change](const test::Sandbox& box, DeadRun& run) {
      test::writeFile(box.path("t\\a.txt"), "old");
      Replacement r = run.wait("a.txt", "0", "new");
      change(r);
      run.add(r);
      run.verify();
      return with({{"a.txt", "old"}, {"~vna90-7-0.tmp", "new"}});
    };
  };
  const Case cases[] = {
      {"verified: the move is completed",
       [&](const test::Sandbox& box, DeadRun& run) {
         test::writeFile(box.path("t\\a.txt"), "old");
         run.add(run.wait("a.txt", "0", "new"));
         run.verify();
         return with({{"a.txt", "new"}});
       }},
      {"verified, nothing stood at the name: the move is completed",
       [&](const test::Sandbox&, DeadRun& run) {
         run.add(run.wait("a.txt", "0", "new"));
         run.verify();
         return with({{"a.txt", "new"}});
       }},
      {"not verified: the waiting file goes, the earlier file stays",
       [&](const test::Sandbox& box, DeadRun& run) {
         test::writeFile(box.path("t\\a.txt"), "old");
         run.add(run.wait("a.txt", "0", "new"));
         return with({{"a.txt", "old"}});
       }},
      {"verified, but another file took the name since: it stays",
       [&](const test::Sandbox& box, DeadRun& run) {
         test::writeFile(box.path("t\\a.txt"), "old");
         Replacement r = run.wait("a.txt", "0", "new");
         test::removeTree(box.path("t\\a.txt"));
         test::writeFile(box.path("t\\a.txt"), "newer");
         run.add(r);
         run.verify();
         return with({{"a.txt", "newer"}});
       }},
      {"the file at the waiting name is another: left alone",
       leftAlone([](Replacement& r) { r.waitingStamp.identity.indexLow ^= 1; })},
      {"the file index given again to a new file: left alone",
       leftAlone([](Replacement& r) { r.waitingStamp.birth += 1; })},
      {"a waiting file of another run: left alone",
       [&](const test::Sandbox& box, DeadRun& run) {
         test::writeFile(box.path("t\\a.txt"), "old");
         Replacement r = run.wait("a.txt", "0", "new");
         test::writeFile(box.path("t\\~vna91-7-0.tmp"), "other");
         r.waiting = "~vna91-7-0.tmp";
         run.add(r);
         run.verify();
         return with({{"a.txt", "old"}, {"~vna91-7-0.tmp", "other"}});
       }},
      {"a torn tail: the record before it counts, the unrecorded file goes",
       [&](const test::Sandbox& box, DeadRun& run) {
         test::writeFile(box.path("t\\a.txt"), "old a");
         test::writeFile(box.path("t\\b.txt"), "old b");
         run.add(run.wait("a.txt", "0", "new a"));
         run.verify();
         run.addTorn(run.wait("b.txt", "1", "new b"));
         return with({{"a.txt", "new a"}, {"b.txt", "old b"}});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Sandbox box;
    Tree expected;
    {
      DeadRun run(box, "~vna90-7");
      expected = c.plant(box, run);
    }
    test::writeFile(box.path("t\\x.txt"), "earlier x");
    EXPECT_EQ(extractInto(box), expected);
  }
}

TEST(Settlement, LeavesAliveRunsAndForeignFilesAlone) {
  test::Sandbox box;
  std::string live;
  {
    DeadRun run(box, "~vna90-7");
    test::writeFile(box.path("t\\a.txt"), "old");
    run.add(run.wait("a.txt", "0", "new"));
    run.verify();
  }
  // This process takes the journal's lock, as its live run would.
  FileHandle held(box.path("t\\~vna90-7.jnl"));
  ASSERT_TRUE(held.tryLock());
  // Not journals of this program, and names a run of this process id
  // would take: never acted on, never recorded.
  char mine[64];
  std::snprintf(mine, sizeof mine, "~vna%lu-", static_cast<unsigned long>(GetCurrentProcessId()));
  test::writeFile(box.path("t\\~vna92-1.jnl"), "not a journal");
  test::writeFile(box.path(("t\\" + std::string(mine) + "0.jnl").c_str()), "someone's");
  test::writeFile(box.path(("t\\" + std::string(mine) + "1-0.tmp").c_str()), "someone's");
  test::writeFile(box.path("t\\x.txt"), "earlier x");
  Tree before = test::snapshot(box.path("t"));
  Tree after = extractInto(box);
  before["x.txt"] = "x";
  EXPECT_EQ(after, before);
}

TEST(Settlement, AWaitingFileALiveProcessHoldsKeepsItsJournalForALaterRun) {
  test::Sandbox box;
  {
    DeadRun run(box, "~vna90-7");
    test::writeFile(box.path("t\\a.txt"), "old");
    run.add(run.wait("a.txt", "0", "new"));
    run.verify();
  }
  test::writeFile(box.path("t\\x.txt"), "earlier x");
  {
    FileHandle held(box.path("t\\~vna90-7-0.tmp"));
    ASSERT_TRUE(held.tryLock());
    Tree expected = test::snapshot(box.path("t"));
    expected["x.txt"] = "x";
    EXPECT_EQ(extractInto(box), expected);
  }
  EXPECT_EQ(extractInto(box), (Tree{{"a.txt", "new"}, {"x.txt", "x"}}));
}

}  // namespace
}  // namespace vna
