# porvex_test(<name> SOURCES ... [LIBS ...] [DEPENDS ...] [THREADED] [DISPLAY]
#             [NATIVE_ONLY] [WIN32_ONLY] [TIMEOUT <s>] [ARGS ...] [LABELS ...])
#
# One GoogleTest program is one ctest entry. On Windows builds it runs under Wine in
# the build tree's prefix; DISPLAY gives it a virtual X display for top-level windows.
# THREADED marks tests of concurrent code: only those are built in the TSan tree.
set_property(GLOBAL PROPERTY PORVEX_TEST_TARGETS "")

function(porvex_test name)
    cmake_parse_arguments(T "THREADED;DISPLAY;NATIVE_ONLY;WIN32_ONLY;NO_GTEST_MAIN" "TIMEOUT"
                          "SOURCES;LIBS;DEPENDS;ARGS;LABELS" ${ARGN})
    if(T_NATIVE_ONLY AND PORVEX_WIN32)
        return()
    endif()
    if(T_WIN32_ONLY AND NOT PORVEX_WIN32)
        return()
    endif()
    if(PORVEX_THREADED_TESTS_ONLY AND NOT T_THREADED)
        return()
    endif()

    add_executable(${name} ${T_SOURCES})
    if(T_NO_GTEST_MAIN)
        target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gtest)
    endif()
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()

    if(PORVEX_WIN32)
        set(runner ${PORVEX_WINE_RUN})
        if(T_DISPLAY)
            list(APPEND runner --display)
        endif()
        add_test(NAME ${name} COMMAND ${runner} $<TARGET_FILE:${name}> ${T_ARGS})
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
    else()
        add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
    endif()

    set(labels ${T_LABELS})
    if(T_THREADED)
        list(APPEND labels threaded)
    endif()
    if(T_DISPLAY)
        list(APPEND labels display)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                         ENVIRONMENT "PORVEX_BUILD_DIR=${CMAKE_BINARY_DIR}")
    if(labels)
        set_tests_properties(${name} PROPERTIES LABELS "${labels}")
    endif()
    set_property(GLOBAL APPEND PROPERTY PORVEX_TEST_TARGETS ${name})
endfunction()

# Wine fixtures: the prefix is created once per tree and one persistent wineserver
# serves every test of a run, so a test program starts in tens of milliseconds.
if(PORVEX_WIN32)
    add_test(NAME wine_start COMMAND ${PORVEX_WINE_RUN} --start)
    add_test(NAME wine_stop COMMAND ${PORVEX_WINE_RUN} --stop)
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)
endif()

# A target that builds every test program (and what they depend on), used by the
# ThreadSanitizer tree, which builds nothing else.
function(porvex_finish_tests)
    get_property(targets GLOBAL PROPERTY PORVEX_TEST_TARGETS)
    add_custom_target(porvex_tests)
    if(targets)
        add_dependencies(porvex_tests ${targets})
    endif()
endfunction()
