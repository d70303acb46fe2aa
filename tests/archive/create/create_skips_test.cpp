// Creation stores only what it can store faithfully; everything else is
// left out, reported, and the archive is still finished and valid.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "archive/create/archive_writer.h"
#include "archive/create/create_archive.h"
#include "archive/extract/extract_archive.h"
#include "../archive_fixtures.h"
#include "base/errors.h"
#include "platform_api.h"

namespace vna {
namespace {

using test::Sandbox;
using Tree = std::map<std::string, std::string>;

const char kSkipped[] = "Some files or directories could not be archived.\n";

std::string create(const FilePath& source, const FilePath& archive) {
  return test::outcomeOf([&] { createArchive(source, archive); });
}

TEST(CreateSkips, ItemThatChangedKindSinceItsListingIsStoredAsWhatItIs) {
  Sandbox box;
  test::makeDirectory(box.path("was_a_file"));
  test::writeFile(box.path("was_a_dir"), "now a file");
  {
    test::NewFile file(box.path("a.vna"));
    ArchiveWriter writer(file);
    platform::HeldDirectory root;
    ASSERT_EQ(root.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
    SourceWalk walk(writer, root);
    // Stored as what each is when it is opened, whatever the listing said.
    EXPECT_EQ(walk.store(root, "was_a_file", "was_a_file", 0, false),
              ArchiveWriter::Entry::WrittenDirectory);
    EXPECT_EQ(walk.store(root, "was_a_dir", "was_a_dir", 0, true), ArchiveWriter::Entry::WrittenFile);
    EXPECT_EQ(walk.store(root, "vanished", "vanished", 0, false), ArchiveWriter::Entry::Skipped);
    EXPECT_EQ(walk.store(root, "vanished", "vanished", 0, true), ArchiveWriter::Entry::Skipped);
    writer.finishArchive();
    file.close();
  }
  extractArchive(box.path("a.vna"), box.path("out"));
  EXPECT_EQ(test::snapshot(box.path("out")),
            (Tree{{"was_a_file/", ""}, {"was_a_dir", "now a file"}}));
}

TEST(CreateSkips, FileHeldWithoutReadSharingIsLeftOutWhereSharingIsEnforced) {
  Sandbox box;
  test::makeDirectory(box.path("src"));
  test::writeFile(box.path("src\\free.txt"), "free");
  test::writeFile(box.path("src\\held.log"), "held");
  // Held open for writing by "another program" that lets nobody read.
  HANDLE held = CreateFileA(box.path("src\\held.log").text(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string result = create(box.path("src"), box.path("a.vna"));
  CloseHandle(held);
  extractArchive(box.path("a.vna"), box.path("out"));
  if (platform::kWindowsPaths) {
    EXPECT_EQ(result, kSkipped);
    EXPECT_EQ(test::snapshot(box.path("out")), (Tree{{"free.txt", "free"}}));
  } else {
    EXPECT_EQ(result, "") << "share modes are not enforced on POSIX";
    EXPECT_EQ(test::snapshot(box.path("out")), test::snapshot(box.path("src")));
  }
}

TEST(CreateSkips, UnreadableSingleFileStillGivesAValidArchive) {
  if (!platform::kWindowsPaths) GTEST_SKIP() << "only sharing makes a file unreadable to root";
  Sandbox box;
  test::writeFile(box.path("only.txt"), "x");
  HANDLE held = CreateFileA(box.path("only.txt").text(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string result = create(box.path("only.txt"), box.path("a.vna"));
  CloseHandle(held);
  EXPECT_EQ(result, kSkipped);
  extractArchive(box.path("a.vna"), box.path("out"));
  EXPECT_TRUE(test::snapshot(box.path("out")).empty());
}

}  // namespace
}  // namespace vna
