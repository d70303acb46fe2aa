#include "platform/held_directory.h"

#include <cstring>
#include <utility>

namespace vna::platform {

HeldDirectory::HeldDirectory(HeldDirectory&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = INVALID_HANDLE_VALUE;
}

HeldDirectory& HeldDirectory::operator=(HeldDirectory&& other) noexcept {
  if (this != &other) {
    release();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

void HeldDirectory::release() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool isPlainName(LPCSTR name) {
  // "." and ".." would reach the directory itself or its parent, and a
  // separator a directory below it that nobody held.
  return name != nullptr && name[0] != '\0' && std::strcmp(name, ".") != 0 &&
         std::strcmp(name, "..") != 0 && std::strpbrk(name, "\\/") == nullptr;
}

}  // namespace vna::platform
