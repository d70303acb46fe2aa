// One-level file-system operations: by path for what the user names (a
// look at the archive's path, the target directory made), otherwise by one
// name in a held directory. None creates parents or recurses.
#pragma once

#include "fs/file_path.h"
#include "platform/held_directory.h"

namespace vna {

// What stands at a path, looked at without following a link at its end.
// Link is a symbolic link, junction or other reparse point, whatever it
// leads to (or nothing).
enum class PathKind { Missing, File, Directory, Link };
PathKind examinePath(const FilePath& path);
// The same for `name` in `directory`.
PathKind examinePath(const platform::HeldDirectory& directory, const char* name);

// Returns when a directory stands at `path` afterwards (creating only the
// last level); DirectoryNotFoundError for an empty path or a non-directory
// in the way, the FileIOError family for OS refusals. A link to a directory
// counts as one (the user may name a link as the target). A directory that
// another process makes between the look and the create is accepted.
void ensureDirectory(const FilePath& path);
// Makes the directory `name` in `directory` for a directory the archive
// names: false, with nothing touched, when a link stands there; true when a
// real directory stands there afterwards; DirectoryNotFoundError when a
// file does, the FileIOError family for OS refusals.
bool ensureRealDirectory(const platform::HeldDirectory& directory, const char* name);
// Puts the file `from` in the place of `to`, both in `directory`, in one
// step, so that `to` is always either the old file or the whole new one;
// other names of the old file (hard links) keep their content and
// attributes. A read-only, hidden or system file at `to` is replaced too.
// The FileIOError family on failure; `from` then still exists.
void replaceFile(const platform::HeldDirectory& directory, const char* from, const char* to);
// Removes the file or link `name` in `directory` (the link itself), or the
// empty directory of that name, for clean-up after a failure: any error is
// swallowed, since the caller is already reporting (or absorbing) the
// failure that matters.
void removePathQuietly(const platform::HeldDirectory& directory, const char* name) noexcept;

}  // namespace vna
