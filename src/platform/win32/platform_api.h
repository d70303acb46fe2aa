// The operating-system seam, Windows side: the real kernel32 services.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace vna::platform {
// Paths are rooted by a drive prefix, two leading separators (UNC) or one
// leading separator (the current drive); CON, NUL, COM1... name devices.
constexpr bool kWindowsPaths = true;
// Size of the buffers that hold a whole path.
constexpr unsigned kPathBufferSize = MAX_PATH;
}  // namespace vna::platform
