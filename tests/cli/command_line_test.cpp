#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace vna {
namespace {

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

}  // namespace
}  // namespace vna
