// Where extraction may write: only below the target directory as the OS
// resolves paths, never through a link found below it, never to a device
// name where the platform has them, and never twice to one file in a run.
#pragma once

#include <string>
#include <unordered_set>

#include "archive/fingerprint_set.h"
#include "fs/file_path.h"

namespace vna {

// True for CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (and COM, LPT with a
// superscript 1, 2 or 3) in any letter case, alone or with an extension (trailing blanks before it ignored).
bool isReservedDeviceName(const char* begin, const char* end);
// True when a component of `relative` is a reserved device name.
bool holdsReservedDeviceName(const char* relative);

// One entry's place: the path handed to the OS and its resolved form.
struct EntryTarget {
  FilePath path;
  std::string resolved;
};

class TargetDirectory {
 public:
  explicit TargetDirectory(const FilePath& directory);
  const FilePath& path() const { return path_; }
  // True when `relative` joined to the directory is a path strictly below
  // it and names no device; fills `entry` either way (its resolved form
  // only when admitted).
  bool admits(const char* relative, EntryTarget& entry) const;
  // True when `relative` names the directory itself (".", ".\").
  bool isItself(const char* relative) const;

  // False when a directory between the target and `entry` is a link
  // (symbolic link, junction or other reparse point). Each directory is
  // looked at once per run; missing ones are left to the create, which
  // fails as it always has.
  bool reachableWithoutLinks(const EntryTarget& entry);
  // `entry` is a real directory now (made or found by this run).
  void rememberDirectory(const EntryTarget& entry);

  // Whether an earlier file entry of this run wrote `entry`, compared as the
  // OS compares names (letter case ignored on Windows).
  bool writtenInThisRun(const EntryTarget& entry) const;
  void rememberWritten(const EntryTarget& entry);

 private:
  std::string keyOf(const std::string& resolved, std::size_t length) const;

  FilePath path_;
  std::string resolved_;
  // Where the names below the target start in a resolved path.
  std::size_t below_ = 0;
  // Directories below the target known to be real ones: exact keys, since
  // a fingerprint collision here would let a link pass.
  std::unordered_set<std::string> realDirectories_;
  // The resolved parent of the last entry found real, spelled as resolved.
  std::string lastParent_;
  FingerprintSet written_;
};

}  // namespace vna
