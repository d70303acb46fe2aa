// The names of a run's temporary files, and the one search for a free one.
#pragma once

#include <string>

#include "base/errors.h"

namespace vna {

// The names of a run's temporary files: ~vna<process id>-<n><extension>,
// with `next` counted up.
std::string temporaryName(unsigned& next, const char* extension);
// Calls `create(name)` with each name `nameOf(next)` gives, `next` counted
// up, until one makes a new file; returns that name. Others' files may hold
// any number of the names: the search gives up (FileIOError) only after
// 2^20 of them.
template <class NameOf, class Create>
std::string firstFreeName(unsigned& next, NameOf nameOf, Create create) {
  for (unsigned attempt = 0; attempt < (1u << 20); ++attempt) {
    std::string name = nameOf(next++);
    if (create(name.c_str())) return name;
  }
  throw FileIOError(0);
}
// Whether `name` has that form for some process id (digits) and n (digits);
// "~vna<id>-", the part that tells which run made it, goes to `run`.
bool isTemporaryName(const char* name, const char* extension, std::string& run);

}  // namespace vna
