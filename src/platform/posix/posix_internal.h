// Shared pieces of the POSIX seam implementation; not for use above the seam.
#pragma once

#include <dirent.h>
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
bool statListedEntry(FindObject* find, const struct dirent* entry, struct stat& st);
void releaseHeldFile(FindObject* find);
// The descriptor held for exactly this native path, handed over with its
// status; -1 when none is held.
int adoptListedFile(const std::string& native, struct stat& st);
// Closes every held descriptor: called by whatever changes the file system,
// so that no stale open survives a delete, replace or attribute change.
void dropListedFiles();

// 100-nanosecond intervals since 1601, as FILETIME counts them.
FILETIME fileTimeFrom(long long seconds, long nanoseconds);

}  // namespace vna::platform::posix
