#include "archive/extract/entry_names.h"

#include <cstring>

#include "fs/file_path.h"

namespace vna {

Stringy sanitizeEntryPath(const char* name) {
  Stringy text(name);
  text.trimLeft();
  if (text.empty()) return Stringy("_");
  if (isSeparator(text.text()[0])) text = text.from(1);
  if (text.empty()) return Stringy("_");
  if (text.contains("%2") || text.contains("%3")) text.replace('%', '_');
  text.replace(':', '_');
  if (text.contains("..")) text.replace('.', '_');
  return text;
}

Stringy entryBaseName(const char* name) {
  for (std::size_t i = std::strlen(name); i > 0; --i) {
    if (isSeparator(name[i - 1])) return Stringy(name + i);
  }
  return sanitizeEntryPath(name);
}

}  // namespace vna
