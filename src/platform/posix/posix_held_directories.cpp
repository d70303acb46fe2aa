// Held directories: how the POSIX seam keeps Windows' promise that a
// directory opened with backup semantics and without FILE_SHARE_DELETE can
// be neither renamed nor removed while the handle is open.
//
// POSIX has no such lock: another process may rename a directory away and
// put a link in its place at any moment. So the seam makes the rename
// harmless instead of impossible: while a directory is held, every path
// below it that a seam call is given is resolved from the held descriptor,
// never by its text. The components between the held directory and the last
// one are opened with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS), so the
// kernel itself refuses a link or a ".." that leaves the held directory at
// the moment of the call; the last component is acted on with the *at call
// of the operation, which does not follow a link there either (or follows
// it only to read, as Windows does). A directory swapped after it was held
// keeps being the one written to: the descriptor follows the directory, not
// its name.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vector>

#include "posix_handles.h"
#include "posix_internal.h"

namespace vna::platform::posix {

namespace {

struct Held {
  std::string native;
  int fd;
  const void* owner;
};

std::vector<Held>& held() {
  static std::vector<Held> directories;
  return directories;
}

}  // namespace

// Where openat2 is missing (kernels before 5.6, some sandboxes), the same
// walk one component at a time: no link is followed and ".." is refused.
int openBeneathByWalk(int root, const std::string& relative) {
  int current = root;
  std::size_t at = 0;
  while (at < relative.size()) {
    std::size_t end = relative.find('/', at);
    if (end == std::string::npos) end = relative.size();
    std::string component = relative.substr(at, end - at);
    at = end + 1;
    if (component.empty() || component == ".") continue;
    int next = -1;
    if (component == "..") {
      errno = EXDEV;
    } else {
      next = openat(current, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    int error = errno;
    struct stat st;
    // A link there fails as "not a directory"; openat2 says ELOOP, and so
    // does this walk, so that callers tell a link from a missing directory.
    if (next < 0 && error == ENOTDIR &&
        fstatat(current, component.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      error = ELOOP;
    }
    if (current != root) close(current);
    if (next < 0) {
      errno = error;
      return -1;
    }
    current = next;
  }
  return current == root ? openat(root, ".", O_PATH | O_DIRECTORY | O_CLOEXEC) : current;
}

namespace {

int openBeneath(int root, const std::string& relative) {
  static bool missing = false;
  if (!missing) {
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
    // EPERM: a seccomp filter that does not know the call.
    missing = true;
  }
  return openBeneathByWalk(root, relative);
}

}  // namespace

void holdDirectory(const void* owner, const std::string& native, int fd) {
  std::string text = native;
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  held().push_back(Held{text, fd, owner});
}

void releaseDirectory(const void* owner) {
  auto& all = held();
  for (auto it = all.begin(); it != all.end(); ++it) {
    if (it->owner == owner) {
      all.erase(it);
      return;
    }
  }
}

bool resolveAt(const std::string& native, At& out) {
  out.dir = AT_FDCWD;
  out.name = native.c_str();
  const Held* best = nullptr;
  for (const Held& h : held()) {
    std::size_t n = h.native.size();
    if (native.size() > n && native.compare(0, n, h.native) == 0 &&
        (native[n] == '/' || h.native == "/") && (best == nullptr || n > best->native.size())) {
      best = &h;
    }
  }
  if (best == nullptr) return true;
  std::size_t begin = best->native.size();
  std::size_t end = native.size();
  while (begin < end && native[begin] == '/') ++begin;
  while (end > begin && native[end - 1] == '/') --end;
  if (begin == end) return true;  // the held directory itself
  std::size_t slash = native.rfind('/', end - 1);
  std::size_t leafAt = slash == std::string::npos || slash < begin ? begin : slash + 1;
  out.leaf.assign(native, leafAt, end - leafAt);
  out.name = out.leaf.c_str();
  if (out.leaf == "..") {
    errno = EXDEV;
    return false;
  }
  if (leafAt == begin) {
    out.dir = best->fd;
    return true;
  }
  int fd = openBeneath(best->fd, native.substr(begin, leafAt - 1 - begin));
  if (fd < 0) return false;
  out.dir = out.owned = fd;
  return true;
}

At::~At() {
  if (owned >= 0) close(owned);
}

}  // namespace vna::platform::posix
