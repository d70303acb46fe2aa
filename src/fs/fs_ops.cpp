#include "fs/fs_ops.h"

#include "fs/error_tables.h"
#include "base/errors.h"
#include "fs/file_item.h"
#include "platform_api.h"

namespace vna {

namespace {

PathKind kindOf(DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Link;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::File;
}

// Makes the directory; another process that made it first is no failure.
// Returns what stands there afterwards.
PathKind createDirectory(const FilePath& path) {
  if (CreateDirectoryA(path.text(), nullptr)) return PathKind::Directory;
  DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
    PathKind now = examinePath(path);
    if (now != PathKind::Missing) return now;
  }
  raiseFileSystemError(code);
  return PathKind::Missing;
}

}  // namespace

PathKind examinePath(const FilePath& path) {
  if (path.empty()) return PathKind::Missing;
  return kindOf(GetFileAttributesA(path.text()));
}

void ensureDirectory(const FilePath& path) {
  if (path.empty()) throw DirectoryNotFoundError();
  DWORD attributes = GetFileAttributesA(path.text());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (createDirectory(path) == PathKind::File) throw DirectoryNotFoundError();
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  throw DirectoryNotFoundError();
}

PathKind examinePath(const platform::HeldDirectory& directory, const char* name) {
  return kindOf(directory.getAttributes(name));
}

bool ensureRealDirectory(const platform::HeldDirectory& directory, const char* name) {
  // Creating first costs one call where the directory is new, the common
  // case when a tree is unpacked; where something stands, the refused
  // create is followed by a look at what it is. Another process that made
  // it first is no failure.
  if (directory.createDirectory(name)) return true;
  DWORD code = GetLastError();
  PathKind kind = PathKind::Missing;
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) kind = examinePath(directory, name);
  if (kind == PathKind::Link) return false;
  if (kind == PathKind::File) throw DirectoryNotFoundError();
  if (kind == PathKind::Missing) raiseFileSystemError(code);
  return true;
}

void replaceFile(const platform::HeldDirectory& directory, const char* from, const char* to) {
  if (!directory.replaceFile(from, to)) raiseFileSystemError(GetLastError());
}

void removePathQuietly(const platform::HeldDirectory& directory, const char* name) noexcept {
  PathKind kind = examinePath(directory, name);
  if (kind == PathKind::Directory) {
    directory.removeDirectory(name);
  } else if (kind != PathKind::Missing) {
    directory.deleteFile(name);
  }
}

}  // namespace vna
