# What both mingw-w64 cross-builds share; the toolchain file that includes
# this sets CMAKE_SYSTEM_PROCESSOR and VNA_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VNA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VNA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VNA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VNA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static zlib and runtime: the program is one self-contained .exe. Its
# header carries no link time, so the same sources give the same bytes.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# Windows programs run under Wine; tools/wine-run picks the loader and prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
