// Where extraction may write: only below the target directory as the OS
// resolves paths, never through a link found below it, never to a device
// name where the platform has them.
#pragma once

#include <string>
#include <vector>

#include "fs/file_path.h"
#include "fs/file_handle.h"

namespace vna {

// One entry's place: its path below the target, whether the entry is a
// directory and, once its parent is held, its name in that parent.
struct EntryTarget {
  FilePath path;
  bool directory = false;
  std::string leaf;
};

class TargetDirectory {
 public:
  explicit TargetDirectory(const FilePath& directory);
  // True when `relative` joined to the directory is a path strictly below
  // it and names no device; fills `entry` either way.
  bool admits(const char* relative, EntryTarget& entry) const;
  // True when `relative` names the directory itself (".", ".\").
  bool isItself(const char* relative) const;

  enum class Parent { Held, Refused, Missing };
  struct HeldParent {
    Parent outcome;
    // The entry's parent when Held, else null; valid until the next call.
    const platform::HeldDirectory* directory;
  };
  // Holds every directory from the target down to `entry`'s parent, sets
  // `entry.leaf` and returns that parent, so that what is then done through
  // it happens in those very directories however another process renames
  // things meanwhile. Refused when one of them is a link (symbolic link,
  // junction or other reparse point) or the target itself could not be
  // held: the entry must not be written. Missing when a directory on the
  // way is not there (or is not a directory). The held directories are
  // those on the path of the last entry; entries come in tree order, so each
  // directory is held once while its entries are written.
  HeldParent holdParentOf(EntryTarget& entry);
  // Holds the target directory itself, if not yet held; false when it
  // cannot be.
  bool holdTarget();
  // `entry`'s path below the target (an `admits` result), with the
  // platform's separator: what `admits` takes back.
  std::string relativeText(const EntryTarget& entry) const;
  // The directories held now, the target first, each with its path below
  // the target ("" for the target, else names joined by the platform's
  // separator).
  std::size_t levels() const { return held_.size(); }
  // How many directories were held so far: unchanged means the levels are
  // the ones seen before.
  unsigned long holds() const { return holds_; }
  const platform::HeldDirectory& level(std::size_t i) const { return held_[i].directory; }
  std::string levelPath(std::size_t i) const;
  // Makes durable everything the run wrote and moved below the target, on
  // every file system a directory held so far lies on (see
  // HeldDirectory::flushWritten); the FileIOError family on failure.
  // Nothing to do where nothing was held.
  void flushWritten() const;
  // The target directory itself, held by `holdTarget` or the first
  // `holdParentOf`.
  const platform::HeldDirectory& target() const { return held_.front().directory; }

 private:
  FilePath path_;
  std::string resolved_;
  // Where the names below the target start in a resolved path.
  std::size_t below_ = 0;
  // The target (first) and the directories held below it, each with the
  // length of its path's text: a prefix of the entry paths built on path_.
  struct HeldLevel {
    std::size_t end;
    platform::HeldDirectory directory;
  };
  std::vector<HeldLevel> held_;
  unsigned long holds_ = 0;
  std::string heldText_;
  // One directory held on each file system met, to flush them all.
  struct Device {
    uint32_t volume;
    platform::HeldDirectory directory;
  };
  std::vector<Device> devices_;
  void noteDevice(const platform::HeldDirectory& parent, const std::string& name,
                  const platform::HeldDirectory& level);
};

}  // namespace vna
