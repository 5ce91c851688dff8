# porvex_split_debug_info(<target>...)
#
# Moves the debug information of Windows binaries into <binary>.debug beside them (found by
# debuggers through the binary's .gnu_debuglink). Left in, mingw's DWARF sections are part
# of the image: the loader maps them with the code, and under Wine, which copies an image
# whose sections are not page-aligned in the file, they are resident in every process that
# runs the binary (about 13 MB of the sample server's 37 MB after activation). Called in
# the folder that makes the target (a post-build step can only be added there).
#
# The same targets keep their sections at page-aligned offsets in the file (file alignment
# 4096, the PE default of 512 otherwise): Wine then maps the sections from the file instead
# of copying them, so only the pages a process touches are resident (0.3 MB less for the
# sample server at start).
function(porvex_split_debug_info)
    if(NOT PORVEX_WIN32 OR NOT CMAKE_OBJCOPY)
        return()
    endif()
    foreach(target ${ARGN})
        if(TARGET ${target})
            target_link_options(${target} PRIVATE -Wl,--file-alignment,4096)
            add_custom_command(TARGET ${target} POST_BUILD
                COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}>
                        $<TARGET_FILE:${target}>.debug
                COMMAND ${CMAKE_OBJCOPY} --strip-debug
                        --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
                        $<TARGET_FILE:${target}>
                WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
                VERBATIM)
        endif()
    endforeach()
endfunction()
