#include "base/errors.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <typeinfo>

#include "base/demangle.h"

namespace vna {

namespace {
char* copyText(const char* text) {
  std::size_t length = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text, length + 1);
  return copy;
}
}  // namespace


ExceptionPL::ExceptionPL(const char* text) : text_(copyText(text)) {}
ExceptionPL::ExceptionPL(const ExceptionPL& other) : text_(copyText(other.text_)) {}
ExceptionPL::~ExceptionPL() {
  std::free(text_);
  text_ = nullptr;
}
const char* ExceptionPL::what() const { return text_; }

const char* DebuggableException::what() const noexcept {
  // The name is computed once per class and kept, so the pointer stays valid
  // for the life of the process whatever happens to this object.
  return readableClassName(typeid(*this));
}

}  // namespace vna
