#include <gtest/gtest.h>

#include "fs/file_path.h"
#include "platform_api.h"

namespace vna {
namespace {

TEST(FilePath, MadeFromTextLosesTrailingSeparators) {
  EXPECT_STREQ(FilePath("D:\\dir\\/").text(), "D:\\dir");
  // Windows takes "D:" for drive D's current directory: its root keeps the
  // separator.
  EXPECT_STREQ(FilePath("D:\\").text(), platform::kWindowsPaths ? "D:\\" : "D:");
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

TEST(AbsolutePath, WindowsRules) {
  FilePath work("D:\\work");
  FilePath root("D:\\");
  FilePath share("\\\\srv\\share\\dir");
  struct Case {
    const char* argument;
    const FilePath* current;
    const char* expected;
  } cases[] = {
      {"data", &work, "D:\\work\\data"},
      {"data\\", &work, "D:\\work\\data"},
      {"data", &root, "D:\\data"},
      {"", &work, "D:\\work"},
      {"E:\\out\\", &work, "E:\\out"},
      {"E:/out", &work, "E:/out"},
      {"E:", &work, "E:"},
      {"E:rel", &work, "E:rel"},
      {"\\\\server\\share\\x", &work, "\\\\server\\share\\x"},
      {"//server/share", &work, "//server/share"},
      {"\\out", &work, "D:\\out"},
      {"/out", &work, "D:/out"},
      {"\\out", &share, "\\\\srv\\share\\out"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(absolutePath(c.argument, *c.current, true).text(), c.expected) << c.argument;
  }
}

TEST(AbsolutePath, PosixRules) {
  FilePath work("/home/u");
  EXPECT_STREQ(absolutePath("data", work, false).text(), "/home/u\\data");
  EXPECT_STREQ(absolutePath("/tmp/x/", work, false).text(), "/tmp/x");
  EXPECT_STREQ(absolutePath("D:\\x", work, false).text(), "/home/u\\D:\\x");
  EXPECT_STREQ(absolutePath("", work, false).text(), "/home/u");
}

TEST(AbsolutePath, OnlyRelativeAndDriveRootedPathsNeedTheCurrentDirectory) {
  struct Case {
    const char* argument;
    bool windowsRules;
    bool needs;
  } cases[] = {
      {"data", true, true},        {"\\out", true, true},      {"/out", true, true},
      {"D:\\x", true, false},      {"D:", true, false},         {"\\\\srv\\share", true, false},
      {"data", false, true},       {"/tmp", false, false},      {"D:\\x", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(needsCurrentDirectory(c.argument, c.windowsRules), c.needs) << c.argument;
  }
}

TEST(ResolvedPath, ARootStaysTheRoot) {
  if (platform::kWindowsPaths) {
    // A bare drive is its root, not the drive's current directory.
    EXPECT_EQ(resolvedPath(FilePath("C:")), "C:\\");
    EXPECT_EQ(resolvedPath(FilePath("C:\\")), "C:\\");
  } else {
    EXPECT_EQ(resolvedPath(FilePath("/")), "/");
    EXPECT_EQ(resolvedPath(FilePath("/.")), "/");
    EXPECT_EQ(resolvedPath(FilePath(FilePath("/"), "tmp")), "/tmp");
  }
}

TEST(UncRoot, ServerAndShareWithEitherSeparator) {
  UncRoot unc;
  ASSERT_TRUE(parseUncRoot("\\\\srv/share\\dir", unc));
  EXPECT_EQ(unc.server, "srv");
  EXPECT_EQ(unc.share, "share");
  EXPECT_TRUE(unc.hasShare);
  EXPECT_EQ(unc.length, 11u);
  ASSERT_TRUE(parseUncRoot("//srv", unc));
  EXPECT_FALSE(unc.hasShare);
  EXPECT_EQ(unc.length, 5u);
  EXPECT_FALSE(parseUncRoot("\\srv", unc));
}

}  // namespace
}  // namespace vna
