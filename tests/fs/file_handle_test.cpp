#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "fs/file_handle.h"
#include "fs/file_reader.h"
#include "fs/file_writer.h"
#include "new_file.h"
#include "sandbox.h"

namespace vna {
namespace {

using test::NewFile;
using test::Sandbox;

TEST(FileReader, ExactAndSomeReadsAtTheEnd) {
  Sandbox box;
  test::writeFile(box.path("f"), "abcdef");
  FileHandle file(box.path("f"));
  FileReader reader;
  reader.attach(file, 4);
  uint8_t buffer[8];
  EXPECT_THROW(reader.readExact(ByteRange{buffer, buffer + 8}), EndOfFileError);
  EXPECT_EQ(reader.position(), 6u) << "advanced by what was read";
  reader.attach(file, 4);
  ByteRange some{buffer, buffer + 8};
  reader.readSome(some);
  EXPECT_EQ(some.begin, buffer + 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "ef");
  EXPECT_FALSE(reader.hasMore());
  ByteRange nothing{buffer, buffer + 8};
  reader.readSome(nothing);
  EXPECT_EQ(nothing.begin, buffer);
}

TEST(FileReader, PositionsFromTwoToThe31FailToSeek) {
  Sandbox box;
  test::writeFile(box.path("f"), "abc");
  FileHandle file(box.path("f"));
  FileReader reader;
  reader.attach(file, 0x80000000u);
  uint8_t buffer[1];
  EXPECT_THROW(reader.readExact(ByteRange{buffer, buffer + 1}), FileSeekError);
  NewFile out(box.path("g"));
  FileWriter writer(out, 0x80000000u);
  EXPECT_THROW(writer.write(ConstByteRange(buffer, buffer + 1)), FileSeekError);
}

TEST(FileWriter, RewritingAtEightPatchesInPlace) {
  Sandbox box;
  {
    NewFile out(box.path("f"));
    FileWriter writer(out, 0);
    std::string first = "0123456789abcdef";
    writer.write(ConstByteRange(reinterpret_cast<const uint8_t*>(first.data()),
                                reinterpret_cast<const uint8_t*>(first.data()) + first.size()));
    writer.setPosition(8);
    const uint8_t patch[4] = {'W', 'X', 'Y', 'Z'};
    writer.write(ConstByteRange(patch, patch + 4));
    out.close();
    EXPECT_NO_THROW(out.close()) << "a second close does nothing";
  }
  EXPECT_EQ(test::readFile(box.path("f")), "01234567WXYZcdef");
}

TEST(FileHandle, OpeningFailuresMapToTheirClasses) {
  Sandbox box;
  EXPECT_THROW(FileHandle{box.path("missing")}, FileNotFoundError);
  EXPECT_THROW(FileHandle{box.path("missing\\x")}, DirectoryNotFoundError);
  EXPECT_THROW(FileHandle{box.root()}, FilePermissionError);
}

TEST(FileHandle, FileHeldForWritingCannotBeOpenedWhereSharingIsEnforced) {
  if (!platform::kWindowsPaths) GTEST_SKIP() << "share modes are not enforced on POSIX";
  Sandbox box;
  NewFile held(box.path("held"));
  try {
    FileHandle reader(box.path("held"));
    FAIL() << "opened a file held for writing";
  } catch (const FileIOError& e) {
    EXPECT_EQ(e.code(), 32u);
  }
}

TEST(FileIdentity, TellsFilesApartAndAsksAFileHeldForWriting) {
  Sandbox box;
  test::writeFile(box.path("a"), "x");
  test::writeFile(box.path("b"), "x");
  platform::HeldDirectory root;
  ASSERT_EQ(root.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  FileIdentity first;
  FileIdentity again;
  FileIdentity other;
  ASSERT_TRUE(queryFileIdentity(root, "a", first));
  ASSERT_TRUE(queryFileIdentity(root, "b", other));
  EXPECT_FALSE(first == other);
  EXPECT_FALSE(queryFileIdentity(root, "missing", other));
  NewFile held(box.path("c"));
  ASSERT_TRUE(held.identity(first));
  EXPECT_TRUE(queryFileIdentity(root, "c", again)) << "works on a file held for writing";
  EXPECT_TRUE(first == again);
}

}  // namespace
}  // namespace vna
