// The front end: three arguments, both paths made absolute, dispatch to
// "-a" or "-x", every failure reported as its message plus the usage text.
#pragma once

#include "fs/file_path.h"

namespace vna {

// Paths already rooted are kept as typed: with Windows rules a drive prefix
// ("D:" and anything after it) or two leading separators, and a single
// leading separator is rooted on the current directory's drive (or share);
// with POSIX rules a leading "/". Everything else is joined to `current`.
bool isRootedPath(const char* argument, bool windowsRules);
FilePath absolutePath(const char* argument, const FilePath& current, bool windowsRules);

// The whole program: returns the exit status (0 or -1); prints only on
// failure, to standard output.
int runCommandLine(int argc, const char* const* argv);

}  // namespace vna
