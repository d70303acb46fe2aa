// Shared pieces of the POSIX seam implementation; not for use above the seam.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform_api.h"

namespace vna::platform::posix {

// A path as the kernel wants it: every "\" turned into "/".
std::string nativePath(LPCSTR path);

// The failure results of the seam's calls, with the Win32 code recorded.
inline HANDLE fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}
inline BOOL failed(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// The /proc name of an open descriptor: the kernel's path of what it
// stands for, and a way to reach that very file again.
std::string descriptorName(int fd);
// Opens the file that the path-only descriptor `pathFd` stands for again,
// with `flags` (data access): the very file, however its name changes.
// Through a descriptor of /proc/self/fd kept open for the process, so each
// reopen looks up one name rather than a whole path.
int reopenDescriptor(int pathFd, int flags);

// Records the Win32 code for the errno of a failed call on `native`. ENOENT
// becomes "path not found" when the parent directory itself is missing, as
// Windows reports it, and "file not found" otherwise.
void setErrorFromErrno(int error, const std::string& native);

struct FindObject;

// Listed files held open (posix_listed_files.cpp). An enumeration is
// registered while it is open; `statListedEntry` stats an entry of its
// directory and, for a regular file, keeps it open for a following
// `adoptListedFile` of the same name in the same held directory (false
// when the entry cannot be stated).
void registerListing(FindObject* find);
void unregisterListing(FindObject* find);
// A symbolic link is stated as what it leads to, with `link` set (`st` is
// the link's own status when it leads nowhere).
bool statListedEntry(FindObject* find, const struct dirent* entry, struct stat& st, bool& link);
void releaseHeldFile(FindObject* find);
// The descriptor held for `name` by a listing of the held directory whose
// handle is `directory`, handed over with its status; -1 when none is held.
int adoptListedFile(HANDLE directory, const char* name, struct stat& st);
// The prologue of every call that changes the file system (a create or open
// for writing, an attribute change, making or removing a directory, a
// delete, a move): counts the call for fault injection and closes every
// descriptor the listings hold, so that no open of a listed file survives a
// change made through the seam. False when the call is to fail.
bool beginChange();

// GetFileAttributesA of `name` in the directory `dir` (AT_FDCWD for a path),
// the name itself and not what a link there leads to; `native` names it in
// the error (empty below a held directory, where the directory is there).
DWORD attributesAt(int dir, const char* name, const std::string& native);
// Creating and removing a directory, `name` in `dir`, with Windows' codes
// (a missing parent is ERROR_PATH_NOT_FOUND, a file where a directory is
// to be removed ERROR_DIRECTORY); `native` as for attributesAt.
BOOL createDirectoryAt(int dir, const char* name, const std::string& native);
BOOL removeDirectoryAt(int dir, const char* name, const std::string& native);
// Starts a listing of the open directory descriptor `fd` (which it takes
// over), as FindFirstFileW would; `owner` is the held directory's handle, for
// `adoptListedFile`.
// Only names matching `pattern` are listed.
HANDLE startListing(int fd, HANDLE owner, LPWIN32_FIND_DATAW data, const char* pattern);

// What GetFileInformationByHandle answers for a file of status `st`.
void informationFrom(const struct stat& st, LPBY_HANDLE_FILE_INFORMATION info);

// 100-nanosecond intervals since 1601, as FILETIME counts them.
FILETIME fileTimeFrom(long long seconds, long nanoseconds);

}  // namespace vna::platform::posix
