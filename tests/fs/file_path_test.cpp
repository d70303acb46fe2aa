#include <gtest/gtest.h>

#include "fs/file_path.h"

namespace vna {
namespace {

TEST(FilePath, MadeFromTextLosesTrailingSeparators) {
  EXPECT_STREQ(FilePath("D:\\dir\\/").text(), "D:\\dir");
  EXPECT_STREQ(FilePath("D:\\").text(), "D:");
  // Separators only: the root, which keeps one.
  EXPECT_STREQ(FilePath("\\").text(), "\\");
  EXPECT_STREQ(FilePath("//").text(), "/");
  EXPECT_STREQ(FilePath(FilePath("/"), "etc").text(), "/etc");
  EXPECT_TRUE(FilePath(nullptr).empty());
  EXPECT_STREQ(FilePath().text(), "");
}

TEST(FilePath, JoinPutsExactlyOneBackslash) {
  struct Case {
    const char* base;
    const char* name;
    const char* joined;
  } cases[] = {
      {"D:\\base", "sub\\file.txt\\", "D:\\base\\sub\\file.txt"},
      {"", "x", "x"},
      {"D:\\base", "", "D:\\base"},
      {"", "", ""},
      {"D:\\t", "\\x", "D:\\t\\\\x"},  // leading separators of the name stay
      {"D:\\t", "dir/sub/", "D:\\t\\dir/sub"},
      {"D:", "data", "D:\\data"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(FilePath(FilePath(c.base), c.name).text(), c.joined) << c.base << " + " << c.name;
  }
}

TEST(FilePath, FileNameIsTheTextAfterTheLastSeparator) {
  EXPECT_EQ(FilePath("D:\\dir\\file.txt").fileName(), "file.txt");
  EXPECT_EQ(FilePath("D:/dir/file.txt").fileName(), "file.txt");
  EXPECT_EQ(FilePath("file.txt").fileName(), "");
  EXPECT_EQ(FilePath().fileName(), "");
  FilePath assigned;
  assigned.assign("D:\\dir\\");
  EXPECT_STREQ(assigned.text(), "D:\\dir\\") << "assign strips nothing";
  EXPECT_EQ(assigned.fileName(), "");
  assigned.assign(assigned.text());
  EXPECT_STREQ(assigned.text(), "D:\\dir\\");
  assigned.assign(nullptr);
  EXPECT_TRUE(assigned.empty());
}

TEST(FilePath, CurrentDirectoryIsAbsoluteWithoutTrailingSeparator) {
  FilePath current = currentDirectory();
  ASSERT_FALSE(current.empty());
  char last = current.text()[current.length() - 1];
  EXPECT_FALSE(isSeparator(last));
}

}  // namespace
}  // namespace vna
