// Turn Win32 system error codes into the system's error classes. Each
// operation has its own table; code 0 raises nothing (the caller carries on),
// every other code throws.
#pragma once

#include <cstdint>

namespace vna {

// Reads of an open file. Unlisted codes: FileIOError carrying the code.
void mapReadError(uint32_t code);
// Opening for reading, closing and sizing. Unlisted: FileIOError with the code.
void mapOpenError(uint32_t code);
// Writes. Unlisted codes: FileIOError carrying 0.
void mapWriteError(uint32_t code);
// Creating a file. Unlisted codes: FileIOError carrying 0.
void mapCreateError(uint32_t code);
// Directory creation and removal. Codes 0 and 38 return; unlisted codes raise
// FileIOError carrying the code.
void raiseFileSystemError(uint32_t code);

}  // namespace vna
