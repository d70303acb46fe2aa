// The directory capability over kernel32: the held handle, opened without
// delete sharing, makes Windows refuse to rename or remove the directory, so
// the path text through it that each Win32 call below is given names the
// directory that was held and checked.
#include <cstring>
#include <string>
#include <vector>

#include "platform/held_directory.h"

namespace vna::platform {

namespace {

HANDLE fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

BOOL failed(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Opens the directory at `path` to hold it. Reading and writing below it
// are shared; deletion, which a rename of the directory needs, is not. The
// listing access matters: Windows checks sharing only against opens that
// ask for data access, so a handle that asked for attributes alone would
// not hold anything.
HeldDirectory::Outcome openHeld(const std::string& path, bool followLinks, HANDLE& out) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HeldDirectory::Outcome::Absent;
  // The handle's own attributes, not another look at the path: they are
  // those of the very directory now held.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    CloseHandle(handle);
    return HeldDirectory::Outcome::Absent;
  }
  // Wine's handle to a Unix link does not carry the reparse attribute that
  // its path shows; the path is asked too, once the directory is held.
  DWORD shown = followLinks ? 0 : GetFileAttributesA(path.c_str());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (shown != INVALID_FILE_ATTRIBUTES && (shown & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    CloseHandle(handle);
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return HeldDirectory::Outcome::Link;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(handle);
    SetLastError(ERROR_DIRECTORY);
    return HeldDirectory::Outcome::Absent;
  }
  out = handle;
  return HeldDirectory::Outcome::Held;
}

}  // namespace

HeldDirectory::Outcome HeldDirectory::hold(LPCSTR path) {
  release();
  if (path == nullptr || path[0] == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return Outcome::Absent;
  }
  std::string text = path;
  Outcome outcome = openHeld(text, true, handle_);
  if (outcome == Outcome::Held) {
    // Names are joined with one "\": a root's own separator goes ("D:\"
    // is held, "D:" + "\" + name names what lies in it).
    while (text.size() > 1 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
    path_ = text;
  }
  return outcome;
}

HeldDirectory::Outcome HeldDirectory::holdIn(const HeldDirectory& parent, LPCSTR name) {
  release();
  if (!parent.isHeld()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Outcome::Absent;
  }
  if (!isPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return Outcome::Absent;
  }
  std::string text = parent.path_ + "\\" + name;
  Outcome outcome = openHeld(text, false, handle_);
  if (outcome == Outcome::Held) path_ = text;
  return outcome;
}

namespace {

// The path of `name` in the held directory `directory`, or empty for a name
// that is refused (the error is set).
std::string below(const HeldDirectory& directory, LPCSTR name) {
  if (!directory.isHeld()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return std::string();
  }
  if (!isPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return std::string();
  }
  return directory.path() + "\\" + name;
}

}  // namespace

HANDLE HeldDirectory::createFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                                 DWORD flags) const {
  std::string path = below(*this, name);
  if (path.empty()) return INVALID_HANDLE_VALUE;
  // CREATE_NEW fails on any reparse point at the name; an open asked for as
  // itself opens a link as the link. Neither writes through one.
  HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE || disposition != OPEN_EXISTING ||
      (access & (GENERIC_READ | GENERIC_WRITE)) == 0) {
    return handle;
  }
  // Only a file on a disk is read or written; a pipe or device reached
  // through a name is closed unread.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return fail(ERROR_ACCESS_DENIED);
  }
  return handle;
}

HANDLE HeldDirectory::createPrivate(LPCSTR name) const {
  return createFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL);
}

DWORD HeldDirectory::getAttributes(LPCSTR name) const {
  std::string path = below(*this, name);
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
}

BOOL HeldDirectory::describe(LPCSTR name, BY_HANDLE_FILE_INFORMATION* info,
                             FileOrigin* origin) const {
  std::string path = below(*this, name);
  if (path.empty()) return FALSE;
  // No access asked, every sharing allowed: asking disturbs no other open.
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  const BOOL known = GetFileInformationByHandle(handle, info) && queryOrigin(handle, origin);
  const DWORD code = GetLastError();
  CloseHandle(handle);
  if (!known) return failed(code);
  return TRUE;
}

BOOL HeldDirectory::createDirectory(LPCSTR name) const {
  std::string path = below(*this, name);
  return !path.empty() && CreateDirectoryA(path.c_str(), nullptr);
}

BOOL HeldDirectory::removeDirectory(LPCSTR name) const {
  std::string path = below(*this, name);
  return !path.empty() && RemoveDirectoryA(path.c_str());
}

BOOL HeldDirectory::deleteFile(LPCSTR name) const {
  std::string path = below(*this, name);
  if (path.empty()) return FALSE;
  if (DeleteFileA(path.c_str())) return TRUE;
  // Windows will not delete a read-only file.
  DWORD code = GetLastError();
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
      !SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return failed(code);
  }
  return DeleteFileA(path.c_str());
}

BOOL HeldDirectory::replaceFile(LPCSTR from, LPCSTR to) const {
  std::string source = below(*this, from);
  std::string target = below(*this, to);
  if (source.empty() || target.empty()) return FALSE;
  const DWORD move = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExA(source.c_str(), target.c_str(), move)) return TRUE;
  DWORD code = GetLastError();
  // Windows will not replace a read-only file; hidden and system ones are
  // refused by some of its file systems. Such a file is replaced all the
  // same, as a create over it would be after clearing them.
  const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  DWORD attributes = GetFileAttributesA(target.c_str());
  if (code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      (attributes & blocking) == 0) {
    return failed(code);
  }
  if (!SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL)) return failed(code);
  if (MoveFileExA(source.c_str(), target.c_str(), move)) return TRUE;
  code = GetLastError();
  SetFileAttributesA(target.c_str(), attributes);
  return failed(code);
}

BOOL prepareFlush(HANDLE file) {
  // Windows has no flush of a whole file system that a process may ask
  // for: the file is flushed now.
  return FlushFileBuffers(file);
}

BOOL HeldDirectory::flushWritten() const {
  // Each file was flushed by prepareFlush and each move written through;
  // files created in place are not flushed one by one (see the header).
  return isHeld() ? TRUE : failed(ERROR_INVALID_HANDLE);
}

BOOL HeldDirectory::flushNames() const {
  // NTFS logs the names it makes and removes in order: a name made later
  // never outlives one made before it.
  return isHeld() ? TRUE : failed(ERROR_INVALID_HANDLE);
}

BOOL queryOrigin(HANDLE file, FileOrigin* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return FALSE;
  out->birth = (static_cast<uint64_t>(info.ftCreationTime.dwHighDateTime) << 32) |
               info.ftCreationTime.dwLowDateTime;
  out->ownedByUser = true;
  out->privateMode = true;
  return TRUE;
}

HANDLE HeldDirectory::findFirst(LPWIN32_FIND_DATAW data, LPCSTR only) const {
  if (!isHeld()) return fail(ERROR_INVALID_HANDLE);
  // Listed in UTF-16, so that the caller sees every name exactly as it is
  // and can tell one the ANSI code page cannot hold.
  std::string pattern = path_ + "\\" + only;
  int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pattern.c_str(), -1, nullptr, 0);
  if (length == 0) return INVALID_HANDLE_VALUE;
  std::vector<WCHAR> wide(static_cast<std::size_t>(length));
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pattern.c_str(), -1, wide.data(),
                          length) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  return FindFirstFileW(wide.data(), data);
}

}  // namespace vna::platform
