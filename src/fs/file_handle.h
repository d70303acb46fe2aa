// Open files: handles, the only road to file contents, and what the OS
// says about a file by its handle or by its name in a held directory. Every
// OS failure becomes an error class through the per-operation tables.
#pragma once

#include <cstdint>
#include <string>

#include "base/errors.h"
#include "fs/file_path.h"
#include "platform/held_directory.h"
#include "platform_api.h"

namespace vna {

// Positions are passed to the OS as signed 32-bit distances: no read or
// write can start at this position or beyond (FileSeekError). This is the
// 2 GiB limit on every file archived and on the archive itself, on every
// target, as the 32-bit Windows program has always had it.
constexpr uint32_t kFirstUnreachablePosition = 0x80000000u;

// The identity of an open file: same volume and same index means same file,
// whatever path spelled it.
struct FileIdentity {
  uint32_t volume = 0;
  uint32_t indexHigh = 0;
  uint32_t indexLow = 0;
  bool operator==(const FileIdentity& o) const {
    return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
  }
};

class FileHandle {
 public:
  FileHandle() = default;
  // Opens an existing file for reading (others may read too).
  explicit FileHandle(const FilePath& path) { open(path); }
  virtual ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Call once on a fresh object. Failure: the open table.
  void open(const FilePath& path);
  // Opens `name` in `directory` for reading: a regular file, following a
  // link to one; with `asItself`, a link there opens as the link itself
  // (isLink tells) and no data is reached through it. Returns the Win32
  // code of a failure, 0 on success; never throws.
  DWORD openIn(const platform::HeldDirectory& directory, const char* name, bool asItself);
  // Opens `name` in `directory` as a regular file, not a link, that no
  // other open holds locked, and takes its lock (kept until the handle is
  // closed): how a dead run's file is told from a live one's. False, with
  // nothing open, otherwise (ERROR_LOCK_VIOLATION when another open holds
  // the lock); never throws.
  bool openLocked(const platform::HeldDirectory& directory, const char* name);
  // The same, and the name still shows the file once this handle holds the
  // lock, so that none that another run settled meanwhile is taken.
  bool openLeftover(const platform::HeldDirectory& directory, const char* name);
  // Does nothing without a handle; always ends without one; reports failure.
  void close();
  // Makes what was written durable before the handle is closed; the write
  // table on failure.
  void flush();
  // Readies what was written for the next batch flush of its file system
  // (platform::prepareFlush); the write table on failure.
  void prepareFlush();
  // An exclusive lock on the whole file, kept until the handle is closed:
  // how a live run's file is told from a dead run's. Never waits: false at
  // once, with ERROR_LOCK_VIOLATION, when another open of the file holds
  // it; false on any other failure too. Never throws.
  bool tryLock();
  // Sets the position of the next read or write; FileSeekError at
  // kFirstUnreachablePosition or beyond.
  void seek(uint32_t position) const;
  // Low 32 bits of the size.
  uint32_t size() const;
  // The whole 64-bit size.
  uint64_t size64() const;
  // False when the OS cannot say.
  bool identity(FileIdentity& out) const;
  // True when the open file is a file on a disk, not a pipe or a device.
  bool isDiskFile() const;
  // True when the handle is a link opened as itself.
  bool isLink() const;
  // The path the OS reached the open file by, every link resolved, in the
  // OS's own form; empty when it cannot say.
  std::string finalPath() const;
  bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE handle() const { return handle_; }

 protected:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class WritableFileHandle : public FileHandle {
 public:
  WritableFileHandle() = default;
  // Creates a new file `name` in `directory`, read and write access, others
  // may read, only where nothing stands (no file, directory or link,
  // dangling or not): false, with nothing touched, when something does.
  // Other failures: the create table.
  bool createNew(const platform::HeldDirectory& directory, const char* name);
  // Locks the file this handle just created as `name` in `directory` and
  // tells whether it may be used. A run that removes killed runs' leftovers
  // takes an empty unlocked one for dead, and may hold it or have removed it
  // between the create and the lock; no other process may stall the run by
  // holding it either. False in those cases, with the handle closed and the
  // name removed when it may still be this file's: the caller takes another
  // name. Where the file system has no locks, the file is used unlocked.
  bool lockCreated(const platform::HeldDirectory& directory, const char* name);
  // The same for a file no other user may open (HeldDirectory::createPrivate).
  bool createPrivate(const platform::HeldDirectory& directory, const char* name);
  // Creates a new file in `directory` under a name no other file has
  // (~vna<process id>-<n><extension>, counting `next` up until one is
  // free); returns that name. The process id keeps the names of runs
  // apart, so a killed run's leftovers never make a later run fail.
  std::string createTemporaryIn(const platform::HeldDirectory& directory, unsigned& next,
                                const char* extension);
};

// Raises, without changing anything, the create table's error for what a
// new file could not replace at `name` in `directory`: a directory, a
// read-only file, or a file the OS will not let this process write.
// Nothing there, or a link, is fine (a link is replaced, not written
// through). When a file stands there, its identity goes to `standing` and
// true is returned.
bool checkReplaceable(const platform::HeldDirectory& directory, const char* name,
                      FileIdentity& standing);

// Looks up the identity of the file `name` in `directory`, a link there not
// followed, without reading it (so a file held open for writing can be
// asked too). False when there is no file or the OS cannot say.
bool queryFileIdentity(const platform::HeldDirectory& directory, const char* name,
                       FileIdentity& out);
// Whether `name` in `directory` is the file of `identity` now.
bool nameShows(const platform::HeldDirectory& directory, const char* name,
               const FileIdentity& identity);
// The identity of a held directory: two with one identity are the same
// directory.
bool queryDirectoryIdentity(const platform::HeldDirectory& directory, FileIdentity& out);
// The held directory as the OS resolves it, in the form
// `FileHandle::finalPath` gives; empty when it cannot say.
std::string finalDirectoryPath(const platform::HeldDirectory& directory);

}  // namespace vna
