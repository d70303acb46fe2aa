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

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
  if (injectFault()) return FALSE;
  FindObject* find = findObject(handle);
  if (find == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  WIN32_FIND_DATAA found;
  if (find->dir == nullptr || !advance(find, &found)) {
    if (find->dir == nullptr) SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
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

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  if (!beginChange()) return FALSE;
  std::string native = nativePath(path);
  return vna::platform::posix::createDirectoryAt(AT_FDCWD, native.c_str(), native);
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
