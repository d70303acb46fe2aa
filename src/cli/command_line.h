// The front end: three arguments, both paths made absolute, dispatch to
// "-a" or "-x", every failure reported as its message plus the usage text.
#pragma once

#include "fs/file_path.h"

namespace vna {

// The whole program: returns the exit status (0 or -1); prints only on
// failure, to standard output.
int runCommandLine(int argc, const char* const* argv);

}  // namespace vna
