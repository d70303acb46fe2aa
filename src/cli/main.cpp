// vnarchive: "-a" packs a file or directory tree, "-x" unpacks an archive.
#include "cli/command_line.h"

int main(int argc, char** argv) { return vna::runCommandLine(argc, argv); }
