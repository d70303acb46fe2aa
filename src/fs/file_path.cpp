#include "fs/file_path.h"

#include <cstring>
#include <vector>

#include "platform_api.h"

namespace vna {

namespace {
std::size_t lengthWithoutTrailingSeparators(const char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && isSeparator(text[length - 1])) --length;
  return length;
}
}  // namespace

FilePath::FilePath(const char* text) {
  if (text == nullptr) return;
  std::size_t length = lengthWithoutTrailingSeparators(text);
  // A root keeps its separator: "/" (or, on Windows, "\", the current
  // drive's root) would become no path at all, and "D:\" would become
  // "D:", which Windows takes for drive D's current directory.
  if (length == 0 && text[0] != '\0') length = 1;
  if (platform::kWindowsPaths && length == 2 && text[1] == ':' && isSeparator(text[2])) length = 3;
  text_.assign(text, length);
}

FilePath::FilePath(const FilePath& base, const char* name) : text_(base.text_) {
  std::size_t nameLength = name != nullptr ? lengthWithoutTrailingSeparators(name) : 0;
  // Only a root ends in a separator; it needs no second one.
  if (!text_.empty() && nameLength > 0 && !isSeparator(text_.back())) text_ += '\\';
  if (nameLength > 0) text_.append(name, nameLength);
}

void FilePath::assign(const char* text) {
  if (text == nullptr) {
    text_.clear();
  } else if (text != text_.c_str()) {
    text_.assign(text);
  }
}

std::string FilePath::fileName() const {
  std::string::size_type separator = text_.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : text_.substr(separator + 1);
}

bool parseUncRoot(const char* path, UncRoot& out) {
  if (!isSeparator(path[0]) || !isSeparator(path[1])) return false;
  const char* server = path + 2;
  const char* p = server;
  while (*p != '\0' && !isSeparator(*p)) ++p;
  out.server.assign(server, p);
  out.hasShare = *p != '\0';
  if (out.hasShare) {
    const char* share = ++p;
    while (*p != '\0' && !isSeparator(*p)) ++p;
    out.share.assign(share, p);
  } else {
    out.share.clear();
  }
  out.length = static_cast<std::size_t>(p - path);
  return true;
}

namespace {

bool hasDrive(const char* path) { return path[0] != '\0' && path[1] == ':'; }

// The root of the current directory: "D:" of a drive path, "\\server\share"
// of a network path; empty when it has neither.
std::string rootOf(const char* current) {
  if (hasDrive(current)) return std::string(current, 2);
  UncRoot unc;
  if (parseUncRoot(current, unc)) return std::string(current, unc.length);
  return std::string();
}

}  // namespace

bool isRootedPath(const char* argument, bool windowsRules) {
  if (!windowsRules) return argument[0] == '/';
  return hasDrive(argument) || isSeparator(argument[0]);
}

bool needsCurrentDirectory(const char* argument, bool windowsRules) {
  if (!isRootedPath(argument, windowsRules)) return true;
  UncRoot unc;
  return windowsRules && !hasDrive(argument) && !parseUncRoot(argument, unc);
}

FilePath absolutePath(const char* argument, const FilePath& current, bool windowsRules) {
  if (!needsCurrentDirectory(argument, windowsRules)) return FilePath(argument);
  if (isRootedPath(argument, windowsRules)) {
    return FilePath((rootOf(current.text()) + argument).c_str());
  }
  return FilePath(current, argument);
}

std::string resolvedPath(const FilePath& path) {
  const char* text = path.text();
  char local[1024];
  DWORD length = GetFullPathNameA(text, sizeof local, local, nullptr);
  if (length == 0) return std::string();
  if (length < sizeof local) return std::string(local, length);
  std::vector<char> buffer(length + 1);
  length = GetFullPathNameA(text, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return std::string();
  return std::string(buffer.data(), length);
}

FilePath currentDirectory() {
  std::vector<char> buffer(platform::kPathBufferSize);
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  // A result as large as the buffer is the size it would need: nothing was
  // filled in, so the buffer must not be read.
  if (length == 0 || length >= buffer.size()) return FilePath();
  return FilePath(buffer.data());
}

}  // namespace vna
