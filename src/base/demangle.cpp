#include "base/demangle.h"

#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <string>

namespace vna {

const char* readableClassName(const std::type_info& type) {
  // Kept for the life of the process because what() hands out a pointer
  // that must stay valid after the exception object is gone; it holds one
  // entry per error class that was ever described, a handful at most.
  static std::map<std::string, std::string> names;
  std::string key = type.name();
  auto found = names.find(key);
  if (found != names.end()) return found->second.c_str();
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled != nullptr) ? demangled : type.name();
  std::free(demangled);
  std::string::size_type colons = name.rfind("::");
  if (colons != std::string::npos) name = name.substr(colons + 2);
  return names.emplace(key, "class " + name).first->second.c_str();
}

}  // namespace vna
