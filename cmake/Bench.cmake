# porvex_bench(<name> SOURCES ... [LIBS ...] [DEPENDS ...] [ARGS ...])
#
# A benchmark is a program of its own that prints its numbers. Each tree writes the
# benchmarks it built into bench-manifest.txt (name, then the command line), which
# scripts/bench reads: native ones run in the optimised linux-release tree, Windows ones
# under Wine from the win32 tree. Benchmarks are built in every tree except the
# ThreadSanitizer one, so they always compile.
set(PORVEX_BENCH_MANIFEST ${CMAKE_BINARY_DIR}/bench-manifest.txt)
file(WRITE ${PORVEX_BENCH_MANIFEST} "")

function(porvex_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS;ARGS" ${ARGN})
    if(PORVEX_THREADED_TESTS_ONLY)
        return()
    endif()
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS})
    if(B_DEPENDS)
        add_dependencies(${name} ${B_DEPENDS})
    endif()
    set(exe ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name}${CMAKE_EXECUTABLE_SUFFIX})
    if(PORVEX_WIN32)
        list(JOIN PORVEX_WINE_RUN " " runner)
        set(command "${runner} ${exe}")
    else()
        set(command "${exe}")
    endif()
    list(JOIN B_ARGS " " args)
    file(APPEND ${PORVEX_BENCH_MANIFEST} "${name} ${command} ${args}\n")
endfunction()
