# `format-check` fails when a tracked C or C++ source differs from .clang-format.
find_program(PORVEX_CLANG_FORMAT NAMES clang-format-14 clang-format)
if(PORVEX_CLANG_FORMAT)
    add_custom_target(format-check
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/format --check ${PORVEX_CLANG_FORMAT}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        COMMENT "Checking clang-format"
        VERBATIM)
    add_custom_target(format
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/format --fix ${PORVEX_CLANG_FORMAT}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        VERBATIM)
endif()
porvex_finish_tests()
