# The program's version, publisher and product name, in one place: the version resource of
# Porvex398.exe (ui/porvex398.rc) includes the generated porvex_version.h, and the setup
# program (installer/, scripts/package) includes the generated porvex-version.nsh.
# PROJECT_VERSION (CMakeLists.txt) is the file version; the OPC server status reports its
# first, second and fourth numbers as major, minor and build.
set(PORVEX_PUBLISHER "Porvex")
set(PORVEX_PRODUCT_NAME "Porvex Server(398)")

foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
        set(PROJECT_VERSION_${part} 0)
    endif()
endforeach()
set(PORVEX_VERSION_TEXT
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")

configure_file(${PROJECT_SOURCE_DIR}/cmake/porvex_version.h.in
               ${PROJECT_BINARY_DIR}/generated/porvex_version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/porvex-version.nsh.in
               ${PROJECT_BINARY_DIR}/installer/porvex-version.nsh @ONLY)
