#include "archive/extract/target_directory.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "archive/names/entry_names.h"
#include "fs/error_tables.h"
#include "fs/fs_ops.h"
#include "platform_api.h"

namespace vna {

TargetDirectory::TargetDirectory(const FilePath& directory)
    : path_(directory), resolved_(resolvedPath(directory)) {
  // A root keeps its separator ("/", "D:\"); any other directory loses it.
  while (resolved_.size() > 1 && isSeparator(resolved_.back()) &&
         !isSeparator(resolved_[resolved_.size() - 2]) && resolved_[resolved_.size() - 2] != ':') {
    resolved_.pop_back();
  }
  below_ = !resolved_.empty() && isSeparator(resolved_.back()) ? resolved_.size()
                                                                : resolved_.size() + 1;
}

bool TargetDirectory::admits(const char* relative, EntryTarget& entry) const {
  entry.path = FilePath(path_, relative);
  if (platform::kWindowsPaths && holdsReservedDeviceName(relative)) return false;
  if (resolved_.empty()) return false;
  std::string full = resolvedPath(entry.path);
  return full.size() > below_ && full.compare(0, resolved_.size(), resolved_) == 0 &&
         isSeparator(full[below_ - 1]);
}

bool TargetDirectory::isItself(const char* relative) const {
  std::string full = resolvedPath(FilePath(path_, relative));
  while (full.size() > resolved_.size() && isSeparator(full.back())) full.pop_back();
  return !resolved_.empty() && full == resolved_;
}

bool TargetDirectory::holdTarget() {
  if (!held_.empty()) return true;
  // The target is the directory the OS resolves its path to, links
  // included: the user named it.
  platform::HeldDirectory target;
  if (target.hold(path_.text()) != platform::HeldDirectory::Outcome::Held) return false;
  FileIdentity identity;
  if (queryDirectoryIdentity(target, identity)) {
    devices_.push_back(Device{identity.volume, platform::HeldDirectory()});
  }
  held_.push_back(HeldLevel{path_.length(), std::move(target)});
  ++holds_;
  heldText_ = path_.text();
  return true;
}

std::string TargetDirectory::relativeText(const EntryTarget& entry) const {
  std::string text(entry.path.text());
  // A root target ("/", "D:\\") already ends in its separator.
  std::size_t start = path_.length();
  if (start < text.size() && isSeparator(text[start])) ++start;
  text.erase(0, start);
  const char separator = platform::kWindowsPaths ? '\\' : '/';
  for (char& c : text) {
    if (isSeparator(c)) c = separator;
  }
  return text;
}

TargetDirectory::HeldParent TargetDirectory::holdParentOf(EntryTarget& entry) {
  using platform::HeldDirectory;
  const std::string& text = entry.path.text();
  if (!holdTarget()) return HeldParent{Parent::Refused, nullptr};
  std::size_t base = held_.front().end;
  if (text.size() <= base || text.compare(0, base, heldText_, 0, base) != 0) {
    return HeldParent{Parent::Refused, nullptr};
  }
  // The leaf is the last component, trailing separators aside (a directory
  // entry's name ends with one); the parent is everything before it.
  // A directory's name may end in "." components ("a\.\"), which name the
  // directory before them; for a file, "." is no name to create.
  std::size_t leafEnd = text.size();
  for (;;) {
    while (leafEnd > base && isSeparator(text[leafEnd - 1])) --leafEnd;
    if (!entry.directory || leafEnd - base < 2 || text[leafEnd - 1] != '.' ||
        !isSeparator(text[leafEnd - 2])) {
      break;
    }
    --leafEnd;
  }
  std::size_t parentEnd = leafEnd;
  while (parentEnd > base && !isSeparator(text[parentEnd - 1])) --parentEnd;
  entry.leaf.assign(text, parentEnd, leafEnd - parentEnd);
  while (parentEnd > base && isSeparator(text[parentEnd - 1])) --parentEnd;
  // Keep the levels that are on the way to this parent.
  while (held_.size() > 1) {
    std::size_t end = held_.back().end;
    if (end <= parentEnd && (end == parentEnd || isSeparator(text[end])) &&
        text.compare(base, end - base, heldText_, base, end - base) == 0) {
      break;
    }
    held_.pop_back();
  }
  // Hold the rest from the top down, each in the one before.
  std::size_t at = held_.back().end;
  while (at < parentEnd) {
    while (at < parentEnd && isSeparator(text[at])) ++at;
    std::size_t end = at;
    while (end < parentEnd && !isSeparator(text[end])) ++end;
    if (end == at) break;
    if (!(end - at == 1 && text[at] == '.')) {
      HeldDirectory level;
      std::string name = text.substr(at, end - at);
      HeldDirectory::Outcome outcome = level.holdIn(held_.back().directory, name.c_str());
      if (outcome == HeldDirectory::Outcome::Link) return HeldParent{Parent::Refused, nullptr};
      if (outcome == HeldDirectory::Outcome::Absent) return HeldParent{Parent::Missing, nullptr};
      noteDevice(held_.back().directory, name, level);
      held_.push_back(HeldLevel{end, std::move(level)});
      ++holds_;
      heldText_.replace(base, std::string::npos, text, base, end - base);
    }
    at = end;
  }
  return HeldParent{Parent::Held, &held_.back().directory};
}

std::string TargetDirectory::levelPath(std::size_t i) const {
  std::size_t base = held_.front().end;
  std::size_t end = held_[i].end;
  std::string text;
  for (std::size_t at = base; at < end; ++at) {
    if (!isSeparator(heldText_[at])) {
      text.push_back(heldText_[at]);
    } else if (!text.empty() && !isSeparator(text.back())) {
      text.push_back(platform::kWindowsPaths ? '\\' : '/');
    }
  }
  while (!text.empty() && isSeparator(text.back())) text.pop_back();
  return text;
}

void TargetDirectory::noteDevice(const platform::HeldDirectory& parent, const std::string& name,
                                 const platform::HeldDirectory& level) {
  FileIdentity identity;
  if (!queryDirectoryIdentity(level, identity)) return;
  for (const Device& device : devices_) {
    if (device.volume == identity.volume) return;
  }
  // A second hold of the level, kept to the end of the run: the level
  // itself is let go when the entries move on.
  Device device{identity.volume, platform::HeldDirectory()};
  if (device.directory.holdIn(parent, name.c_str()) == platform::HeldDirectory::Outcome::Held) {
    devices_.push_back(std::move(device));
  }
}

void TargetDirectory::flushWritten() const {
  if (held_.empty()) return;
  if (!held_.front().directory.flushWritten()) raiseFileSystemError(GetLastError());
  // The target's own file system is the first; each other one met below it
  // has its own hold.
  for (const Device& device : devices_) {
    if (device.directory.isHeld() && !device.directory.flushWritten()) {
      raiseFileSystemError(GetLastError());
    }
  }
}

}  // namespace vna
