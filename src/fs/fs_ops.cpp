#include "fs_ops.h"

#include "error_tables.h"
#include "errors.h"
#include "file_item.h"
#include "platform_api.h"

namespace vna {

namespace {
// The attributes without read-only; "no attributes" must be spelled NORMAL.
DWORD writable(DWORD attributes) {
  DWORD result = attributes & ~FILE_ATTRIBUTE_READONLY;
  return result != 0 ? result : FILE_ATTRIBUTE_NORMAL;
}
}  // namespace

void ensureDirectory(const FilePath& path) {
  if (path.empty()) throw DirectoryNotFoundError();
  DWORD attributes = GetFileAttributesA(path.text());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryA(path.text(), nullptr)) raiseFileSystemError(GetLastError());
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  throw DirectoryNotFoundError();
}

void removePath(const FilePath& path) {
  FileItem item;
  if (!item.lookup(path)) return;
  if (item.isFile()) {
    deleteFile(path);
  } else if (item.isDirectory()) {
    removeDirectory(path);
  }
}

void removePathQuietly(const FilePath& path) noexcept {
  try {
    removePath(path);
  } catch (...) {
  }
}

void deleteFile(const FilePath& path) {
  if (path.empty()) throw FileNotFoundError();
  DWORD attributes = GetFileAttributesA(path.text());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw FileNotFoundError();
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !SetFileAttributesA(path.text(), writable(attributes))) {
    raiseFileSystemError(GetLastError());
  }
  if (!DeleteFileA(path.text())) raiseFileSystemError(GetLastError());
}

void removeDirectory(const FilePath& path) {
  if (path.empty()) throw DirectoryNotFoundError();
  DWORD attributes = GetFileAttributesA(path.text());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw DirectoryNotFoundError();
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path.text(), writable(attributes));
  }
  if (!RemoveDirectoryA(path.text())) throw FileIOError(0);
}

}  // namespace vna
