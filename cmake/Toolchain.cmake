# Facts about the target that the rest of the build asks for.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(PORVEX_WIN32 ON)
    # Windows 7 is the oldest system the deliverables are built for.
    add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
    # Test programs run under Wine, one prefix per build tree (scripts/wine-run).
    set(PORVEX_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run --tree ${CMAKE_BINARY_DIR})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PORVEX_WINE_RUN})
    # wine-run picks the prefix kind and the Wine loader from this file.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win64\n")
    else()
        file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win32\n")
    endif()
    find_program(PORVEX_WIDL NAMES ${PORVEX_MINGW_PREFIX}-widl i686-w64-mingw32-widl REQUIRED)
else()
    set(PORVEX_WIN32 OFF)
endif()

find_package(Threads REQUIRED)
