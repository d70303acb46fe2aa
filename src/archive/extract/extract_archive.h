// The "-x" command: recreate the entries of an archive below a directory.
#pragma once

#include <cstdint>

#include "archive/stream/read_ahead.h"
#include "fs/file_path.h"

namespace vna {

// Extracts `archive` below `target` (both absolute), creating the target's
// last level. Throws ExceptionPL "Unable to open source location!" when
// nothing is at the archive path, "Invalidly formatted VNArchive file." for
// any format error, "Some files could not be extracted." after a valid
// archive whose file entries did not all extract; other errors as raised.
// `thread` says whether the archive is inflated ahead on a thread of its
// own; the results are the same either way.
void extractArchive(const FilePath& archive, const FilePath& target,
                    InflateThread thread = InflateThread::kWhereProcessors);

// The record loop. Returns the number of entries that could not be written
// (each removed again); throws on the first error outside one entry.
unsigned extractEntries(const FilePath& archive, const FilePath& target, InflateThread thread);

}  // namespace vna
