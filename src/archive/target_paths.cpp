#include "target_paths.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "platform_api.h"

namespace vna {

namespace {

bool equalsIgnoringCase(const char* begin, const char* end, const char* word) {
  std::size_t length = static_cast<std::size_t>(end - begin);
  if (length != std::strlen(word)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::toupper(static_cast<unsigned char>(begin[i])) != word[i]) return false;
  }
  return true;
}

}  // namespace

bool isReservedDeviceName(const char* begin, const char* end) {
  const char* stem = begin;
  while (stem != end && *stem != '.') ++stem;
  while (stem != begin && (stem[-1] == ' ')) --stem;
  for (const char* word : {"CON", "PRN", "AUX", "NUL"}) {
    if (equalsIgnoringCase(begin, stem, word)) return true;
  }
  if (stem - begin == 4 && stem[-1] >= '1' && stem[-1] <= '9') {
    return equalsIgnoringCase(begin, stem - 1, "COM") || equalsIgnoringCase(begin, stem - 1, "LPT");
  }
  return false;
}

bool holdsReservedDeviceName(const char* relative) {
  const char* start = relative;
  for (const char* p = relative;; ++p) {
    if (*p == '\0' || isSeparator(*p)) {
      if (isReservedDeviceName(start, p)) return true;
      if (*p == '\0') return false;
      start = p + 1;
    }
  }
}

std::string resolvedPath(const FilePath& path) {
  char local[1024];
  DWORD length = GetFullPathNameA(path.text(), sizeof local, local, nullptr);
  if (length == 0) return std::string();
  if (length < sizeof local) return std::string(local, length);
  std::vector<char> buffer(length + 1);
  length = GetFullPathNameA(path.text(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return std::string();
  return std::string(buffer.data(), length);
}

TargetDirectory::TargetDirectory(const FilePath& directory)
    : path_(directory.text()), resolved_(resolvedPath(directory)) {
  while (!resolved_.empty() && isSeparator(resolved_.back())) resolved_.pop_back();
}

bool TargetDirectory::admits(const char* relative, FilePath& joined) const {
  joined = FilePath(path_, relative);
  if (platform::kWindowsPaths && holdsReservedDeviceName(relative)) return false;
  if (resolved_.empty()) return false;
  std::string full = resolvedPath(joined);
  return full.size() > resolved_.size() + 1 &&
         full.compare(0, resolved_.size(), resolved_) == 0 &&
         isSeparator(full[resolved_.size()]);
}

}  // namespace vna
