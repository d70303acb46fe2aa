#include "fs/error_tables.h"

#include <initializer_list>

#include "fs/errors.h"

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

const std::initializer_list<uint32_t> kNotFound = {2, 6, 18, 107};
const std::initializer_list<uint32_t> kDirectoryNotFound = {
    3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267};
const std::initializer_list<uint32_t> kPermission = {5,  12, 19, 29, 54, 58,  64,  65,
                                                     71, 80, 82, 86, 170, 183, 999};
const std::initializer_list<uint32_t> kSeek = {24, 25, 27, 30, 131, 132};
const std::initializer_list<uint32_t> kLock = {33, 108, 167};
const std::initializer_list<uint32_t> kDiskFull = {39, 112};

[[noreturn]] void raise(Raise what, uint32_t unlistedCode) {
  switch (what) {
    case Raise::NotFound: throw FileNotFoundError();
    case Raise::DirectoryNotFound: throw DirectoryNotFoundError();
    case Raise::Permission: throw FilePermissionError();
    case Raise::Lock: throw FileLockError();
    case Raise::DiskFull: throw DiskFullError();
    case Raise::FileFound: throw FileFoundError();
    case Raise::Seek: throw FileSeekError();
    case Raise::EndOfFile: throw EndOfFileError();
    case Raise::Nothing: break;
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
        {{Raise::Permission, {5, 12, 19, 29, 32, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
         {Raise::Seek, kSeek},
         {Raise::Lock, kLock},
         {Raise::EndOfFile, {38}}},
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
         {Raise::Permission, {32, 33, 108, 167}},
         {Raise::EndOfFile, {38}},
         {Raise::DiskFull, kDiskFull}},
        false);
}

void mapCreateError(uint32_t code) {
  if (code == 0) return;
  apply(code,
        {{Raise::NotFound, kNotFound},
         {Raise::DirectoryNotFound, kDirectoryNotFound},
         {Raise::Permission, {5, 12, 19, 29, 54, 58, 64, 65, 71, 82, 86, 170, 999}},
         {Raise::Lock, kLock},
         {Raise::DiskFull, kDiskFull},
         {Raise::FileFound, {80, 183}}},
        false);
}

void raiseFileSystemError(uint32_t code) {
  apply(code,
        {{Raise::Nothing, {0, 38}},
         {Raise::NotFound, kNotFound},
         {Raise::DirectoryNotFound, kDirectoryNotFound},
         {Raise::Permission, kPermission},
         {Raise::Seek, kSeek},
         {Raise::Lock, kLock},
         {Raise::DiskFull, kDiskFull}},
        true);
}

}  // namespace vna
