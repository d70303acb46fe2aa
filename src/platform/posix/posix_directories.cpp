// Win32 directory, attribute, current-directory, time-zone and volume
// services over POSIX.
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "posix_faults.h"
#include "posix_handles.h"
#include "posix_internal.h"

using vna::platform::posix::FindObject;
using vna::platform::posix::HandleKind;
using vna::platform::posix::HandleObject;
using vna::platform::posix::beginChange;
using vna::platform::posix::injectFault;
using vna::platform::posix::registerListing;
using vna::platform::posix::statListedEntry;
using vna::platform::posix::unregisterListing;
using vna::platform::posix::nativePath;
using vna::platform::posix::setErrorFromErrno;

namespace {

bool hasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// Windows wildcard matching as far as the system uses it: "*" and "?", with
// "*.*" matching every name, dotted or not.
bool matches(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0) return true;
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

DWORD attributesOf(const struct stat& st) {
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attributes |= FILE_ATTRIBUTE_DEVICE;
  if ((st.st_mode & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

void fill(WIN32_FIND_DATAA* data, const char* name, const struct stat& st, bool link = false) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = attributesOf(st);
  if (link) {
    // As Windows lists a symbolic link: the reparse point, a directory when
    // it leads to one, and the link's tag.
    data->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT |
                             (S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0);
    data->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
  }
  FILETIME ft = vna::platform::posix::fileTimeFrom(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  data->ftLastWriteTime = ft;
  data->ftCreationTime = ft;
  data->ftLastAccessTime = ft;
  if (!S_ISDIR(st.st_mode)) {
    unsigned long long size = static_cast<unsigned long long>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
  }
  std::strncpy(data->cFileName, name, MAX_PATH - 1);
}

bool listable(const struct stat& st) { return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode); }

// Moves to the next listable entry that matches; false at the end.
bool advance(FindObject* find, WIN32_FIND_DATAA* data) {
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(find->dir);
    if (entry == nullptr) {
      SetLastError(errno != 0 ? vna::platform::win32CodeForErrno(errno) : ERROR_NO_MORE_FILES);
      return false;
    }
    if (!matches(find->pattern.c_str(), entry->d_name)) continue;
    if (std::strlen(entry->d_name) >= MAX_PATH) continue;
    // Everything a directory holds is listed, as on Windows: links as
    // reparse points, FIFOs, sockets and devices as devices. What to make of
    // them is the caller's business.
    struct stat st;
    bool link = false;
    if (!statListedEntry(find, entry, st, link)) continue;
    fill(data, entry->d_name, st, link);
    SetLastError(ERROR_SUCCESS);
    return true;
  }
}

FindObject* findObject(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* object = static_cast<HandleObject*>(handle);
  return object->kind == HandleKind::Find ? static_cast<FindObject*>(object) : nullptr;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (injectFault()) return INVALID_HANDLE_VALUE;
  std::string native = nativePath(pattern);
  std::string::size_type slash = native.find_last_of('/');
  std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  if (name.empty()) {
    SetLastError(native.empty() ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // "*" and "?" are ordinary characters in POSIX names: a name that exists
  // is that entry, never a pattern matching others. Only "*.*", the form
  // the system lists a directory with, always lists.
  struct stat st;
  const bool wildcard = hasWildcard(name);
  if (!wildcard || (name != "*.*" && stat(native.c_str(), &st) == 0)) {
    if (!wildcard && stat(native.c_str(), &st) != 0) {
      setErrorFromErrno(errno, native);
      return INVALID_HANDLE_VALUE;
    }
    if (!listable(st) || name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    fill(data, name.c_str(), st);
    SetLastError(ERROR_SUCCESS);
    return new FindObject();
  }
  std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    int error = errno;
    SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND : vna::platform::win32CodeForErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  auto* find = new FindObject();
  find->dir = dir;
  find->pattern = name;
  registerListing(find);
  if (!advance(find, data)) {
    DWORD code = GetLastError();
    FindClose(find);
    SetLastError(code == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : code);
    return INVALID_HANDLE_VALUE;
  }
  return find;
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  if (injectFault()) return FALSE;
  FindObject* find = findObject(handle);
  if (find == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (find->dir == nullptr) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return advance(find, data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE handle) {
  FindObject* find = findObject(handle);
  if (find == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (find->dir != nullptr) {
    unregisterListing(find);
    closedir(find->dir);
  }
  delete find;
  return injectFault() ? FALSE : TRUE;
}

namespace {

// Find data with its name in this seam's code page, widened.
void widen(const WIN32_FIND_DATAA& narrow, WIN32_FIND_DATAW* wide) {
  std::memset(wide, 0, sizeof *wide);
  std::memcpy(wide, &narrow, offsetof(WIN32_FIND_DATAW, cFileName));
  MultiByteToWideChar(CP_ACP, 0, narrow.cFileName, -1, wide->cFileName, MAX_PATH);
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  std::string narrow(PATH_MAX, '\0');
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, 0, pattern, -1, &narrow[0],
                                   static_cast<int>(narrow.size()), nullptr, &lossy);
  if (length == 0 || lossy) {
    SetLastError(length == 0 ? ERROR_FILENAME_EXCED_RANGE : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(narrow.c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) widen(found, data);
  return find;
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  WIN32_FIND_DATAA found;
  if (!FindNextFileA(find, &found)) return FALSE;
  widen(found, data);
  return TRUE;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideLength, LPSTR out, int outSize,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
  if (usedDefault != nullptr) *usedDefault = FALSE;
  if (wideLength < 0) {
    wideLength = 0;
    while (wide[wideLength] != 0) ++wideLength;
    ++wideLength;  // the terminator is converted too
  }
  if (outSize == 0) return wideLength;
  if (wideLength > outSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < wideLength; ++i) {
    if (wide[i] <= 0xFF) {
      out[i] = static_cast<char>(wide[i]);
    } else {
      out[i] = defaultChar != nullptr ? *defaultChar : '?';
      if (usedDefault != nullptr) *usedDefault = TRUE;
    }
  }
  return wideLength;
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR bytes, int length, LPWSTR out, int outSize) {
  if (length < 0) length = static_cast<int>(std::strlen(bytes)) + 1;
  if (outSize == 0) return length;
  if (length > outSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(bytes[i]);
  return length;
}

DWORD GetFileAttributesA(LPCSTR path) {
  if (injectFault()) return INVALID_FILE_ATTRIBUTES;
  std::string native = nativePath(path);
  if (native.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return vna::platform::posix::attributesAt(AT_FDCWD, native.c_str(), native);
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (!beginChange()) return FALSE;
  std::string native = nativePath(path);
  // The mode is changed through a descriptor of the file itself, opened
  // without following a link: changing a link must never reach the file it
  // points to, even when the name is swapped for one meanwhile.
  int fd = openat(AT_FDCWD, native.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    setErrorFromErrno(errno, native);
    return FALSE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    setErrorFromErrno(error, native);
    return FALSE;
  }
  if (S_ISLNK(st.st_mode)) {
    close(fd);
    return TRUE;
  }
  mode_t mode = st.st_mode & 07777;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    mode &= ~static_cast<mode_t>(0222);
  } else if ((mode & 0222) == 0) {
    mode |= S_IWUSR;
  }
  // fchmod does not take a path-only descriptor; its /proc name does.
  int result = mode != (st.st_mode & 07777)
                   ? chmod(vna::platform::posix::descriptorName(fd).c_str(), mode)
                   : 0;
  int error = errno;
  close(fd);
  if (result != 0) {
    setErrorFromErrno(error, native);
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  if (!beginChange()) return FALSE;
  std::string native = nativePath(path);
  return vna::platform::posix::createDirectoryAt(AT_FDCWD, native.c_str(), native);
}

BOOL RemoveDirectoryA(LPCSTR path) {
  if (!beginChange()) return FALSE;
  std::string native = nativePath(path);
  return vna::platform::posix::removeDirectoryAt(AT_FDCWD, native.c_str(), native);
}

BOOL DeleteFileA(LPCSTR path) {
  if (!beginChange()) return FALSE;
  std::string native = nativePath(path);
  struct stat st;
  // Windows will not delete a read-only file; keep that rule here. A link
  // is deleted itself, whatever it points to.
  if (fstatat(AT_FDCWD, native.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
      (st.st_mode & 0222) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlinkat(AT_FDCWD, native.c_str(), 0) != 0) {
    int error = errno;
    setErrorFromErrno(error, native);
    if (error == EISDIR) SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  if (!beginChange()) return FALSE;
  std::string from = nativePath(existing);
  std::string to = nativePath(target);
  struct stat st;
  if (fstatat(AT_FDCWD, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    // Windows replaces only a file, and only when asked to; a read-only one
    // it refuses, even for an administrator.
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  }
  vna::platform::posix::traceCall("MoveFileExA", to.c_str());
  if (rename(from.c_str(), to.c_str()) != 0) {
    setErrorFromErrno(errno, to);
    return FALSE;
  }
  if ((flags & MOVEFILE_WRITE_THROUGH) == 0 || vna::platform::posix::skipFlush()) return TRUE;
  // The rename is durable once the directory holding the new name is.
  std::string::size_type slash = to.find_last_of('/');
  std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : to.substr(0, slash));
  int dir = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  vna::platform::posix::traceCall("fsync", parent.c_str());
  if (dir < 0 || fsync(dir) != 0) {
    int error = errno;
    if (dir >= 0) close(dir);
    SetLastError(vna::platform::win32CodeForErrno(error));
    return FALSE;
  }
  close(dir);
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  if (injectFault()) return 0;
  std::vector<char> local(PATH_MAX + 1);
  if (getcwd(local.data(), local.size()) == nullptr) {
    SetLastError(vna::platform::win32CodeForErrno(errno));
    return 0;
  }
  DWORD length = static_cast<DWORD>(std::strlen(local.data()));
  if (buffer == nullptr || length + 1 > size) return length + 1;
  std::memcpy(buffer, local.data(), length + 1);
  return length;
}

DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart) {
  if (injectFault()) return 0;
  // Lexical, like its Windows namesake: "." and ".." are resolved on the
  // text, links are not followed.
  std::string native = nativePath(path);
  if (native.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (native[0] != '/') {
    char cwd[PATH_MAX + 1];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      SetLastError(vna::platform::win32CodeForErrno(errno));
      return 0;
    }
    native = std::string(cwd) + "/" + native;
  }
  // Components are copied down in place; ".." drops back to the previous "/".
  std::string full;
  full.reserve(native.size());
  std::size_t start = 0;
  while (start <= native.size()) {
    std::size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    std::size_t length = end - start;
    if (length == 2 && native[start] == '.' && native[start + 1] == '.') {
      std::size_t slash = full.find_last_of('/');
      full.resize(slash == std::string::npos ? 0 : slash);
    } else if (length > 0 && !(length == 1 && native[start] == '.')) {
      full += '/';
      full.append(native, start, length);
    }
    start = end + 1;
  }
  if (full.empty()) full = "/";
  DWORD length = static_cast<DWORD>(full.size());
  if (buffer == nullptr || length + 1 > size) return length + 1;
  std::memcpy(buffer, full.c_str(), length + 1);
  if (filePart != nullptr) {
    *filePart = full == "/" ? nullptr : buffer + full.find_last_of('/') + 1;
  }
  return length;
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION info) {
  if (injectFault()) return 0xFFFFFFFFu;
  std::memset(info, 0, sizeof *info);
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) != nullptr) {
    info->Bias = static_cast<LONG>(-local.tm_gmtoff / 60);
  }
  return TIME_ZONE_ID_UNKNOWN;
}

BOOL GetVolumeInformationA(LPCSTR, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                           LPDWORD maxComponent, LPDWORD flags, LPSTR fileSystemName,
                           DWORD fileSystemNameSize) {
  if (injectFault()) return FALSE;
  // The kernel already reports FAT times in UTC, so no volume is "FAT" here.
  if (volumeName != nullptr && volumeNameSize > 0) volumeName[0] = '\0';
  if (serial != nullptr) *serial = 0;
  if (maxComponent != nullptr) *maxComponent = 255;
  if (flags != nullptr) *flags = 0;
  if (fileSystemName != nullptr && fileSystemNameSize > 0) {
    std::strncpy(fileSystemName, "POSIX", fileSystemNameSize - 1);
    fileSystemName[fileSystemNameSize - 1] = '\0';
  }
  return TRUE;
}

namespace vna::platform::posix {

namespace {

void setErrorAt(int error, const std::string& native) {
  if (native.empty()) {
    SetLastError(win32CodeForErrno(error));
  } else {
    setErrorFromErrno(error, native);
  }
}

}  // namespace

DWORD attributesAt(int dir, const char* name, const std::string& native) {
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    setErrorAt(errno, native);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(st.st_mode)) {
    // The link's own attributes, as Windows reports a reparse point's.
    struct stat target;
    bool directory = fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
  }
  return attributesOf(st);
}

BOOL createDirectoryAt(int dir, const char* name, const std::string& native) {
  if (mkdirat(dir, name, 0777) == 0) return TRUE;
  int error = errno;
  setErrorAt(error, native);
  if (error == ENOENT) SetLastError(ERROR_PATH_NOT_FOUND);
  return FALSE;
}

BOOL removeDirectoryAt(int dir, const char* name, const std::string& native) {
  if (unlinkat(dir, name, AT_REMOVEDIR) == 0) return TRUE;
  int error = errno;
  setErrorAt(error, native);
  if (error == ENOTDIR) SetLastError(ERROR_DIRECTORY);
  return FALSE;
}

HANDLE startListing(int fd, HANDLE owner, LPWIN32_FIND_DATAW data, const char* pattern) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    int error = errno;
    close(fd);
    SetLastError(win32CodeForErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  auto* find = new FindObject();
  find->dir = dir;
  find->pattern = pattern;
  find->owner = owner;
  registerListing(find);
  WIN32_FIND_DATAA found;
  if (!advance(find, &found)) {
    DWORD code = GetLastError();
    FindClose(find);
    SetLastError(code == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : code);
    return INVALID_HANDLE_VALUE;
  }
  widen(found, data);
  return find;
}

}  // namespace vna::platform::posix
