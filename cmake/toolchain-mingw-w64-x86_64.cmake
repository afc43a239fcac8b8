# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (package
# g++-mingw-w64-x86-64-posix), as an application's toolchain file would have
# it: compilers, find roots and the emulator, and no flags. The checker links
# its runtime statically itself.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Built programs run on Linux under Wine (Debian package wine64), which maps
# drive Z: to the file system's root.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
