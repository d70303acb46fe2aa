// What stands at a path, as the OS find service reports it, and the
// enumeration of one directory.
#pragma once

#include <cstdint>
#include <memory>

#include "fs/file_path.h"
#include "platform/held_directory.h"
#include "platform_api.h"

namespace vna {

class FileItem {
 public:
  FileItem() = default;

  // The queries below throw FileItemError unless the last lookup found the item.
  bool isFile() const;       // anything that is not a directory
  bool isDirectory() const;  // directory bit set, name neither "." nor ".."
  // A name surrogate: a symbolic link or junction, whatever it leads to
  // (isDirectory tells whether that is a directory), or nothing.
  bool isLink() const;
  // Neither a file with data nor a directory: a FIFO, socket or device.
  bool isDevice() const;
  const char* fileName() const;
  uint64_t size() const;
  // Microseconds since 1970-01-01 UTC, FAT-corrected where the volume is FAT.
  int64_t modificationTime() const;
  const FilePath& path() const { return path_; }
  bool found() const { return found_; }

 private:
  friend class DirectoryIterator;
  void requireFound() const;

  WIN32_FIND_DATAA record_{};
  FilePath path_;
  bool found_ = false;
};

// "." or "..", the names a listing gives its directory and its parent.
bool isDotName(const char* name);

// Walks one held directory, "." and ".." included, in the OS's order; each
// item's path is the directory's path text and the entry's name.
class DirectoryIterator {
 public:
  DirectoryIterator();
  ~DirectoryIterator();
  DirectoryIterator(const DirectoryIterator&) = delete;
  DirectoryIterator& operator=(const DirectoryIterator&) = delete;

  // Starts an enumeration (closing any open one). A directory that cannot be
  // enumerated leaves the iterator invalid; nothing is raised.
  void open(const platform::HeldDirectory& directory);
  // Only the names that match `pattern` (HeldDirectory::findFirst).
  void open(const platform::HeldDirectory& directory, const char* pattern);
  bool isValid() const { return find_ != INVALID_HANDLE_VALUE; }
  void next();
  const FileItem& item() const { return item_; }
  // True when this enumeration dropped something: the directory could not be
  // listed, an entry's full path did not fit the path buffer, an entry's
  // name cannot be held exactly in the ANSI code page (the listing reads
  // names in UTF-16; a name the code page would only approximate, by best
  // fit or "?", would reach another file or none), or the listing ended
  // with an error.
  bool skippedEntries() const { return skipped_; }

 private:
  void close();
  // Converts the wide record into the item's and puts its name after the
  // prefix; false when the name cannot be held or does not fit.
  bool placeName();

  std::unique_ptr<char[]> buffer_;
  std::size_t prefixLength_ = 0;
  HANDLE find_ = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW wide_{};
  FileItem item_;
  bool skipped_ = false;
};

// Microseconds since 1970 UTC of an OS file time; `onFat` applies the FAT
// correction (the zone bias in force now is taken back out).
int64_t fileTimeToMicroseconds(FILETIME time, bool onFat);
bool isOnFatVolume(const char* path);

struct ZoneInformation {
  DWORD code;
  const TIME_ZONE_INFORMATION& record;
};
// Asked of the OS once per process.
ZoneInformation timeZoneInformation();

// The arithmetic behind the two functions above, with the zone passed in:
// the tests give it the standard and the daylight state, which the
// machine's own zone (UTC under the test suite) never reaches.
int64_t zoneBiasSeconds(DWORD code, const TIME_ZONE_INFORMATION& zone);
int64_t fatCorrectedMicroseconds(int64_t utcMicroseconds, DWORD code,
                                 const TIME_ZONE_INFORMATION& zone);

}  // namespace vna
