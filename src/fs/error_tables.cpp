#include "fs/error_tables.h"

#include <initializer_list>

#include "base/errors.h"
#include "platform_api.h"

namespace vna {

namespace {

enum class Raise {
  Nothing,
  NotFound,
  DirectoryNotFound,
  Permission,
  Lock,
  DiskFull,
  FileFound,
  Seek,
  EndOfFile,
};

struct Row {
  Raise raise;
  std::initializer_list<uint32_t> codes;
};

const std::initializer_list<uint32_t> kNotFound = {ERROR_FILE_NOT_FOUND, ERROR_INVALID_HANDLE,
                                                   ERROR_NO_MORE_FILES, ERROR_DISK_CHANGE};
const std::initializer_list<uint32_t> kDirectoryNotFound = {ERROR_PATH_NOT_FOUND,
                                                            ERROR_INVALID_DRIVE,
                                                            ERROR_NOT_SAME_DEVICE,
                                                            ERROR_WRONG_DISK,
                                                            ERROR_DUP_NAME,
                                                            ERROR_BAD_NETPATH,
                                                            ERROR_DEV_NOT_EXIST,
                                                            ERROR_BAD_NET_NAME,
                                                            ERROR_SHARING_PAUSED,
                                                            ERROR_ALREADY_ASSIGNED,
                                                            ERROR_BUFFER_OVERFLOW,
                                                            ERROR_INVALID_NAME,
                                                            ERROR_INVALID_LEVEL,
                                                            ERROR_NO_VOLUME_LABEL,
                                                            ERROR_DIR_NOT_ROOT,
                                                            ERROR_LABEL_TOO_LONG,
                                                            ERROR_BAD_PATHNAME,
                                                            ERROR_FILENAME_EXCED_RANGE,
                                                            ERROR_META_EXPANSION_TOO_LONG,
                                                            ERROR_DIRECTORY};
const std::initializer_list<uint32_t> kPermission = {
    ERROR_ACCESS_DENIED, ERROR_INVALID_ACCESS, ERROR_WRITE_PROTECT,   ERROR_WRITE_FAULT,
    ERROR_NETWORK_BUSY,  ERROR_BAD_NET_RESP,   ERROR_NETNAME_DELETED, ERROR_NETWORK_ACCESS_DENIED,
    ERROR_REQ_NOT_ACCEP, ERROR_FILE_EXISTS,    ERROR_CANNOT_MAKE,     ERROR_INVALID_PASSWORD,
    ERROR_BUSY,          ERROR_ALREADY_EXISTS, ERROR_SWAPERROR};
const std::initializer_list<uint32_t> kSeek = {ERROR_BAD_LENGTH,       ERROR_SEEK,
                                               ERROR_SECTOR_NOT_FOUND, ERROR_READ_FAULT,
                                               ERROR_NEGATIVE_SEEK,    ERROR_SEEK_ON_DEVICE};
const std::initializer_list<uint32_t> kLock = {ERROR_LOCK_VIOLATION, ERROR_DRIVE_LOCKED,
                                               ERROR_LOCK_FAILED};
const std::initializer_list<uint32_t> kDiskFull = {ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL};

[[noreturn]] void raise(Raise what, uint32_t unlistedCode) {
  switch (what) {
    case Raise::NotFound:
      throw FileNotFoundError();
    case Raise::DirectoryNotFound:
      throw DirectoryNotFoundError();
    case Raise::Permission:
      throw FilePermissionError();
    case Raise::Lock:
      throw FileLockError();
    case Raise::DiskFull:
      throw DiskFullError();
    case Raise::FileFound:
      throw FileFoundError();
    case Raise::Seek:
      throw FileSeekError();
    case Raise::EndOfFile:
      throw EndOfFileError();
    case Raise::Nothing:
      break;
  }
  throw FileIOError(unlistedCode);
}

void apply(uint32_t code, std::initializer_list<Row> table, bool unlistedCarriesCode) {
  for (const Row& row : table) {
    for (uint32_t listed : row.codes) {
      if (listed != code) continue;
      if (row.raise == Raise::Nothing) return;
      raise(row.raise, 0);
    }
  }
  raise(Raise::Nothing, unlistedCarriesCode ? code : 0);
}

}  // namespace

void mapReadError(uint32_t code) {
  if (code == 0) return;
  apply(code,
        {{Raise::Permission, kPermission},
         {Raise::Permission, {ERROR_SHARING_VIOLATION}},
         {Raise::Seek, kSeek},
         {Raise::Lock, kLock},
         {Raise::EndOfFile, {ERROR_HANDLE_EOF}}},
        true);
}

void mapOpenError(uint32_t code) {
  if (code == 0) return;
  apply(code,
        {{Raise::NotFound, kNotFound},
         {Raise::DirectoryNotFound, kDirectoryNotFound},
         {Raise::Permission, kPermission},
         {Raise::Lock, kLock},
         {Raise::DiskFull, kDiskFull}},
        true);
}

void mapWriteError(uint32_t code) {
  if (code == 0) return;
  apply(code,
        {{Raise::Seek, kSeek},
         {Raise::Permission,
          {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_DRIVE_LOCKED, ERROR_LOCK_FAILED}},
         {Raise::EndOfFile, {ERROR_HANDLE_EOF}},
         {Raise::DiskFull, kDiskFull}},
        false);
}

void mapCreateError(uint32_t code) {
  if (code == 0) return;
  apply(code,
        {{Raise::NotFound, kNotFound},
         {Raise::DirectoryNotFound, kDirectoryNotFound},
         // The first row that lists a code decides: creating, a file in the
         // way is found, not a permission refused.
         {Raise::FileFound, {ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS}},
         {Raise::Permission, kPermission},
         {Raise::Lock, kLock},
         {Raise::DiskFull, kDiskFull}},
        false);
}

void raiseFileSystemError(uint32_t code) {
  apply(code,
        {{Raise::Nothing, {ERROR_SUCCESS, ERROR_HANDLE_EOF}},
         {Raise::NotFound, kNotFound},
         {Raise::DirectoryNotFound, kDirectoryNotFound},
         {Raise::Permission, kPermission},
         {Raise::Seek, kSeek},
         {Raise::Lock, kLock},
         {Raise::DiskFull, kDiskFull}},
        true);
}

}  // namespace vna
