#include <gtest/gtest.h>

#include "fs/error_tables.h"
#include "base/errors.h"
#include "platform_api.h"
#include "fs/fs_ops.h"
#include "sandbox.h"

namespace vna {
namespace {

using test::Sandbox;

TEST(EnsureDirectory, CreatesOneLevelAndAcceptsExistingDirectories) {
  Sandbox box;
  ensureDirectory(box.path("new"));
  EXPECT_TRUE(test::isDirectory(box.path("new")));
  test::writeFile(box.path("new\\keep.txt"), "k");
  test::setReadOnly(box.path("new"), true);
  EXPECT_NO_THROW(ensureDirectory(box.path("new")));
  test::setReadOnly(box.path("new"), false);
  EXPECT_EQ(test::readFile(box.path("new\\keep.txt")), "k");
}

TEST(EnsureDirectory, RefusesFilesMissingParentsAndEmptyPaths) {
  Sandbox box;
  test::writeFile(box.path("file"), "f");
  EXPECT_THROW(ensureDirectory(box.path("file")), DirectoryNotFoundError);
  EXPECT_EQ(test::readFile(box.path("file")), "f");
  EXPECT_THROW(ensureDirectory(box.path("a\\b")), DirectoryNotFoundError);
  EXPECT_THROW(ensureDirectory(FilePath()), DirectoryNotFoundError);
}

enum class Kind { None, Plain, NotFound, DirNotFound, Permission, Lock, DiskFull, FileFound, Seek, Eof };

Kind classify(void (*map)(uint32_t), uint32_t code, uint32_t* carried) {
  try {
    map(code);
    return Kind::None;
  } catch (const FileNotFoundError&) {
    return Kind::NotFound;
  } catch (const DirectoryNotFoundError&) {
    return Kind::DirNotFound;
  } catch (const FilePermissionError&) {
    return Kind::Permission;
  } catch (const FileLockError&) {
    return Kind::Lock;
  } catch (const DiskFullError&) {
    return Kind::DiskFull;
  } catch (const FileFoundError&) {
    return Kind::FileFound;
  } catch (const FileSeekError&) {
    return Kind::Seek;
  } catch (const EndOfFileError&) {
    return Kind::Eof;
  } catch (const FileIOError& e) {
    *carried = e.code();
    return Kind::Plain;
  }
}

struct MappingCase {
  const char* table;
  void (*map)(uint32_t);
  uint32_t code;
  Kind kind;
  uint32_t carried;  // for Kind::Plain
};

TEST(ErrorTables, EachOperationHasItsOwnMapping) {
  const MappingCase cases[] = {
      {"fs", raiseFileSystemError, ERROR_SUCCESS, Kind::None, 0},
      {"fs", raiseFileSystemError, ERROR_HANDLE_EOF, Kind::None, 0},
      {"fs", raiseFileSystemError, ERROR_SHARING_VIOLATION, Kind::Plain, ERROR_SHARING_VIOLATION},
      {"fs", raiseFileSystemError, ERROR_ALREADY_EXISTS, Kind::Permission, 0},
      {"fs", raiseFileSystemError, ERROR_PATH_NOT_FOUND, Kind::DirNotFound, 0},
      {"fs", raiseFileSystemError, ERROR_DISK_FULL, Kind::DiskFull, 0},
      {"read", mapReadError, ERROR_SHARING_VIOLATION, Kind::Permission, 0},
      {"read", mapReadError, ERROR_HANDLE_EOF, Kind::Eof, 0},
      {"read", mapReadError, ERROR_READ_FAULT, Kind::Seek, 0},
      {"read", mapReadError, ERROR_FILE_NOT_FOUND, Kind::Plain, ERROR_FILE_NOT_FOUND},
      {"open", mapOpenError, ERROR_SHARING_VIOLATION, Kind::Plain, ERROR_SHARING_VIOLATION},
      {"open", mapOpenError, ERROR_HANDLE_EOF, Kind::Plain, ERROR_HANDLE_EOF},
      {"open", mapOpenError, ERROR_ALREADY_EXISTS, Kind::Permission, 0},
      {"open", mapOpenError, ERROR_FILE_NOT_FOUND, Kind::NotFound, 0},
      {"open", mapOpenError, ERROR_SUCCESS, Kind::None, 0},
      {"write", mapWriteError, ERROR_LOCK_VIOLATION, Kind::Permission, 0},
      {"write", mapWriteError, ERROR_DISK_FULL, Kind::DiskFull, 0},
      {"write", mapWriteError, ERROR_ACCESS_DENIED, Kind::Plain, 0},
      {"write", mapWriteError, ERROR_HANDLE_EOF, Kind::Eof, 0},
      {"create", mapCreateError, ERROR_ALREADY_EXISTS, Kind::FileFound, 0},
      {"create", mapCreateError, ERROR_FILE_EXISTS, Kind::FileFound, 0},
      {"create", mapCreateError, ERROR_ACCESS_DENIED, Kind::Permission, 0},
      {"create", mapCreateError, ERROR_LOCK_VIOLATION, Kind::Lock, 0},
      {"create", mapCreateError, ERROR_SHARING_VIOLATION, Kind::Plain, 0},
      {"create", mapCreateError, ERROR_FILENAME_EXCED_RANGE, Kind::DirNotFound, 0},
  };
  for (const MappingCase& c : cases) {
    uint32_t carried = 12345;
    Kind kind = classify(c.map, c.code, &carried);
    EXPECT_EQ(kind, c.kind) << c.table << " " << c.code;
    if (c.kind == Kind::Plain) {
      EXPECT_EQ(carried, c.carried) << c.table << " " << c.code;
    }
  }
}

}  // namespace
}  // namespace vna
