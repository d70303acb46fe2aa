// Handle objects behind the POSIX seam's HANDLE values.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
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
  FileObject(int descriptor, bool forWriting, const struct stat& st)
      : HandleObject(HandleKind::File), fd(descriptor), writable(forWriting), info(st) {}
  int fd;
  bool writable;
  off_t position = 0;
  // Where the bytes written since the last write-back started begin.
  off_t writtenBack = 0;
  // What fstat said at the open. For a file opened only for reading it
  // answers size and identity queries (the system reads a file's size as of
  // its opening); a writable file is asked again each time.
  struct stat info;
};

// An enumeration in progress: a directory stream filtered by a wildcard
// pattern, or the single answer for a pattern without wildcards.
struct FindObject : HandleObject {
  FindObject() : HandleObject(HandleKind::Find) {}
  DIR* dir = nullptr;
  std::string pattern;
  // The held directory listed (its handle), to recognise its files.
  void* owner = nullptr;
  // The current entry when it is a regular file, already open for reading
  // (see posix_listed_files.cpp); -1 when none is held.
  int heldFd = -1;
  std::string heldName;
  struct stat heldInfo;
};

}  // namespace vna::platform::posix
