// One-level file-system operations by path. None creates parents or recurses.
#pragma once

#include "file_path.h"

namespace vna {

// Returns when a directory stands at `path` afterwards (creating only the
// last level); DirectoryNotFoundError for an empty path or a non-directory
// in the way, the FileIOError family for OS refusals.
void ensureDirectory(const FilePath& path);
// Deletes a file (clearing read-only first) or an empty directory; nothing
// at the path is fine. Removal errors propagate.
void removePath(const FilePath& path);
// removePath for clean-up after a failure: any error is swallowed, since the
// caller is already reporting (or absorbing) the failure that matters.
void removePathQuietly(const FilePath& path) noexcept;
// FileNotFoundError when no file is there; OS failures through the table.
void deleteFile(const FilePath& path);
// DirectoryNotFoundError when no directory is there; FileIOError(0) when
// the OS refuses (for instance, the directory is not empty).
void removeDirectory(const FilePath& path);

}  // namespace vna
