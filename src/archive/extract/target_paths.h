// Where extraction may write: only below the target directory as the OS
// resolves paths, never through a link found below it, never to a device
// name where the platform has them, and never twice to one file in a run.
#pragma once

#include <string>
#include <vector>

#include "archive/extract/fingerprint_set.h"
#include "fs/file_path.h"
#include "fs/file_streams.h"

namespace vna {

// One entry's place: the path handed to the OS.
struct EntryTarget {
  FilePath path;
};

class TargetDirectory {
 public:
  explicit TargetDirectory(const FilePath& directory);
  const FilePath& path() const { return path_; }
  // True when `relative` joined to the directory is a path strictly below
  // it and names no device; fills `entry` either way.
  bool admits(const char* relative, EntryTarget& entry) const;
  // True when `relative` names the directory itself (".", ".\").
  bool isItself(const char* relative) const;

  // Holds every directory from the target down to `entry`'s parent, so that
  // what is then done at `entry` happens in those very directories however
  // another process renames things meanwhile. False when one of them is a
  // link (symbolic link, junction or other reparse point), or the target
  // itself could not be held: the entry must not be written. A directory
  // that is missing is left to the create, which fails as it always has.
  // The held directories are those on the path of the last entry; entries
  // come in tree order, so each directory is held once while its entries
  // are written.
  bool holdParentOf(const EntryTarget& entry);

  // Whether an earlier file entry of this run wrote the file of this
  // identity. Identity, not name: every name the file system gives one file
  // (letter case in the code page, short names, anything it folds) meets.
  bool writtenInThisRun(const FileIdentity& file) const;
  void rememberWritten(const FileIdentity& file);

 private:
  FilePath path_;
  std::string resolved_;
  // Where the names below the target start in a resolved path.
  std::size_t below_ = 0;
  // The target (first) and the directories held below it, each with the
  // length of its path's text: a prefix of the entry paths built on path_.
  struct HeldLevel {
    std::size_t end;
    HeldDirectory directory;
  };
  std::vector<HeldLevel> held_;
  std::string heldText_;
  FingerprintSet written_;
};

}  // namespace vna
