// Shared pieces of the POSIX seam implementation; not for use above the seam.
#pragma once

#include <string>

#include "platform_api.h"

namespace vna::platform::posix {

// A path as the kernel wants it: every "\" turned into "/".
std::string nativePath(LPCSTR path);

// Records the Win32 code for the errno of a failed call on `native`. ENOENT
// becomes "path not found" when the parent directory itself is missing, as
// Windows reports it, and "file not found" otherwise.
void setErrorFromErrno(int error, const std::string& native);

// 100-nanosecond intervals since 1601, as FILETIME counts them.
FILETIME fileTimeFrom(long long seconds, long nanoseconds);

}  // namespace vna::platform::posix
