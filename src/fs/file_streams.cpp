#include "fs/file_streams.h"

#include <cstdio>
#include <string>

#include "fs/error_tables.h"
#include "fs/errors.h"
#include "fs/file_item.h"
#include "fs/fs_ops.h"

namespace vna {

namespace {


// Positions are applied before every call as a signed 32-bit distance, so
// offsets of 2^31 and beyond are refused here.
void seekTo(HANDLE handle, uint32_t offset) {
  if (SetFilePointer(handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    throw FileSeekError();
  }
}

}  // namespace

FileHandle::~FileHandle() {
  try {
    close();
  } catch (...) {
    // A failed close while unwinding or cleaning up has nobody to report to.
  }
}

void FileHandle::open(const FilePath& path) {
  handle_ = CreateFileA(path.text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) mapOpenError(GetLastError());
}

void FileHandle::close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  HANDLE held = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  if (!CloseHandle(held)) mapOpenError(GetLastError());
}

uint32_t FileHandle::size() const {
  DWORD size = GetFileSize(handle_, nullptr);
  if (size == INVALID_FILE_SIZE) mapOpenError(GetLastError());
  return size;
}

uint64_t FileHandle::size64() const {
  DWORD high = 0;
  DWORD low = GetFileSize(handle_, &high);
  if (low == INVALID_FILE_SIZE) mapOpenError(GetLastError());
  return (static_cast<uint64_t>(high) << 32) | low;
}

namespace {

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

}  // namespace

bool FileHandle::identity(FileIdentity& out) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle_ == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle_, &info)) return false;
  out = identityOf(info);
  return true;
}

bool FileHandle::isDiskFile() const {
  return handle_ != INVALID_HANDLE_VALUE && GetFileType(handle_) == FILE_TYPE_DISK;
}

namespace {

std::string finalPathOf(HANDLE handle) {
  std::string path(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = GetFinalPathNameByHandleA(handle, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.assign(length, '\0');
  }
  return std::string();
}

}  // namespace

std::string FileHandle::finalPath() const {
  return handle_ == INVALID_HANDLE_VALUE ? std::string() : finalPathOf(handle_);
}

std::string finalDirectoryPath(const FilePath& path) {
  if (path.empty()) return std::string();
  HANDLE handle = CreateFileA(path.text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  std::string resolved = finalPathOf(handle);
  CloseHandle(handle);
  return resolved;
}

HeldDirectory& HeldDirectory::operator=(HeldDirectory&& other) noexcept {
  if (this != &other) {
    release();
    handle_ = other.handle_;
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

void HeldDirectory::release() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

HeldDirectory::Outcome HeldDirectory::hold(const FilePath& path, bool followLinks) {
  release();
  if (path.empty()) return Outcome::Absent;
  // Reading and writing below it are shared; deletion, which a rename of
  // the directory needs, is not. The listing access matters: Windows checks
  // sharing only against opens that ask for data access, so a handle that
  // asked for attributes alone would not hold anything.
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileA(path.text(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A link on the way below a held directory, refused by the kernel.
    return GetLastError() == ERROR_CANT_RESOLVE_FILENAME ? Outcome::Link : Outcome::Absent;
  }
  // The handle's own attributes, not another look at the path: they are
  // those of the very directory now held.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    CloseHandle(handle);
    return Outcome::Absent;
  }
  // Wine's handle to a Unix link does not carry the reparse attribute that
  // its path shows; the path is asked too, once the directory is held.
  DWORD shown = followLinks ? 0 : GetFileAttributesA(path.text());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (shown != INVALID_FILE_ATTRIBUTES && (shown & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    CloseHandle(handle);
    return Outcome::Link;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(handle);
    return Outcome::Absent;
  }
  handle_ = handle;
  return Outcome::Held;
}

void WritableFileHandle::create(const FilePath& path) {
  close();
  handle_ = CreateFileA(path.text(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) mapCreateError(GetLastError());
}

bool WritableFileHandle::createNew(const FilePath& path) {
  close();
  handle_ = CreateFileA(path.text(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ != INVALID_HANDLE_VALUE) return true;
  DWORD code = GetLastError();
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return false;
  mapCreateError(code);
  return false;
}

void WritableFileHandle::open(const FilePath& path) {
  close();
  FileItem item;
  if (!item.lookup(path)) throw FileNotFoundError();
  handle_ = CreateFileA(path.text(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) mapCreateError(GetLastError());
}

FilePath WritableFileHandle::createTemporaryBeside(const FilePath& path, unsigned& next) {
  std::string directory(path.text());
  std::string::size_type separator = directory.find_last_of("\\/");
  directory.resize(separator == std::string::npos ? 0 : separator + 1);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "~vna%u.tmp", next++);
    FilePath candidate((directory + name).c_str());
    if (createNew(candidate)) return candidate;
  }
  throw FileIOError(0);
}

bool checkReplaceable(const FilePath& path, FileIdentity& standing) {
  if (examinePath(path) == PathKind::Link) return false;
  HANDLE handle = CreateFileA(path.text(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return false;
    mapCreateError(code);
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  // Opening for writing is not refused for a read-only file everywhere (an
  // administrator may), but replacing one is.
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) mapCreateError(ERROR_ACCESS_DENIED);
  standing = identityOf(info);
  return true;
}

namespace {

// No access asked and every kind of sharing allowed: this succeeds even for
// a file that this process holds open for writing. `directory` asks for a
// directory (backup semantics) instead of a file.
bool queryIdentity(const FilePath& path, bool directory, FileIdentity& out) {
  if (path.empty()) return false;
  HANDLE handle = CreateFileA(path.text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING,
                              directory ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known || ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory) {
    return false;
  }
  out = identityOf(info);
  return true;
}

}  // namespace

bool queryFileIdentity(const FilePath& path, FileIdentity& out) {
  return queryIdentity(path, false, out);
}

bool queryDirectoryIdentity(const FilePath& path, FileIdentity& out) {
  return queryIdentity(path, true, out);
}

void FileReader::attach(const FileHandle& handle, uint32_t position) {
  handle_ = &handle;
  size_ = handle.size();
  position_ = position;
}

uint32_t FileReader::readAt(ByteRange range) {
  seekTo(handle_->handle(), position_);
  DWORD read = 0;
  if (!ReadFile(handle_->handle(), range.begin, static_cast<DWORD>(range.length()), &read,
                nullptr)) {
    mapReadError(GetLastError());
  }
  position_ += read;
  return read;
}

void FileReader::readSome(ByteRange& range) { range.begin += readAt(range); }

void FileReader::readExact(ByteRange range) {
  if (readAt(range) != range.length()) throw EndOfFileError();
}

void FileWriter::write(ConstByteRange range) {
  seekTo(handle_->handle(), position_);
  DWORD written = 0;
  DWORD length = static_cast<DWORD>(range.length());
  if (!WriteFile(handle_->handle(), range.begin, length, &written, nullptr)) {
    mapWriteError(GetLastError());
  }
  // The OS taking fewer bytes than asked means they are not on disk.
  if (written != length) throw DiskFullError();
  position_ += length;
}

void FileReadingLoop::start(uint8_t* bufferBegin, uint8_t* bufferEnd, const FileHandle& handle,
                            uint32_t position) {
  bufferBegin_ = bufferBegin;
  bufferEnd_ = bufferEnd;
  chunkEnd_ = bufferBegin;
  uint32_t size = handle.size();
  reader_.attach(handle, position);
  remaining_ = size - position;
  if (remaining_ != 0) fill();
}

void FileReadingLoop::start(uint8_t* bufferBegin, uint8_t* bufferEnd, const FileHandle& handle,
                            uint32_t position, uint32_t size) {
  bufferBegin_ = bufferBegin;
  bufferEnd_ = bufferEnd;
  chunkEnd_ = bufferBegin;
  reader_.attach(handle, position, size);
  remaining_ = size - position;
  if (remaining_ != 0) fill();
}

void FileReadingLoop::advance() {
  remaining_ -= static_cast<uint32_t>(chunkEnd_ - bufferBegin_);
  if (remaining_ != 0) fill();
}

void FileReadingLoop::fill() {
  if (reader_.atEnd()) throw FileReadingLoopEndOfFileError();
  std::size_t capacity = static_cast<std::size_t>(bufferEnd_ - bufferBegin_);
  std::size_t request = remaining_ < capacity ? remaining_ : capacity;
  ByteRange range{bufferBegin_, bufferBegin_ + request};
  reader_.readSome(range);
  chunkEnd_ = range.begin;
  // A file that shrank after the loop started gives nothing more; stop
  // instead of asking for ever.
  if (chunkEnd_ == bufferBegin_) throw FileReadingLoopEndOfFileError();
}

}  // namespace vna
