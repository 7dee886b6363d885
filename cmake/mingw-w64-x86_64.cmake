# Toolchain: Windows x64 with Debian's mingw-w64 cross compiler (posix threads, for std::thread
# and std::mutex), widl for the IDL and Wine to run what is built (tests under ctest).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FLV_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${FLV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FLV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FLV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FLV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(FLV_WIDL ${FLV_MINGW_TRIPLE}-widl REQUIRED)
# The test programs run under Wine (64-bit).
find_program(FLV_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${FLV_WINE})
