# Cross toolchain: 64-bit Windows binaries with mingw-w64 (posix threads), for development
# machines that cannot run 32-bit programs; the deliverables are built with mingw-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PORVEX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
