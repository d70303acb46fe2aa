// Fuzz target: entry names. The name formed from any stored name is never
// empty, never resolves outside the target directory, and what extraction
// admits lies strictly below it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/names/entry_names.h"
#include "archive/extract/target_directory.h"
#include "fs/file_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size > 255 ? 255 : size);
  name = name.c_str();  // a stored name ends at its first NUL
  vna::Stringy sanitized = vna::sanitizeEntryPath(name.c_str());
  vna::Stringy base = vna::entryBaseName(name.c_str());
  if (sanitized.empty()) std::abort();
  static const vna::FilePath target("/fuzz-target");
  static const std::string resolvedTarget = vna::resolvedPath(target);
  for (const vna::Stringy* relative : {&sanitized, &base}) {
    if (relative->empty()) continue;  // a directory entry's base name
    vna::FilePath joined(target, relative->text());
    std::string full = vna::resolvedPath(joined);
    bool below = full.size() > resolvedTarget.size() + 1 &&
                 full.compare(0, resolvedTarget.size(), resolvedTarget) == 0 &&
                 vna::isSeparator(full[resolvedTarget.size()]);
    vna::TargetDirectory directory(target);
    vna::EntryTarget admitted;
    // The sanitised form never leaves the target (it may name the target
    // itself, as "." does); the raw base name may, and then the extractor's
    // check must refuse it. What the check admits lies strictly below.
    if (relative == &sanitized && !below && full != resolvedTarget) {
      std::fprintf(stderr, "sanitised name escapes: %s -> %s\n", name.c_str(), full.c_str());
      std::abort();
    }
    if (directory.admits(relative->text(), admitted) && !below) std::abort();
  }
  return 0;
}
