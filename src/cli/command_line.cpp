#include "cli/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/create_archive.h"
#include "archive/extract_archive.h"
#include "fs/errors.h"
#include "platform_api.h"

namespace vna {

namespace {

const char* const kUsage[] = {
    "VNArchive usage:\n",
    "  vnarchive.exe -a <source file or directory> <name of archive>\n",
    "  vnarchive.exe -x <source archive> <target directory>\n",
};

void report(const char* message) {
  std::printf("%s\n", message);
  for (const char* line : kUsage) std::printf("%s", line);
  std::fflush(stdout);
}

// The mode switch compared without regard to letter case.
bool isSwitch(const char* argument, char letter) {
  return argument[0] == '-' && argument[1] != '\0' && argument[2] == '\0' &&
         std::tolower(static_cast<unsigned char>(argument[1])) == letter;
}

// The root of the current directory: "D:" of a drive path, "\\server\share"
// of a network path; empty when it has neither.
std::string rootOf(const char* current) {
  if (current[0] != '\0' && current[1] == ':') return std::string(current, 2);
  if (isSeparator(current[0]) && isSeparator(current[1])) {
    const char* p = current + 2;
    while (*p != '\0' && !isSeparator(*p)) ++p;  // server
    if (*p != '\0') ++p;
    while (*p != '\0' && !isSeparator(*p)) ++p;  // share
    return std::string(current, p);
  }
  return std::string();
}

}  // namespace

bool isRootedPath(const char* argument, bool windowsRules) {
  if (!windowsRules) return argument[0] == '/';
  return (argument[0] != '\0' && argument[1] == ':') || isSeparator(argument[0]);
}

FilePath absolutePath(const char* argument, const FilePath& current, bool windowsRules) {
  if (windowsRules) {
    if (argument[0] != '\0' && argument[1] == ':') return FilePath(argument);
    if (isSeparator(argument[0]) && isSeparator(argument[1])) return FilePath(argument);
    if (isSeparator(argument[0])) {
      return FilePath((rootOf(current.text()) + argument).c_str());
    }
  } else if (argument[0] == '/') {
    return FilePath(argument);
  }
  return FilePath(current, argument);
}

int runCommandLine(int argc, const char* const* argv) {
  try {
    if (argc != 4) throw ExceptionPL("Incorrect number of arguments.\n");
    FilePath current;
    bool currentRead = false;
    auto absolute = [&](const char* argument) {
      // A path rooted on the current drive needs the current directory too.
      bool needsCurrent = !isRootedPath(argument, platform::kWindowsPaths) ||
                          (platform::kWindowsPaths && argument[1] != ':' &&
                           !(isSeparator(argument[0]) && isSeparator(argument[1])));
      if (needsCurrent && !currentRead) {
        current = currentDirectory();
        currentRead = true;
      }
      return absolutePath(argument, current, platform::kWindowsPaths);
    };
    FilePath first = absolute(argv[2]);
    FilePath second = absolute(argv[3]);
    if (isSwitch(argv[1], 'a')) {
      createArchive(first, second);
    } else if (isSwitch(argv[1], 'x')) {
      extractArchive(first, second);
    } else {
      throw ExceptionPL("Please choose '-a' for 'Archive' or '-x' for 'Extract'.\n");
    }
    return 0;
  } catch (const ExceptionPL& error) {
    report(error.what());
  } catch (...) {
    report("Unknown exception.");
  }
  return -1;
}

}  // namespace vna
