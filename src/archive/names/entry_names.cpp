#include "archive/names/entry_names.h"

#include <cctype>
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
  // COM1-COM9 and LPT1-LPT9, and with the superscript digits one, two and
  // three of the ANSI code page (0xB9, 0xB2, 0xB3), which Windows also maps
  // to those devices.
  const unsigned char digit = stem - begin == 4 ? static_cast<unsigned char>(stem[-1]) : 0;
  if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3) {
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

}  // namespace vna
