#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/errors.h"
#include "fs/file_item.h"
#include "sandbox.h"

namespace vna {
namespace {

using test::Sandbox;

FILETIME fileTime(int64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return ft;
}

// The item a listing of the sandbox gives for `name`.
FileItem listed(const Sandbox& box, const char* name) {
  platform::HeldDirectory held;
  EXPECT_EQ(held.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  DirectoryIterator it;
  for (it.open(held); it.isValid(); it.next()) {
    if (std::string(it.item().fileName()) == name) return it.item();
  }
  return FileItem();
}

TEST(FileItem, NothingFoundAnswersNoQuery) {
  FileItem item;
  EXPECT_FALSE(item.found());
  EXPECT_THROW(item.size(), FileItemError);
  EXPECT_THROW(item.isFile(), FileItemError);
}

TEST(FileItem, DescribesFilesAndDirectories) {
  Sandbox box;
  test::writeFile(box.path("five.bin"), "12345");
  test::makeDirectory(box.path("sub"));
  FileItem file = listed(box, "five.bin");
  EXPECT_TRUE(file.isFile());
  EXPECT_FALSE(file.isDirectory());
  EXPECT_EQ(file.size(), 5u);
  FileItem dir = listed(box, "sub");
  EXPECT_FALSE(dir.isFile());
  EXPECT_TRUE(dir.isDirectory());
}

TEST(FileItem, ModificationTimeIsRecent) {
  Sandbox box;
  test::writeFile(box.path("now.txt"), "x");
  int64_t seconds = listed(box, "now.txt").modificationTime() / 1000000;
  EXPECT_GT(seconds, 1700000000);  // after November 2023
  EXPECT_LT(seconds, 4102444800);  // before 2100
}

TEST(DirectoryIterator, EmptyDirectoryYieldsOnlyDotEntries) {
  Sandbox box;
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  DirectoryIterator it;
  it.open(held);
  std::set<std::string> names;
  for (; it.isValid(); it.next()) {
    names.insert(it.item().fileName());
    EXPECT_FALSE(it.item().isFile());
    EXPECT_FALSE(it.item().isDirectory()) << "dot entries are neither";
  }
  EXPECT_EQ(names, (std::set<std::string>{".", ".."}));
  EXPECT_FALSE(it.skippedEntries());
}

TEST(DirectoryIterator, ItemsCarryFullPaths) {
  Sandbox box;
  test::writeFile(box.path("a.txt"), "aa");
  test::makeDirectory(box.path("sub"));
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  DirectoryIterator it;
  std::set<std::string> paths;
  for (it.open(held); it.isValid(); it.next()) paths.insert(it.item().path().text());
  EXPECT_TRUE(paths.count(box.path("a.txt").text()));
  EXPECT_TRUE(paths.count(box.path("sub").text()));
}

TEST(DirectoryIterator, DirectoryNotHeldIsInvalidAndReported) {
  Sandbox box;
  platform::HeldDirectory missing;
  EXPECT_EQ(missing.hold(box.path("missing").text()), platform::HeldDirectory::Outcome::Absent);
  DirectoryIterator it;
  it.open(missing);
  EXPECT_FALSE(it.isValid());
  EXPECT_FALSE(it.item().found());
  EXPECT_TRUE(it.skippedEntries());
}

TEST(FileTimes, ConversionTruncatesTowardZero) {
  const int64_t epoch = 116444736000000000LL;
  EXPECT_EQ(fileTimeToMicroseconds(fileTime(epoch), false), 0);
  EXPECT_EQ(fileTimeToMicroseconds(fileTime(epoch + 9), false), 0);
  EXPECT_EQ(fileTimeToMicroseconds(fileTime(epoch - 10), false), -1);
  EXPECT_EQ(fileTimeToMicroseconds(fileTime(epoch + 10000000), false), 1000000);
}

TEST(FileTimes, ZoneBiasFollowsTheActiveState) {
  TIME_ZONE_INFORMATION zone{};
  zone.StandardDate.wMonth = 10;
  zone.DaylightDate.wMonth = 3;
  zone.StandardBias = 60;
  zone.DaylightBias = -60;
  EXPECT_EQ(zoneBiasSeconds(TIME_ZONE_ID_STANDARD, zone), 3600);
  EXPECT_EQ(zoneBiasSeconds(TIME_ZONE_ID_DAYLIGHT, zone), -3600);
  EXPECT_EQ(zoneBiasSeconds(TIME_ZONE_ID_UNKNOWN, zone), 0);
  zone.DaylightDate.wMonth = 0;
  EXPECT_EQ(zoneBiasSeconds(TIME_ZONE_ID_DAYLIGHT, zone), 0);
}

TEST(FileTimes, FatCorrectionTakesTheBiasOut) {
  TIME_ZONE_INFORMATION zone{};
  zone.StandardDate.wMonth = 10;
  zone.StandardBias = 60;
  // The process runs in UTC in the tests, so daylight time never holds and
  // only the bias is taken out.
  EXPECT_EQ(fatCorrectedMicroseconds(7200000000LL, TIME_ZONE_ID_STANDARD, zone), 3600000000LL);
  // Corrected seconds outside 0..2^31-1 come back uncorrected.
  EXPECT_EQ(fatCorrectedMicroseconds(1000000LL, TIME_ZONE_ID_STANDARD, zone), 1000000LL);
  EXPECT_EQ(fatCorrectedMicroseconds(-5000000LL, TIME_ZONE_ID_UNKNOWN, zone), -5000000LL);
}

}  // namespace
}  // namespace vna
