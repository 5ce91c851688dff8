# porvex_fuzz_target(<fuzzer> ENTRY <library> SOURCES ... UNDER_TEST <libraries...> MAIN <source>)
#
# A fuzz entry is a small library with one function over raw bytes (beside the parser it
# exercises). Every tree builds the entry, and a replay test runs it over seeded random
# input. With clang and PORVEX_FUZZ (the `fuzz` preset) the entry also becomes the
# libFuzzer program <fuzzer>; the code under test is instrumented too, so libFuzzer sees
# its coverage. The target `fuzzers` builds every fuzzer and nothing else; the tree lists
# them in fuzzers.txt, and scripts/test runs each one for a short fixed time.
set(PORVEX_FUZZING OFF)
if(PORVEX_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(PORVEX_FUZZING ON)
    add_custom_target(fuzzers)
    set(PORVEX_FUZZER_LIST ${CMAKE_BINARY_DIR}/fuzzers.txt)
    file(WRITE ${PORVEX_FUZZER_LIST} "")
endif()

function(porvex_fuzz_target fuzzer)
    cmake_parse_arguments(F "" "ENTRY;MAIN" "SOURCES;UNDER_TEST" ${ARGN})
    add_library(${F_ENTRY} STATIC ${F_SOURCES})
    target_link_libraries(${F_ENTRY} PUBLIC ${F_UNDER_TEST})
    if(NOT PORVEX_FUZZING)
        return()
    endif()
    foreach(instrumented IN LISTS F_UNDER_TEST F_ENTRY)
        target_compile_options(${instrumented} PRIVATE -fsanitize=fuzzer-no-link)
    endforeach()
    add_executable(${fuzzer} ${F_MAIN})
    target_compile_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
    target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${fuzzer} PRIVATE ${F_ENTRY})
    add_dependencies(fuzzers ${fuzzer})
    file(APPEND ${PORVEX_FUZZER_LIST} "${fuzzer}\n")
endfunction()
