#include <gtest/gtest.h>

#include <string>

#include "archive/extract/target_directory.h"
#include "sandbox.h"

namespace vna {
namespace {

// Holds the parent of `relative` below the sandbox's "t" and creates
// `relative`'s leaf in it; returns the outcome.
TargetDirectory::Parent createThrough(TargetDirectory& target, const char* relative) {
  EntryTarget entry;
  if (!target.admits(relative, entry)) return TargetDirectory::Parent::Refused;
  TargetDirectory::HeldParent held = target.holdParentOf(entry);
  if (held.outcome == TargetDirectory::Parent::Held) {
    EXPECT_TRUE(held.directory->createDirectory(entry.leaf.c_str())) << relative;
  }
  return held.outcome;
}

TEST(TargetDirectory, HoldsEachLevelDownToTheParentAndReturnsIt) {
  test::Sandbox box;
  test::makeDirectory(box.path("t"));
  test::makeDirectory(box.path("t\\a"));
  test::makeDirectory(box.path("t\\a\\b"));
  test::makeDirectory(box.path("outside"));
  const bool links = test::makeLink(box.path("outside"), box.path("t\\a\\link"), true);
  TargetDirectory target(box.path("t"));
  using P = TargetDirectory::Parent;
  struct Case {
    const char* relative;
    P outcome;
    std::size_t levels;
  };
  for (Case c : {Case{"a\\b\\c", P::Held, 3}, Case{"a\\b\\.\\d", P::Held, 3}, Case{"top", P::Held, 1},
                 Case{"a\\e", P::Held, 2}, Case{"a\\missing\\f", P::Missing, 0},
                 Case{"a\\link\\g", links ? P::Refused : P::Missing, 0}}) {
    SCOPED_TRACE(c.relative);
    EXPECT_EQ(createThrough(target, c.relative), c.outcome);
    if (c.outcome == P::Held) {
      EXPECT_EQ(target.levels(), c.levels);
    }
  }
  EXPECT_TRUE(test::isDirectory(box.path("t\\a\\b\\c")));
  EXPECT_TRUE(test::isDirectory(box.path("t\\a\\b\\d")));
  EXPECT_TRUE(test::isDirectory(box.path("t\\top")));
  EXPECT_TRUE(test::isDirectory(box.path("t\\a\\e")));
  EXPECT_EQ(test::snapshot(box.path("outside")).size(), 0u);
  // The levels' paths are what a journal below the target records.
  EntryTarget entry;
  ASSERT_TRUE(target.admits("a\\b\\c\\x", entry));
  ASSERT_EQ(target.holdParentOf(entry).outcome, P::Held);
  ASSERT_EQ(target.levels(), 4u);
  EXPECT_EQ(target.levelPath(0), "");
  EXPECT_EQ(target.levelPath(3), target.relativeText(entry).substr(0, 5));
}

}  // namespace
}  // namespace vna
