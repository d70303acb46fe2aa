// The "-x" command: recreate the entries of an archive below a directory.
#pragma once

#include <cstdint>

#include "fs/file_path.h"

namespace vna {

// Extracts `archive` below `target` (both absolute), creating the target's
// last level. Throws ExceptionPL "Unable to open source location!" when
// nothing is at the archive path, "Invalidly formatted VNArchive file." for
// any format error, "Some files could not be extracted." after a valid
// archive whose file entries did not all extract; other errors as raised.
void extractArchive(const FilePath& archive, const FilePath& target);

}  // namespace vna
