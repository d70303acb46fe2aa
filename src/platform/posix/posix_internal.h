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

// Records the Win32 code for the errno of a failed call on `native`. ENOENT
// becomes "path not found" when the parent directory itself is missing, as
// Windows reports it, and "file not found" otherwise.
void setErrorFromErrno(int error, const std::string& native);

struct FindObject;

// Listed files held open (posix_listed_files.cpp). An enumeration is
// registered while it is open; `statListedEntry` stats an entry of its
// directory and, for a regular file, keeps it open for a following
// `adoptListedFile` of the same path (false when the entry cannot be stated).
void registerListing(FindObject* find);
void unregisterListing(FindObject* find);
// A symbolic link is stated as what it leads to, with `link` set (`st` is
// the link's own status when it leads nowhere).
bool statListedEntry(FindObject* find, const struct dirent* entry, struct stat& st, bool& link);
void releaseHeldFile(FindObject* find);
// The descriptor held for exactly this native path, handed over with its
// status; -1 when none is held.
int adoptListedFile(const std::string& native, struct stat& st);
// The prologue of every call that changes the file system (a create or open
// for writing, an attribute change, making or removing a directory, a
// delete, a move): counts the call for fault injection and closes every
// descriptor the listings hold, so that no open of a listed file survives a
// change made through the seam. False when the call is to fail. This is the
// only way to drop the held files.
bool beginChange();

// Held directories (posix_held_directories.cpp). A directory is held while
// a handle opened on it with backup semantics and without FILE_SHARE_DELETE
// is open; `owner` is that handle's object.
void holdDirectory(const void* owner, const std::string& native, int fd);
void releaseDirectory(const void* owner);
// A place to act on: a directory descriptor and a name in it. Outside every
// held directory, `dir` is AT_FDCWD and `name` the whole native path (the
// caller's own text, not a copy).
struct At {
  At() = default;
  At(const At&) = delete;
  At& operator=(const At&) = delete;
  ~At();
  int dir = AT_FDCWD;
  const char* name = nullptr;
  std::string leaf;  // holds `name` below a held directory
  int owned = -1;
  bool beneath() const { return dir != AT_FDCWD; }
};
// Resolves `native` for an operation on its last component: below a held
// directory, the components in between are opened from its descriptor, the
// kernel refusing any link or ".." that would leave it (errno ELOOP or
// EXDEV). False with errno set when they cannot be opened.
bool resolveAt(const std::string& native, At& out);
// The walk resolveAt falls back on where openat2 is missing: opens the
// directory `relative` below `root` one component at a time, refusing a
// link (ELOOP) and ".." (EXDEV); -1 with errno set on failure.
int openBeneathByWalk(int root, const std::string& relative);

// Closes `handle` when it is a thread's (posix_threads.cpp); false for any
// other handle.
bool closeThreadHandle(HANDLE handle);

// 100-nanosecond intervals since 1601, as FILETIME counts them.
FILETIME fileTimeFrom(long long seconds, long nanoseconds);

}  // namespace vna::platform::posix
