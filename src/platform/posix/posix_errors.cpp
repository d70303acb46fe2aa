// The one translation from errno to Win32 system error codes, and the
// per-thread "last error" that GetLastError reports.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "posix_internal.h"

namespace {
thread_local DWORD lastError = 0;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

namespace vna::platform {

DWORD win32CodeForErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EBUSY: return ERROR_BUSY;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EIO: return ERROR_IO_DEVICE;
    default: return ERROR_GEN_FAILURE;
  }
}

namespace posix {

std::string nativePath(LPCSTR path) {
  std::string result = path != nullptr ? path : "";
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

std::string descriptorName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int reopenDescriptor(int pathFd, int flags) {
  // Opened once, on first use, and kept: the directory of this process's
  // own descriptors.
  static const int descriptors = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
  flags |= O_CLOEXEC | O_NOCTTY;
  if (descriptors < 0) return open(descriptorName(pathFd).c_str(), flags);
  return openat(descriptors, std::to_string(pathFd).c_str(), flags);
}

void setErrorFromErrno(int error, const std::string& native) {
  DWORD code = win32CodeForErrno(error);
  if (error == ENOENT) {
    std::string::size_type slash = native.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      struct stat st;
      std::string parent = native.substr(0, slash);
      if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) code = ERROR_PATH_NOT_FOUND;
    }
  }
  SetLastError(code);
}

FILETIME fileTimeFrom(long long seconds, long nanoseconds) {
  // Linux allows times far beyond what a FILETIME holds; they are clamped
  // to about 28,500 years either side of 1601, where neither the sum below
  // nor the file layer's conversion to microseconds since 1970 overflows.
  // Before 1601 the ticks are negative, which the file layer reads back as
  // a signed count. Which times an archive can hold is the archive
  // writer's rule, not the seam's.
  constexpr long long kTicksPerSecond = 10000000LL;
  constexpr long long kFrom1601 = 11644473600LL;
  constexpr long long kReach = 900000000000LL;  // seconds either side of 1601
  constexpr long long kEarliest = -kReach - kFrom1601;
  constexpr long long kLatest = kReach - kFrom1601;
  if (seconds < kEarliest) {
    seconds = kEarliest;
    nanoseconds = 0;
  } else if (seconds > kLatest) {
    seconds = kLatest;
    nanoseconds = 0;
  }
  unsigned long long ticks = static_cast<unsigned long long>(
      (seconds + kFrom1601) * kTicksPerSecond + nanoseconds / 100);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

}  // namespace posix
}  // namespace vna::platform
