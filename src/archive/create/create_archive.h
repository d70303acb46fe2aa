// The "-a" command: pack a file or a directory tree into an archive.
#pragma once

#include <string>

#include "archive/create/archive_writer.h"
#include "fs/file_path.h"

namespace vna {

// Packs `source` into a new archive at `archive` (both absolute). Throws
// ExceptionPL when the source is missing, is neither file nor directory, or
// is the archive path itself; ExceptionPL "Some files or directories could
// not be archived." after finishing a valid archive from which something
// had to be left out; any other error as raised.
void createArchive(const FilePath& source, const FilePath& archive);

// Writes entries for everything below `directory`, depth-first, each
// directory's entry before its contents. Sets `skipped` when a directory
// cannot be enumerated or an entry's path does not fit.
void writeDirectoryTree(ArchiveWriter& writer, const FilePath& directory,
                        const std::string& prefix, bool& skipped);

}  // namespace vna
