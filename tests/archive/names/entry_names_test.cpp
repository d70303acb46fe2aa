#include <gtest/gtest.h>

#include <string>

#include "archive/names/entry_names.h"

namespace vna {
namespace {

TEST(SanitizeEntryPath, MakesStoredNamesSafe) {
  struct Case {
    const char* stored;
    const char* relative;
  } cases[] = {
      {"", "_"},
      {"   ", "_"},
      {"/", "_"},
      {"\\", "_"},
      {"  docs/a.txt", "docs/a.txt"},
      {"/etc/x", "etc/x"},
      {"\\\\server\\share", "\\server\\share"},
      {"D:\\x\\y.txt", "D_\\x\\y.txt"},
      {"a/../b.txt", "a/__/b_txt"},
      {"a.b/e.f", "a.b/e.f"},
      {"x%2fy", "x_2fy"},
      {"100%3", "100_3"},
      {"50%off", "50%off"},
      {"a:b%2e..f", "a_b_2e__f"},
      {"dir/sub/", "dir/sub/"},
      {"..\\..\\etc", "__\\__\\etc"},
      {". ./x", ". ./x"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(sanitizeEntryPath(c.stored).text(), c.relative) << '"' << c.stored << '"';
  }
}

TEST(EntryBaseName, IsTheLastComponentAsStored) {
  struct Case {
    const char* stored;
    const char* base;
  } cases[] = {
      {"dir\\file.txt", "file.txt"}, {"dir/..", ".."}, {"dir/", ""},
      {"report.txt", "report.txt"},  {"a..txt", "a__txt"}, {"  ", "_"},
  };
  for (const Case& c : cases) EXPECT_STREQ(entryBaseName(c.stored).text(), c.base) << c.stored;
}

TEST(DeviceNames, ReservedInAnyCaseAloneOrWithExtension) {
  const char* reserved[] = {"CON", "con", "Prn", "aux", "NUL", "nul.txt", "COM1", "com9.log",
                            "LPT1", "lpt9", "CON .txt", "aux.tar.gz",
                            // Superscript digits in the ANSI code page: COM¹, lpt², Com³.x
                            "COM\xB9", "lpt\xB2", "Com\xB3.x"};
  for (const char* name : reserved) {
    EXPECT_TRUE(isReservedDeviceName(name, name + std::char_traits<char>::length(name))) << name;
  }
  const char* ordinary[] = {"CONSOLE", "COM0", "COM10", "LPT", "nul_", "xcon", "", "C0N",
                            "COM\xBC", "COM\xB9\xB9"};
  for (const char* name : ordinary) {
    EXPECT_FALSE(isReservedDeviceName(name, name + std::char_traits<char>::length(name))) << name;
  }
  EXPECT_TRUE(holdsReservedDeviceName("dir\\aux\\file.txt"));
  EXPECT_TRUE(holdsReservedDeviceName("dir/Com1.log"));
  EXPECT_FALSE(holdsReservedDeviceName("dir/file.txt"));
}

}  // namespace
}  // namespace vna
