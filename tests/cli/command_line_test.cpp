#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace vna {
namespace {

std::string usageAfter(const std::string& message) {
  return message + "\nVNArchive usage:\n"
         "  vnarchive.exe -a <source file or directory> <name of archive>\n"
         "  vnarchive.exe -x <source archive> <target directory>\n";
}

TEST(CommandLine, FailuresPrintTheirMessageAndUsageAndReturnMinusOne) {
  struct Case {
    std::vector<const char*> argv;
    std::string printed;
  } cases[] = {
      {{"vnarchive"}, usageAfter("Incorrect number of arguments.\n")},
      {{"vnarchive", "-a", "x", "y", "z"}, usageAfter("Incorrect number of arguments.\n")},
      {{"vnarchive", "-ax", "in", "out"},
       usageAfter("Please choose '-a' for 'Archive' or '-x' for 'Extract'.\n")},
      {{"vnarchive", "-X", "no such archive here", "out"},
       usageAfter("Unable to open source location!\n")},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    int status = runCommandLine(static_cast<int>(c.argv.size()), c.argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, -1) << c.argv.size();
    // A Windows console program writes CRLF; compare the lines alone.
    std::string lines;
    for (char ch : out) {
      if (ch != '\r') lines += ch;
    }
    EXPECT_EQ(lines, c.printed);
  }
}

}  // namespace
}  // namespace vna
