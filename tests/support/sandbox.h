// Test support: a fresh directory per test, removed afterwards, and small
// file helpers built on the standard library's <filesystem>, never on the
// OS seam under test. Paths are the system's own FilePath texts.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "fs/file_path.h"

namespace vna::test {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // The sandbox itself, or `relative` below it (joined with "\").
  FilePath path(const char* relative = "") const { return FilePath(root_, relative); }
  const FilePath& root() const { return root_; }

 private:
  FilePath root_;
};

void writeFile(const FilePath& path, const std::string& bytes);
std::string readFile(const FilePath& path);
bool exists(const FilePath& path);
bool isDirectory(const FilePath& path);
void makeDirectory(const FilePath& path);
void removeTree(const FilePath& path);
void setReadOnly(const FilePath& path, bool readOnly);
// Renames as another program would; false when the OS refuses.
bool renamePath(const FilePath& from, const FilePath& to);
// A symbolic link at `at` to `target` (a directory link when `directory`);
// false where the platform (or Wine) cannot make one.
bool makeLink(const FilePath& target, const FilePath& at, bool directory);

// Every file and directory below `directory`: relative name ("/" between
// levels, directories ending in "/") to content ("" for directories).
std::map<std::string, std::string> snapshot(const FilePath& directory);

// Deterministic pseudo-random bytes.
std::string randomBytes(std::size_t count, uint32_t seed);

}  // namespace vna::test
