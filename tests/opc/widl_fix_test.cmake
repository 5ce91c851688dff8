# The proxy fix-up (cmake/WidlFixStringOut.cmake) against widl's own output, run as
#   cmake -DWIDL=<widl> -DIDL_DIR=<opc/idl> -DWINE_IDL_DIR=<dir> -DSCRIPT=<fix script>
#         -DWORK=<folder> -P widl_fix_test.cmake
# It must refuse a proxy when the number of parameters it fixes is not the expected one
# (a widl that changed its output), leave nothing broken when it is, and change nothing
# in a proxy it already fixed.
foreach(var WIDL IDL_DIR WINE_IDL_DIR SCRIPT WORK)
    if(NOT ${var})
        message(FATAL_ERROR "widl_fix_test: ${var} is required")
    endif()
endforeach()
file(MAKE_DIRECTORY ${WORK})
set(raw ${WORK}/opc_da_raw_p.c)
execute_process(COMMAND ${WIDL} -I${IDL_DIR} -I${WORK} -I${WINE_IDL_DIR} -D__WIDL__ -p -Oif
                        -o ${raw} ${IDL_DIR}/opc_da.idl
                RESULT_VARIABLE widl_result)
if(NOT widl_result EQUAL 0)
    message(FATAL_ERROR "widl failed: ${widl_result}")
endif()

function(run_fix file expected out_result out_text)
    execute_process(COMMAND ${CMAKE_COMMAND} -DFILE=${file} -DEXPECTED=${expected} -P ${SCRIPT}
                    RESULT_VARIABLE result ERROR_VARIABLE text OUTPUT_VARIABLE text)
    set(${out_result} ${result} PARENT_SCOPE)
    set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# An unexpected count fails and leaves the file as widl wrote it.
file(READ ${raw} before)
run_fix(${raw} 0 result text)
if(result EQUAL 0 OR NOT text MATCHES "fixed[ \t\n]+4[ \t\n]+parameters,[ \t\n]+expected[ \t\n]+0")
    message(FATAL_ERROR "an unexpected count was accepted: ${text}")
endif()
file(READ ${raw} after)
if(NOT before STREQUAL after)
    message(FATAL_ERROR "a refused proxy was changed")
endif()

# The expected count fixes LookupItemIDs' string array among the others.
run_fix(${raw} 4 result text)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the expected count was refused: ${text}")
endif()
file(READ ${raw} fixed)
string(REGEX MATCH "parameter ppszNewItemIDs\\) \\*/\n[^\n]*\n[^\n]*\n[^\n]*type offset = ([0-9]+)"
       match "${fixed}")
set(offset ${CMAKE_MATCH_1})
string(FIND "${fixed}" "__MIDL_TypeFormatString =" types_at)
string(SUBSTRING "${fixed}" ${types_at} -1 types)
if(NOT types MATCHES "/\\* ${offset} \\(LPWSTR \\*\\*\\) \\*/\n[ \t]+0x11, 0x14,")
    message(FATAL_ERROR "ppszNewItemIDs names type offset ${offset}, not the outer pointer")
endif()

# Run again on its own output: nothing left to fix, nothing changed.
run_fix(${raw} 0 result text)
file(READ ${raw} again)
if(NOT result EQUAL 0 OR NOT again STREQUAL fixed)
    message(FATAL_ERROR "a fixed proxy was not accepted as it is: ${text}")
endif()
message(STATUS "widl_fix_test: passed")
