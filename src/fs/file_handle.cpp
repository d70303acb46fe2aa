#include "fs/file_handle.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "fs/error_tables.h"
#include "base/errors.h"
#include "fs/fs_ops.h"
#include "fs/temporary_names.h"

namespace vna {

void FileHandle::seek(uint32_t position) const {
  // Passed as a signed 32-bit distance: 2^31 and beyond are refused here.
  if (SetFilePointer(handle_, static_cast<LONG>(position), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    throw FileSeekError();
  }
}

FileHandle::~FileHandle() {
  try {
    close();
  } catch (...) {
    // A failed close while unwinding or cleaning up has nobody to report to.
  }
}

void FileHandle::open(const FilePath& path) {
  handle_ = CreateFileA(path.text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) mapOpenError(GetLastError());
}

void FileHandle::close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  HANDLE held = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  if (!CloseHandle(held)) mapOpenError(GetLastError());
}

void FileHandle::flush() {
  if (!FlushFileBuffers(handle_)) mapWriteError(GetLastError());
}

void FileHandle::prepareFlush() {
  if (!platform::prepareFlush(handle_)) mapWriteError(GetLastError());
}

bool FileHandle::tryLock() {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED whole = {};
  return LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 0xFFFFFFFFu,
                    0xFFFFFFFFu, &whole) != FALSE;
}

uint32_t FileHandle::size() const {
  DWORD size = GetFileSize(handle_, nullptr);
  if (size == INVALID_FILE_SIZE) mapOpenError(GetLastError());
  return size;
}

uint64_t FileHandle::size64() const {
  DWORD high = 0;
  DWORD low = GetFileSize(handle_, &high);
  if (low == INVALID_FILE_SIZE) mapOpenError(GetLastError());
  return (static_cast<uint64_t>(high) << 32) | low;
}

namespace {

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

}  // namespace

bool FileHandle::identity(FileIdentity& out) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle_ == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle_, &info)) return false;
  out = identityOf(info);
  return true;
}

bool FileHandle::isDiskFile() const {
  return handle_ != INVALID_HANDLE_VALUE && GetFileType(handle_) == FILE_TYPE_DISK;
}

bool FileHandle::isLink() const {
  BY_HANDLE_FILE_INFORMATION info;
  return handle_ != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle_, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

DWORD FileHandle::openIn(const platform::HeldDirectory& directory, const char* name,
                         bool asItself) {
  close();
  handle_ = directory.createFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                 asItself ? FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL);
  if (handle_ != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  DWORD code = GetLastError();
  return code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE;
}

bool FileHandle::openLocked(const platform::HeldDirectory& directory, const char* name) {
  if (openIn(directory, name, true) != ERROR_SUCCESS) return false;
  if (isLink()) {
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
  } else if (tryLock()) {
    return true;
  }
  // The caller learns why; closing must not change it.
  const DWORD code = GetLastError();
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  SetLastError(code);
  return false;
}

bool FileHandle::openLeftover(const platform::HeldDirectory& directory, const char* name) {
  if (!openLocked(directory, name)) return false;
  FileIdentity locked;
  if (identity(locked) && nameShows(directory, name, locked)) return true;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

namespace {

std::string finalPathOf(HANDLE handle) {
  std::string path(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = GetFinalPathNameByHandleA(handle, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.assign(length, '\0');
  }
  return std::string();
}

}  // namespace

std::string FileHandle::finalPath() const {
  return handle_ == INVALID_HANDLE_VALUE ? std::string() : finalPathOf(handle_);
}

std::string finalDirectoryPath(const platform::HeldDirectory& directory) {
  return directory.isHeld() ? finalPathOf(directory.handle()) : std::string();
}

namespace {

// The handle of a create that only makes a new file: true when it made one,
// false when something stood at the name; other failures through the table.
bool madeNew(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) return true;
  DWORD code = GetLastError();
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return false;
  mapCreateError(code);
  return false;
}

}  // namespace

bool WritableFileHandle::createNew(const platform::HeldDirectory& directory, const char* name) {
  close();
  handle_ = directory.createFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL);
  return madeNew(handle_);
}

bool WritableFileHandle::lockCreated(const platform::HeldDirectory& directory, const char* name) {
  const bool taken = !tryLock() && GetLastError() == ERROR_LOCK_VIOLATION;
  FileIdentity mine;
  FileIdentity named;
  bool known = false;
  if (identity(mine)) {
    known = queryFileIdentity(directory, name, named);
    if (known && named == mine && !taken) return true;
  } else if (!taken) {
    return true;
  }
  close();
  // Only a name that no longer shows this file may be removed: it is gone,
  // or still this one where the OS could not say.
  if (!known) directory.deleteFile(name);
  return false;
}

bool WritableFileHandle::createPrivate(const platform::HeldDirectory& directory,
                                       const char* name) {
  close();
  handle_ = directory.createPrivate(name);
  return madeNew(handle_);
}

std::string WritableFileHandle::createTemporaryIn(const platform::HeldDirectory& directory,
                                                  unsigned& next, const char* extension) {
  return firstFreeName(
      next, [&](unsigned n) { return temporaryName(n, extension); },
      [&](const char* name) { return createNew(directory, name); });
}

bool checkReplaceable(const platform::HeldDirectory& directory, const char* name,
                      FileIdentity& standing) {
  DWORD attributes = directory.getAttributes(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return false;
    mapCreateError(code);
  }
  // A link is replaced, not written through.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  // Opening for writing is not refused for a read-only file everywhere (an
  // administrator may), but replacing one is; nor is a directory replaced.
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    mapCreateError(ERROR_ACCESS_DENIED);
  }
  HANDLE handle = directory.createFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return false;
    mapCreateError(code);
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (known) standing = identityOf(info);
  return known;
}

namespace {

bool identityOfHandle(HANDLE handle, bool directory, FileIdentity& out) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  if (!known || ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory) {
    return false;
  }
  out = identityOf(info);
  return true;
}

}  // namespace

// No access asked and every kind of sharing allowed: this succeeds even for
// a file that this process holds open for writing.
bool queryFileIdentity(const platform::HeldDirectory& directory, const char* name,
                       FileIdentity& out) {
  HANDLE handle = directory.createFile(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT);
  bool known = identityOfHandle(handle, false, out);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return known;
}

bool nameShows(const platform::HeldDirectory& directory, const char* name,
               const FileIdentity& identity) {
  FileIdentity named;
  return queryFileIdentity(directory, name, named) && named == identity;
}

bool queryDirectoryIdentity(const platform::HeldDirectory& directory, FileIdentity& out) {
  return identityOfHandle(directory.handle(), true, out);
}

}  // namespace vna
