// Win32 file services over POSIX descriptors.
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "posix_faults.h"
#include "posix_handles.h"
#include "posix_internal.h"

using vna::platform::posix::beginChange;
using vna::platform::posix::fail;
using vna::platform::posix::FileObject;
using vna::platform::posix::HandleKind;
using vna::platform::posix::HandleObject;
using vna::platform::posix::injectFault;
using vna::platform::posix::nativePath;
using vna::platform::posix::setErrorFromErrno;

namespace {

FileObject* fileObject(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* object = static_cast<HandleObject*>(handle);
  return object->kind == HandleKind::File ? static_cast<FileObject*>(object) : nullptr;
}

// The status of an open file: what the open saw for a file opened only for
// reading (the system reads a file's size as of its opening), asked again
// for one open for writing, which may have grown. Null, with the error set,
// when it cannot be had.
const struct stat* currentInfo(FileObject* file) {
  if (file->writable && fstat(file->fd, &file->info) != 0) {
    SetLastError(vna::platform::win32CodeForErrno(errno));
    return nullptr;
  }
  return &file->info;
}

// The status of the open file behind `handle`, as the size and information
// queries start: null, with the error set, when the call is to fail, the
// handle is not a file's or its status cannot be had.
const struct stat* statusOf(HANDLE handle) {
  if (injectFault()) return nullptr;
  FileObject* file = fileObject(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return currentInfo(file);
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD /*share*/, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD /*flags*/, HANDLE /*templateFile*/) {
  if ((access & ~(FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES)) == 0) access = 0;
  const bool writing = (access & GENERIC_WRITE) != 0;
  if (writing ? !beginChange() : injectFault()) return INVALID_HANDLE_VALUE;
  std::string native = nativePath(path);
  if (native.empty()) return fail(ERROR_PATH_NOT_FOUND);
  // Files are made only in held directories; by path they are opened.
  if (disposition != OPEN_EXISTING) return fail(ERROR_INVALID_PARAMETER);
  // Asked about without data access first, so a FIFO or device at the
  // name is refused without being opened; a regular file is opened again
  // through that descriptor, the very file asked about.
  int pathFd = openat(AT_FDCWD, native.c_str(), O_PATH | O_CLOEXEC);
  if (pathFd < 0) {
    setErrorFromErrno(errno, native);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(pathFd, &st) != 0 || !S_ISREG(st.st_mode)) {
    // Directories, devices, FIFOs and sockets are not files to read or
    // write; directories are held through the directory capability instead.
    close(pathFd);
    return fail(ERROR_ACCESS_DENIED);
  }
  if (access == 0) {
    SetLastError(ERROR_SUCCESS);
    return new FileObject(pathFd, false, st);
  }
  int fd = vna::platform::posix::reopenDescriptor(pathFd, writing ? O_RDWR : O_RDONLY);
  int error = errno;
  close(pathFd);
  if (fd < 0) {
    setErrorFromErrno(error, native);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return new FileObject(fd, writing, st);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  FileObject* file = fileObject(handle);
  if (read != nullptr) *read = 0;
  if (injectFault()) return FALSE;
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD total = 0;
  char* out = static_cast<char*>(buffer);
  while (total < toRead) {
    ssize_t n = pread(file->fd, out + total, toRead - total, file->position + total);
    if (n < 0) {
      if (errno == EINTR) continue;
      setErrorFromErrno(errno, std::string());
      file->position += total;
      if (read != nullptr) *read = total;
      return FALSE;
    }
    if (n == 0) break;
    total += static_cast<DWORD>(n);
  }
  file->position += total;
  if (read != nullptr) *read = total;
  return TRUE;
}

namespace {

// Starts writing back, in the background, what was written to `file` before
// `end` since the last start (SYNC_FILE_RANGE_WRITE waits for nothing).
void startWriteBack(FileObject* file, off_t end) {
  if (end > file->writtenBack && !vna::platform::posix::skipFlush()) {
    sync_file_range(file->fd, file->writtenBack, end - file->writtenBack, SYNC_FILE_RANGE_WRITE);
  }
  file->writtenBack = end;
}

}  // namespace

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  FileObject* file = fileObject(handle);
  if (written != nullptr) *written = 0;
  if (injectFault()) return FALSE;
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* in = static_cast<const char*>(buffer);
  if (vna::platform::posix::crashDue()) {
    // Killed in the middle of the write: a prefix of the bytes arrives.
    ssize_t partial = pwrite(file->fd, in, toWrite / 2, file->position);
    static_cast<void>(partial);
    vna::platform::posix::crashNow();
  }
  DWORD total = 0;
  BOOL ok = TRUE;
  // A short write is retried for the rest; only an error or a write that
  // makes no progress ends it.
  while (total < toWrite) {
    ssize_t n = pwrite(file->fd, in + total, toWrite - total, file->position + total);
    if (n < 0) {
      if (errno == EINTR) continue;
      setErrorFromErrno(errno, std::string());
      ok = FALSE;
      break;
    }
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);
      ok = FALSE;
      break;
    }
    total += static_cast<DWORD>(n);
  }
  // A large file's write-back is started as it is written, in the
  // background, so that the batch flush at the end (syncfs) waits only for
  // the last part instead of for the whole file: the kernel would otherwise
  // start it only once a tenth of memory is dirty. Small files are left to
  // the batch: a start per file costs more than it saves.
  constexpr off_t kWriteBackStep = 8 << 20;
  const off_t end = file->position + total;
  if (end - file->writtenBack >= kWriteBackStep || end < file->writtenBack) startWriteBack(file, end);
  file->position = end;
  if (written != nullptr) *written = total;
  return ok;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  if (injectFault()) return INVALID_SET_FILE_POINTER;
  FileObject* file = fileObject(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  // The program moves only from the start, by a 32-bit distance: a
  // negative one is 2 GiB or more, which Windows refuses too.
  if (method != FILE_BEGIN || distanceHigh != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (distance < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  file->position = static_cast<off_t>(distance);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(distance);
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  const struct stat* info = statusOf(handle);
  if (info == nullptr) return INVALID_FILE_SIZE;
  unsigned long long size = static_cast<unsigned long long>(info->st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  const struct stat* current = statusOf(handle);
  if (current == nullptr) return FALSE;
  vna::platform::posix::informationFrom(*current, info);
  return TRUE;
}

namespace vna::platform::posix {

void informationFrom(const struct stat& st, LPBY_HANDLE_FILE_INFORMATION info) {
  *info = BY_HANDLE_FILE_INFORMATION{};
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
  if (S_ISLNK(st.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if ((st.st_mode & 0222) == 0 && !S_ISLNK(st.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
  info->dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  info->ftLastWriteTime = fileTimeFrom(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  unsigned long long size = static_cast<unsigned long long>(st.st_size);
  info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info->nFileSizeLow = static_cast<DWORD>(size);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  unsigned long long inode = static_cast<unsigned long long>(st.st_ino);
  info->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
  info->nFileIndexLow = static_cast<DWORD>(inode);
}

}  // namespace vna::platform::posix

DWORD GetFileType(HANDLE handle) {
  FileObject* file = fileObject(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  mode_t mode = file->info.st_mode;
  if (S_ISREG(mode) || S_ISDIR(mode)) return FILE_TYPE_DISK;
  if (S_ISFIFO(mode) || S_ISSOCK(mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_CHAR;
}

DWORD GetFinalPathNameByHandleA(HANDLE handle, LPSTR buffer, DWORD size, DWORD) {
  if (injectFault()) return 0;
  FileObject* file = fileObject(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // The kernel's name of the descriptor: the path it was reached by, every
  // link resolved, as it stands now.
  std::string path(PATH_MAX, '\0');
  ssize_t length = readlink(vna::platform::posix::descriptorName(file->fd).c_str(), &path[0],
                            path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size() || path[0] != '/') {
    SetLastError(length < 0 ? vna::platform::win32CodeForErrno(errno) : ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (static_cast<DWORD>(length) >= size) return static_cast<DWORD>(length) + 1;
  std::memcpy(buffer, path.data(), static_cast<size_t>(length));
  buffer[length] = '\0';
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(length);
}

BOOL FlushFileBuffers(HANDLE handle) {
  if (injectFault()) return FALSE;
  FileObject* file = fileObject(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  vna::platform::posix::traceCall("FlushFileBuffers", "");
  if (vna::platform::posix::skipFlush()) return TRUE;
  if (fsync(file->fd) != 0) {
    SetLastError(vna::platform::win32CodeForErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL LockFileEx(HANDLE handle, DWORD flags, DWORD, DWORD, DWORD, LPOVERLAPPED) {
  if (injectFault()) return FALSE;
  FileObject* file = fileObject(handle);
  if (file == nullptr) return vna::platform::posix::failed(ERROR_INVALID_HANDLE);
  if ((flags & LOCKFILE_EXCLUSIVE_LOCK) == 0) {
    return vna::platform::posix::failed(ERROR_INVALID_PARAMETER);
  }
  const int operation = LOCK_EX | ((flags & LOCKFILE_FAIL_IMMEDIATELY) != 0 ? LOCK_NB : 0);
  int result;
  do {
    result = flock(file->fd, operation);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return TRUE;
  return vna::platform::posix::failed(errno == EWOULDBLOCK ? ERROR_LOCK_VIOLATION
                                                           : vna::platform::win32CodeForErrno(errno));
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

BOOL CloseHandle(HANDLE handle) {
  FileObject* file = fileObject(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  int result = close(file->fd);
  int error = errno;
  delete file;
  if (injectFault()) return FALSE;
  if (result != 0 && error != EINTR) {
    SetLastError(vna::platform::win32CodeForErrno(error));
    return FALSE;
  }
  return TRUE;
}
