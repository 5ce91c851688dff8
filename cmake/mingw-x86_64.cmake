# Cross toolchain: 64-bit Windows binaries with mingw-w64 (posix threads), for development
# machines that cannot run 32-bit programs; the deliverables are built with mingw-i686.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PORVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PORVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PORVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PORVEX_MINGW_PREFIX}-windres)
set(PORVEX_WIDL ${PORVEX_MINGW_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${PORVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every binary carries its C and C++ runtime: nothing needs a mingw DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
