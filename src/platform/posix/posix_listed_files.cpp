// Regular files opened while they are listed.
//
// Archiving lists a held directory and then opens each file it found, by
// name in that directory, right away. Statting an entry to list it and
// opening it a moment later walk the same name twice; opening it relative to
// the open directory, and taking the listing's status from the descriptor,
// costs about as much as the stat alone. The descriptor is handed to the
// next open for reading of exactly that name in the same held directory, or
// closed when the listing moves on, is closed, or anything changes the file
// system through the seam.
//
// Only entries the directory reports as regular files are opened this way,
// never through a link, and only once a descriptor without data access
// shows a regular file: opening a device or FIFO can have effects (a
// writer blocked on a FIFO is let go), and a link put at the name since the
// listing may lead anywhere.
//
// What another process does between the listing and the open is not seen
// by the seam: a file it replaces (a rename over the name) is read as it was
// listed, the listing's descriptor holding it; a file it rewrites in place is
// read as it is now, up to the size it had when it was listed.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "posix_faults.h"
#include "posix_handles.h"
#include "posix_internal.h"

namespace vna::platform::posix {

namespace {

// Open enumerations, innermost last. Only the main thread lists directories
// (the compressor's workers never call the seam's file services).
std::vector<FindObject*>& listings() {
  static std::vector<FindObject*> open;
  return open;
}

}  // namespace

void registerListing(FindObject* find) { listings().push_back(find); }

void unregisterListing(FindObject* find) {
  releaseHeldFile(find);
  auto& open = listings();
  open.erase(std::remove(open.begin(), open.end(), find), open.end());
}

void releaseHeldFile(FindObject* find) {
  if (find->heldFd >= 0) close(find->heldFd);
  find->heldFd = -1;
}

bool statListedEntry(FindObject* find, const struct dirent* entry, struct stat& st, bool& link) {
  releaseHeldFile(find);
  link = false;
  int dir = dirfd(find->dir);
  // Only a held directory's listing is opened from; nothing else adopts.
  if (entry->d_type == DT_REG && find->owner != nullptr) {
    // Asked about without data access first: a FIFO or device renamed or
    // linked in at the name since it was read from the directory is never
    // opened. Only a regular file is opened again, through the descriptor
    // itself, so it is the very file asked about.
    int pathFd = openat(dir, entry->d_name, O_PATH | O_CLOEXEC | O_NOFOLLOW);
    if (pathFd >= 0) {
      int fd = -1;
      if (fstat(pathFd, &st) == 0 && S_ISREG(st.st_mode)) {
        fd = reopenDescriptor(pathFd, O_RDONLY);
      }
      close(pathFd);
      if (fd >= 0) {
        find->heldFd = fd;
        find->heldName = entry->d_name;
        find->heldInfo = st;
        return true;
      }
    }
    // Unreadable, or no descriptor to spare: list it the plain way.
  }
  if (fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISLNK(st.st_mode)) return true;
  link = true;
  struct stat target;
  if (fstatat(dir, entry->d_name, &target, 0) == 0) st = target;
  return true;
}

int adoptListedFile(HANDLE directory, const char* name, struct stat& st) {
  for (auto it = listings().rbegin(); it != listings().rend(); ++it) {
    FindObject* find = *it;
    if (find->heldFd < 0 || find->owner != directory || find->heldName != name) continue;
    int fd = find->heldFd;
    find->heldFd = -1;
    st = find->heldInfo;
    return fd;
  }
  return -1;
}

bool beginChange() {
  if (crashDue()) crashNow();
  if (injectFault()) return false;
  for (FindObject* find : listings()) releaseHeldFile(find);
  return true;
}

}  // namespace vna::platform::posix
