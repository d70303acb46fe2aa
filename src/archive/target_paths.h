// Where extraction may write: only below the target directory as the OS
// resolves paths, and never to a device name where the platform has them.
#pragma once

#include <string>

#include "file_path.h"

namespace vna {

// True for CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 in any letter case,
// alone or with an extension (trailing blanks before it ignored).
bool isReservedDeviceName(const char* begin, const char* end);
// True when a component of `relative` is a reserved device name.
bool holdsReservedDeviceName(const char* relative);

// Absolute, normalised form of `path` as the OS resolves it; empty when the
// OS cannot say.
std::string resolvedPath(const FilePath& path);

class TargetDirectory {
 public:
  explicit TargetDirectory(const FilePath& directory);
  const FilePath& path() const { return path_; }
  // True when `relative` joined to the directory is a path strictly below
  // it and names no device. `joined` receives the joined path.
  bool admits(const char* relative, FilePath& joined) const;

 private:
  FilePath path_;
  std::string resolved_;
};

}  // namespace vna
