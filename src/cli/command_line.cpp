#include "cli/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/create/create_archive.h"
#include "archive/extract/extract_archive.h"
#include "base/errors.h"
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

}  // namespace

int runCommandLine(int argc, const char* const* argv) {
  try {
    if (argc != 4) throw ExceptionPL("Incorrect number of arguments.\n");
    FilePath current;
    bool currentRead = false;
    auto absolute = [&](const char* argument) {
      if (needsCurrentDirectory(argument, platform::kWindowsPaths) && !currentRead) {
        current = currentDirectory();
        currentRead = true;
      }
      return absolutePath(argument, current, platform::kWindowsPaths);
    };
    FilePath first = absolute(argv[2]);
    FilePath second = absolute(argv[3]);
    bool create = isSwitch(argv[1], 'a');
    if (!create && !isSwitch(argv[1], 'x')) {
      throw ExceptionPL("Please choose '-a' for 'Archive' or '-x' for 'Extract'.\n");
    }
    // Paths are spelt with either separator, and the file layer turns "\"
    // into "/" where the OS knows only "/": a name holding "\" there would
    // quietly become another path. Such an argument, or a relative one
    // below a current directory whose name holds "\", is refused before
    // anything is touched, as an unusable path in that role is.
    auto usable = [&](const char* argument) {
      if (platform::kWindowsPaths) return true;
      if (std::strchr(argument, '\\') != nullptr) return false;
      return !needsCurrentDirectory(argument, false) || std::strchr(current.text(), '\\') == nullptr;
    };
    if (!usable(argv[2])) throw ExceptionPL("Unable to open source location!\n");
    if (!usable(argv[3])) throw FileIOError(ERROR_PATH_NOT_FOUND);
    if (create) {
      createArchive(first, second);
    } else {
      extractArchive(first, second);
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
