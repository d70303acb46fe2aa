// A directory held open, and the only road to what stands directly in it:
// the seam's directory capability, after Go's os.Root and cap-std's Dir.
//
// Every operation takes one name in the directory, never a path: a name
// that is empty, "." or "..", or holds "\" or "/", is refused with
// ERROR_INVALID_NAME, so nothing reached through a held directory lies
// anywhere but in it. A deeper level is reached by holding each directory
// on the way with `holdIn`, which refuses a link (symbolic link, junction,
// any reparse point).
//
// While a directory is held, another process cannot make a later operation
// act elsewhere:
// - Windows: the directory is open with backup semantics, listing access
//   and no delete sharing, so Windows refuses to rename or remove it, and the
//   path text below it that the Win32 calls are given names what was held;
// - POSIX: each operation is an *at call on the held descriptor that does
//   not follow a link at the name (or, where it must follow one, opens the
//   file without effects first and asks what it is), so a directory renamed
//   away and replaced by a link is never reached; the descriptor follows the
//   directory, not its name.
//
// Results and errors are Win32's: handles are the seam's HANDLEs (read,
// written, asked and closed with the usual calls), failures set the Win32
// code that GetLastError returns.
#pragma once

#include <cstdint>
#include <string>

#include "platform_api.h"

namespace vna::platform {

// What tells an open file from every other file that had, or will have, its
// identity: its creation time (a freed and reused file index brings a new
// one) and whether it is the user's own.
struct FileOrigin {
  // The creation time in 100 ns units, or 0 where the file system keeps
  // none.
  uint64_t birth = 0;
  // Owned by the effective user (POSIX); always so on Windows, where
  // kernel32 cannot name an owner.
  bool ownedByUser = false;
  // No other user may open it: mode 0600 exactly (POSIX); always so on
  // Windows, where the file takes its directory's permissions.
  bool privateMode = false;
};

class HeldDirectory {
 public:
  enum class Outcome { Held, Link, Absent };

  HeldDirectory() = default;
  ~HeldDirectory() { release(); }
  HeldDirectory(HeldDirectory&& other) noexcept;
  HeldDirectory& operator=(HeldDirectory&& other) noexcept;
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;

  // Holds the directory at `path` as the OS resolves it, links included
  // (the user named it). Absent: nothing there, not a directory, or the OS
  // refused.
  Outcome hold(LPCSTR path);
  // Holds the directory `name` of `parent`. Link when a link stands at the
  // name (nothing is held), Absent as for `hold` or for a refused name.
  Outcome holdIn(const HeldDirectory& parent, LPCSTR name);
  void release();
  bool isHeld() const { return handle_ != INVALID_HANDLE_VALUE; }
  // The text this directory was reached by: the held path, then "\" and
  // each name held in. For messages and time queries; never used to find
  // anything on POSIX.
  const std::string& path() const { return path_; }
  // The directory's own handle, for GetFileInformationByHandle and
  // GetFinalPathNameByHandleA. Owned by this object.
  HANDLE handle() const { return handle_; }

  // CreateFileA on `name`, with its access, sharing, disposition and flags.
  // A link at the name is never written through, nor created over.
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link as itself (its handle shows
  // FILE_ATTRIBUTE_REPARSE_POINT); without it, an open for reading follows
  // a link. Only a regular file opens with data access: a FIFO, socket or
  // device at the name, or reached through a link, is refused
  // (ERROR_ACCESS_DENIED) without being opened where the OS allows that.
  HANDLE createFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags) const;
  // A new file `name` for reading and writing, shared for reading, that no
  // other user may open: POSIX creates it with mode 0600; on Windows it
  // takes the directory's inherited permissions, as kernel32 alone cannot
  // ask for less. Refuses anything standing at the name, as CREATE_NEW.
  HANDLE createPrivate(LPCSTR name) const;
  // GetFileAttributesA of the name itself: a link shows as
  // FILE_ATTRIBUTE_REPARSE_POINT (plus FILE_ATTRIBUTE_DIRECTORY when it
  // leads to one).
  DWORD getAttributes(LPCSTR name) const;
  // What GetFileInformationByHandle and queryOrigin would answer for `name`
  // opened as itself (a link is not followed), asked without opening it
  // where the OS allows that. FALSE with the Win32 error otherwise
  // (ERROR_FILE_NOT_FOUND when nothing stands there).
  BOOL describe(LPCSTR name, BY_HANDLE_FILE_INFORMATION* info, FileOrigin* origin) const;
  BOOL createDirectory(LPCSTR name) const;
  // The empty directory `name`; ERROR_DIRECTORY when it is not one.
  BOOL removeDirectory(LPCSTR name) const;
  // The file or link `name` (the link itself, whatever it leads to).
  BOOL deleteFile(LPCSTR name) const;
  // Renames the file `from` over `to` in one step: `to` is always either the
  // old file or the whole new one, and the old file's other names (hard
  // links) keep their content and their attributes. A directory at `to` is
  // refused (ERROR_ACCESS_DENIED). A read-only file at `to` is replaced too
  // (on Windows, where the move refuses one, its attributes are cleared
  // first and put back if the move fails). On Windows the move is written
  // through; on POSIX `flushWritten` after the moves makes them durable.
  BOOL replaceFile(LPCSTR from, LPCSTR to) const;
  // Makes durable what this process wrote and renamed on the directory's
  // file system, in one batch where the OS has one (POSIX: syncfs). On
  // Windows there is no such batch: a file is made durable by
  // `prepareFlush`, a move by `replaceFile` itself, and files created in
  // place are not flushed one by one.
  BOOL flushWritten() const;
  // Makes durable the names created and removed in this directory so far,
  // so that a file made after this call never outlives, in a power cut, one
  // made before it. POSIX: fsync of the directory; Windows keeps names in
  // its file system's log, in order: nothing to do.
  BOOL flushNames() const;
  // Lists the directory as FindFirstFileW lists "dir\*.*" ("." and ".."
  // included), or only the names that match `pattern` ("*" any run of
  // characters, "?" any one; Windows also tries each short name);
  // continue with FindNextFileW, end with FindClose.
  HANDLE findFirst(LPWIN32_FIND_DATAW data, LPCSTR pattern = "*.*") const;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::string path_;
};

// Readies the open file for the next `flushWritten`: once that returns, the
// file's data is durable too. Windows, which has no batch, flushes the file
// now; POSIX leaves it to the batch, which covers every file.
BOOL prepareFlush(HANDLE file);

// The origin of the open file `file` (any handle, also one without data
// access); FALSE with the error set when the OS cannot say.
BOOL queryOrigin(HANDLE file, FileOrigin* out);

// Whether `name` may be given to a held directory: one component, neither
// empty nor "." nor "..", without "\" or "/".
bool isPlainName(LPCSTR name);

}  // namespace vna::platform
