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
  // A path of separators only names the root ("/", or the current drive's
  // root on Windows): it keeps one, or it would become no path at all.
  if (length == 0 && text[0] != '\0') length = 1;
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

FilePath currentDirectory() {
  std::vector<char> buffer(platform::kPathBufferSize);
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  // A result as large as the buffer is the size it would need: nothing was
  // filled in, so the buffer must not be read.
  if (length == 0 || length >= buffer.size()) return FilePath();
  return FilePath(buffer.data());
}

}  // namespace vna
