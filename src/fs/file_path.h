// Paths as owned ANSI byte text. Made from text a path loses its trailing
// "\" and "/"; joined to a name it puts exactly one "\" between the parts.
#pragma once

#include <string>

namespace vna {

class FilePath {
 public:
  FilePath() = default;
  // Copies `text` without its trailing separators; null gives the empty path.
  // A text of separators only is the root and keeps its first one.
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

// The process's current directory, or the empty path when it cannot be read
// or does not fit the platform's path buffer. Never throws.
FilePath currentDirectory();

}  // namespace vna
