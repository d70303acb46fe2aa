# Cross-build for 32-bit Windows with mingw-w64 (posix threads), run under Wine:
# the product, the console program build/windows/vnarchive.exe.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VNA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
