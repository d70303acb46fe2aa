// Paths as owned ANSI byte text. Made from text a path loses its trailing
// "\" and "/"; joined to a name it puts exactly one "\" between the parts.
#pragma once

#include <string>

namespace vna {

class FilePath {
 public:
  FilePath() = default;
  // Copies `text` without its trailing separators; null gives the empty path.
  // A root keeps its separator: a text of separators only keeps its first
  // one, and on Windows a drive's root ("D:\") keeps its own.
  explicit FilePath(const char* text);
  // base + "\" + name (name's trailing separators removed); no separator when
  // either part is empty or the base is a root that ends in one.
  FilePath(const FilePath& base, const char* name);

  // Replaces the text with an unchanged copy (nothing stripped).
  void assign(const char* text);
  const char* text() const { return text_.c_str(); }
  std::size_t length() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  // The text after the last separator; empty when there is no separator.
  std::string fileName() const;

 private:
  std::string text_;
};

inline bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The parts of a network path "\\server\share\...", either separator
// accepted. `length` covers "\\server\share" (or "\\server" when no share
// follows).
struct UncRoot {
  std::string server;
  std::string share;
  bool hasShare = false;
  std::size_t length = 0;
};
// False when `path` does not start with two separators.
bool parseUncRoot(const char* path, UncRoot& out);

// Rootedness. With Windows rules a drive prefix ("D:" and anything after
// it) or two leading separators (a network path) are rooted as typed, and a
// single leading separator is rooted on the current directory's drive or
// share; with POSIX rules only a leading "/" roots a path. The platform's
// own rules are platform::kWindowsPaths.
bool isRootedPath(const char* argument, bool windowsRules);
// True when making `argument` absolute needs the current directory: it is
// relative, or rooted only on the current drive.
bool needsCurrentDirectory(const char* argument, bool windowsRules);
// `argument` made absolute against `current` by those rules.
FilePath absolutePath(const char* argument, const FilePath& current, bool windowsRules);

// Absolute, normalised form of `path` as the OS resolves it, lexically (no
// link is followed); empty when the OS cannot say. A bare drive ("D:") is
// that drive's current directory, as for every other call; a drive's root
// is "D:\", which FilePath keeps.
std::string resolvedPath(const FilePath& path);

// The process's current directory, or the empty path when it cannot be read
// or does not fit the platform's path buffer. Never throws.
FilePath currentDirectory();

}  // namespace vna
