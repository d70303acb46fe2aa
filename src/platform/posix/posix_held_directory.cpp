// The directory capability over a directory descriptor: every operation is
// the *at call of that descriptor on one name, and none follows a link at
// the name unless it only reads, and then not before it knows what the link
// leads to. Windows keeps the same promise by refusing to rename or remove
// a held directory; POSIX cannot refuse, so a directory renamed away keeps
// being the one acted in and a link put in its place is never reached.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/held_directory.h"
#include "posix_faults.h"
#include "posix_handles.h"
#include "posix_internal.h"

namespace vna::platform {

using posix::beginChange;
using posix::fail;
using posix::failed;
using posix::FileObject;
using posix::HandleKind;
using posix::HandleObject;
using posix::injectFault;

namespace {

int descriptorOf(HANDLE handle) {
  auto* object = static_cast<HandleObject*>(handle);
  return static_cast<FileObject*>(object)->fd;
}

HeldDirectory::Outcome refuse(DWORD code) {
  SetLastError(code);
  return HeldDirectory::Outcome::Absent;
}

// Opens the regular file that the path-only descriptor `pathFd` stands for,
// with data access, through the descriptor's /proc name: the very file that
// was asked about, however the name or a link on the way changes meanwhile.
int reopen(int pathFd, bool writing) {
  return posix::reopenDescriptor(pathFd, writing ? O_RDWR : O_RDONLY);
}

}  // namespace

HeldDirectory::Outcome HeldDirectory::hold(LPCSTR path) {
  release();
  if (injectFault()) return Outcome::Absent;
  std::string native = posix::nativePath(path);
  if (native.empty()) return refuse(ERROR_PATH_NOT_FOUND);
  // A path-only descriptor: holding asks for no permission on the
  // directory, and listing opens its own descriptor from it.
  int fd = open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    int error = errno;
    if (fd >= 0) close(fd);
    posix::setErrorFromErrno(error, native);
    return Outcome::Absent;
  }
  handle_ = new FileObject(fd, false, st);
  // Names are joined with one "\"; the root's own separator goes too.
  path_ = path;
  while (!path_.empty() && (path_.back() == '/' || path_.back() == '\\')) path_.pop_back();
  return Outcome::Held;
}

HeldDirectory::Outcome HeldDirectory::holdIn(const HeldDirectory& parent, LPCSTR name) {
  release();
  if (injectFault()) return Outcome::Absent;
  if (!parent.isHeld()) return refuse(ERROR_INVALID_HANDLE);
  if (!isPlainName(name)) return refuse(ERROR_INVALID_NAME);
  int dir = descriptorOf(parent.handle_);
  int fd = openat(dir, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0) {
    int error = errno;
    // A link there fails as "not a directory" or as a loop.
    if ((error == ENOTDIR || error == ELOOP) && fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      SetLastError(ERROR_CANT_RESOLVE_FILENAME);
      return Outcome::Link;
    }
    return refuse(win32CodeForErrno(error));
  }
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    const bool link = S_ISLNK(st.st_mode);
    close(fd);
    SetLastError(link ? ERROR_CANT_RESOLVE_FILENAME : ERROR_DIRECTORY);
    return link ? Outcome::Link : Outcome::Absent;
  }
  handle_ = new FileObject(fd, false, st);
  path_ = parent.path_ + "\\" + name;
  return Outcome::Held;
}

namespace {

// A new regular file `name` in `dir` with `mode` (less the umask).
HANDLE createNewAt(int dir, LPCSTR name, bool writing, mode_t mode) {
  // O_EXCL also refuses a symbolic link, dangling or not.
  int fd = openat(dir, name, (writing ? O_RDWR : O_RDONLY) | O_CREAT | O_EXCL | O_NOFOLLOW |
                                 O_CLOEXEC | O_NOCTTY, mode);
  if (fd < 0) return fail(errno == EEXIST ? ERROR_FILE_EXISTS : win32CodeForErrno(errno));
  struct stat st = {};
  st.st_mode = S_IFREG;
  SetLastError(ERROR_SUCCESS);
  return new FileObject(fd, writing, st);
}

}  // namespace

HANDLE HeldDirectory::createPrivate(LPCSTR name) const {
  if (!beginChange()) return INVALID_HANDLE_VALUE;
  if (!isHeld()) return fail(ERROR_INVALID_HANDLE);
  if (!isPlainName(name)) return fail(ERROR_INVALID_NAME);
  return createNewAt(descriptorOf(handle_), name, true, 0600);
}

BOOL prepareFlush(HANDLE) {
  // syncfs in flushWritten covers every file of the file system.
  return TRUE;
}

HANDLE HeldDirectory::createFile(LPCSTR name, DWORD access, DWORD, DWORD disposition,
                                 DWORD flags) const {
  if ((access & ~(FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES)) == 0) access = 0;
  const bool writing = (access & GENERIC_WRITE) != 0;
  if ((writing || disposition != OPEN_EXISTING) ? !beginChange() : injectFault()) {
    return INVALID_HANDLE_VALUE;
  }
  if (!isHeld()) return fail(ERROR_INVALID_HANDLE);
  if (!isPlainName(name)) return fail(ERROR_INVALID_NAME);
  int dir = descriptorOf(handle_);
  const bool asItself = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
  struct stat st;
  if (disposition == CREATE_NEW) return createNewAt(dir, name, writing, 0666);
  if (disposition != OPEN_EXISTING) return fail(ERROR_INVALID_PARAMETER);
  if (access != 0 && asItself && !writing) {
    // The common case, a listed file opened as itself: the listing may
    // already hold it open, a regular file found as below.
    int fd = posix::adoptListedFile(handle_, name, st);
    if (fd >= 0) {
      SetLastError(ERROR_SUCCESS);
      return new FileObject(fd, false, st);
    }
  }
  // Asked about without data access first, so nothing the name leads to is
  // opened before it is known to be a regular file: opening a FIFO or a
  // device can have effects.
  int pathFd = openat(dir, name, O_PATH | O_CLOEXEC | (asItself || writing ? O_NOFOLLOW : 0));
  if (pathFd < 0) return fail(win32CodeForErrno(errno));
  if (fstat(pathFd, &st) != 0) {
    int error = errno;
    close(pathFd);
    return fail(win32CodeForErrno(error));
  }
  if (S_ISLNK(st.st_mode) || access == 0) {
    // Asked about, or a link opened as itself: no data is reached.
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      close(pathFd);
      return fail(ERROR_ACCESS_DENIED);
    }
    SetLastError(ERROR_SUCCESS);
    return new FileObject(pathFd, false, st);
  }
  if (!S_ISREG(st.st_mode)) {
    close(pathFd);
    return fail(ERROR_ACCESS_DENIED);
  }
  int fd = reopen(pathFd, writing);
  int error = errno;
  close(pathFd);
  if (fd < 0) return fail(win32CodeForErrno(error));
  SetLastError(ERROR_SUCCESS);
  return new FileObject(fd, writing, st);
}

DWORD HeldDirectory::getAttributes(LPCSTR name) const {
  if (injectFault()) return INVALID_FILE_ATTRIBUTES;
  if (!isHeld()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!isPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  return posix::attributesAt(descriptorOf(handle_), name, std::string());
}

BOOL HeldDirectory::createDirectory(LPCSTR name) const {
  if (!beginChange()) return FALSE;
  if (!isPlainName(name)) return failed(ERROR_INVALID_NAME);
  return posix::createDirectoryAt(descriptorOf(handle_), name, std::string());
}

BOOL HeldDirectory::removeDirectory(LPCSTR name) const {
  if (!beginChange()) return FALSE;
  if (!isPlainName(name)) return failed(ERROR_INVALID_NAME);
  return posix::removeDirectoryAt(descriptorOf(handle_), name, std::string());
}

BOOL HeldDirectory::deleteFile(LPCSTR name) const {
  if (!beginChange()) return FALSE;
  if (!isPlainName(name)) return failed(ERROR_INVALID_NAME);
  if (unlinkat(descriptorOf(handle_), name, 0) != 0) {
    SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : win32CodeForErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL HeldDirectory::replaceFile(LPCSTR from, LPCSTR to) const {
  if (!beginChange()) return FALSE;
  if (!isPlainName(from) || !isPlainName(to)) return failed(ERROR_INVALID_NAME);
  int dir = descriptorOf(handle_);
  struct stat st;
  if (fstatat(dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // A rename replaces the name only: the old file's mode, and every other
  // name it has, stay as they were.
  posix::traceCall("replaceFile", to);
  if (renameat(dir, from, dir, to) != 0) return failed(win32CodeForErrno(errno));
  return TRUE;
}

namespace {

// Calls `flush` (syncfs or fsync) on a descriptor of the held directory
// `dir` opened for reading: both refuse a path-only descriptor.
BOOL flushThrough(int dir, int (*flush)(int), const char* call, const char* name) {
  int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  posix::traceCall(call, name);
  if (posix::skipFlush()) {
    if (fd >= 0) close(fd);
    return TRUE;
  }
  if (fd < 0 || flush(fd) != 0) {
    int error = errno;
    if (fd >= 0) close(fd);
    return failed(win32CodeForErrno(error));
  }
  close(fd);
  return TRUE;
}

}  // namespace

BOOL HeldDirectory::flushWritten() const {
  if (injectFault()) return FALSE;
  if (!isHeld()) return failed(ERROR_INVALID_HANDLE);
  // One syncfs costs about what the file system's next journal commit
  // costs; an fsync per file costs that per file.
  return flushThrough(descriptorOf(handle_), syncfs, "syncfs", "");
}

BOOL HeldDirectory::flushNames() const {
  if (injectFault()) return FALSE;
  if (!isHeld()) return failed(ERROR_INVALID_HANDLE);
  return flushThrough(descriptorOf(handle_), fsync, "fsync", path_.c_str());
}

namespace {

void originFrom(const struct statx& st, FileOrigin* out) {
  *out = FileOrigin{};
  if ((st.stx_mask & STATX_BTIME) != 0) {
    out->birth = static_cast<uint64_t>(st.stx_btime.tv_sec) * 10000000u +
                 static_cast<uint64_t>(st.stx_btime.tv_nsec) / 100u + 1u;
  }
  // The process never changes its effective user.
  static const uid_t user = geteuid();
  out->ownedByUser = st.stx_uid == user;
  out->privateMode = (st.stx_mode & 07777) == 0600;
}

}  // namespace

BOOL queryOrigin(HANDLE file, FileOrigin* out) {
  if (injectFault()) return FALSE;
  auto* object = static_cast<HandleObject*>(file);
  if (file == INVALID_HANDLE_VALUE || file == nullptr || object->kind != HandleKind::File) {
    return failed(ERROR_INVALID_HANDLE);
  }
  // statx answers for a path-only descriptor too: a file asked about
  // without data access.
  struct statx st;
  if (statx(descriptorOf(file), "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW,
            STATX_BTIME | STATX_UID | STATX_MODE, &st) != 0) {
    return failed(win32CodeForErrno(errno));
  }
  originFrom(st, out);
  return TRUE;
}

BOOL HeldDirectory::describe(LPCSTR name, BY_HANDLE_FILE_INFORMATION* info,
                             FileOrigin* origin) const {
  if (injectFault()) return FALSE;
  if (!isHeld()) return failed(ERROR_INVALID_HANDLE);
  if (!isPlainName(name)) return failed(ERROR_INVALID_NAME);
  // One call by name, without opening anything: what an open as itself and
  // two questions to its handle would tell.
  struct statx st;
  if (statx(descriptorOf(handle_), name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
            &st) != 0) {
    return failed(win32CodeForErrno(errno));
  }
  struct stat status = {};
  status.st_mode = st.stx_mode;
  status.st_dev = makedev(st.stx_dev_major, st.stx_dev_minor);
  status.st_ino = st.stx_ino;
  status.st_nlink = st.stx_nlink;
  status.st_size = static_cast<off_t>(st.stx_size);
  status.st_mtim.tv_sec = st.stx_mtime.tv_sec;
  status.st_mtim.tv_nsec = st.stx_mtime.tv_nsec;
  posix::informationFrom(status, info);
  originFrom(st, origin);
  return TRUE;
}

HANDLE HeldDirectory::findFirst(LPWIN32_FIND_DATAW data, LPCSTR pattern) const {
  if (injectFault()) return INVALID_HANDLE_VALUE;
  if (!isHeld()) return fail(ERROR_INVALID_HANDLE);
  int fd = openat(descriptorOf(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(win32CodeForErrno(errno));
  return posix::startListing(fd, handle_, data, pattern);
}

}  // namespace vna::platform
