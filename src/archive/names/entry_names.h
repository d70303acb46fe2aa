// Names in archives: stored entry names to safe relative names, and the
// device names Windows reserves, which neither creation nor extraction
// gives to a file. "\" and "/" both separate levels; neither is converted
// into the other here.
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

// True for CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (and COM, LPT with a
// superscript 1, 2 or 3) in any letter case, alone or with an extension
// (trailing blanks before it ignored).
bool isReservedDeviceName(const char* begin, const char* end);
// True when a component of `relative` is a reserved device name.
bool holdsReservedDeviceName(const char* relative);

}  // namespace vna
