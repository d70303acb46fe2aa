// Stored entry names to safe relative names. "\" and "/" both separate
// levels; neither is converted into the other here.
#pragma once

#include "text/stringy.h"

namespace vna {

// Drops leading blanks and one leading separator; replaces every "%" when
// the name holds "%2" or "%3", every ":", and every "." when the name holds
// ".."; "_" for a name that would be empty. Never empty.
Stringy sanitizeEntryPath(const char* name);
// The text after the last separator, as stored (empty for a directory
// entry's name); the sanitised whole name when there is no separator.
Stringy entryBaseName(const char* name);

}  // namespace vna
