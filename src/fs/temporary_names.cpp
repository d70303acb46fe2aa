#include "fs/temporary_names.h"

#include <cstdio>
#include <cstring>

#include "platform_api.h"

namespace vna {

namespace {

// The length of the run of digits at `text`.
std::size_t digitsAt(const char* text) {
  std::size_t n = 0;
  while (text[n] >= '0' && text[n] <= '9') ++n;
  return n;
}

}  // namespace

std::string temporaryName(unsigned& next, const char* extension) {
  char name[48];
  std::snprintf(name, sizeof name, "~vna%lu-%u%s",
                static_cast<unsigned long>(GetCurrentProcessId()), next++, extension);
  return name;
}

bool isTemporaryName(const char* name, const char* extension, std::string& run) {
  if (std::strncmp(name, "~vna", 4) != 0) return false;
  std::size_t id = digitsAt(name + 4);
  if (id == 0 || name[4 + id] != '-') return false;
  const char* counter = name + 5 + id;
  std::size_t n = digitsAt(counter);
  if (n == 0 || std::strcmp(counter + n, extension) != 0) return false;
  run.assign(name, 5 + id);
  return true;
}

}  // namespace vna
