// Handle objects behind the POSIX seam's HANDLE values.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <string>

namespace vna::platform::posix {

enum class HandleKind { File, Find };

struct HandleObject {
  explicit HandleObject(HandleKind k) : kind(k) {}
  virtual ~HandleObject() = default;
  HandleKind kind;
};

// An open file. The file pointer lives here, so that a SetFilePointer and the
// following ReadFile or WriteFile cost one positioned kernel call, not two.
struct FileObject : HandleObject {
  explicit FileObject(int descriptor) : HandleObject(HandleKind::File), fd(descriptor) {}
  int fd;
  off_t position = 0;
};

// An enumeration in progress: a directory stream filtered by a wildcard
// pattern, or the single answer for a pattern without wildcards.
struct FindObject : HandleObject {
  FindObject() : HandleObject(HandleKind::Find) {}
  DIR* dir = nullptr;
  std::string pattern;
};

}  // namespace vna::platform::posix
