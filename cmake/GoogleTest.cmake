# GoogleTest: Debian's build natively; compiled from Debian's sources for Windows
# (its own CMake project defines the GTest:: targets).
if(PORVEX_WIN32)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
