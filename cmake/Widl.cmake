# Interface definitions compiled with widl (Windows tree only).
#
#   porvex_widl(<idl> [HEADER] [IID] [PROXY STRING_OUT_FIXES <n>] [TYPELIB] [DEPENDS <idl>...]
#               [OUTPUT_VAR <var>])
#
# Generates into the current binary folder, named after the IDL file's stem:
#   HEADER  <stem>.h        interfaces for C and C++
#   IID     <stem>_i.c      IID/CLSID definitions
#   PROXY   <stem>_p.c and <stem>_dlldata.c   stubless (-Oif) proxy/stub code, with the
#           string out-parameters widl 7.0 describes wrongly put right (WidlFixStringOut.cmake);
#           STRING_OUT_FIXES is how many there are in this file: any other number fails the build
#   TYPELIB <stem>.tlb      type library, to embed as a TYPELIB resource
#
#   porvex_widl_dlldata(<output.c> <stem>...)
#
# One dlldata.c for a proxy/stub DLL that marshals the interfaces of several IDL files
# (each generated with PROXY).
# Wine's IDL files (libwine-dev) provide oaidl.idl, ocidl.idl and the rest; stdole2.tlb
# comes from Wine's Windows library folder of the tree's word size. <var> receives the generated files.
if(NOT PORVEX_WIN32)
    return()
endif()

set(PORVEX_WINE_IDL_DIR /usr/include/wine/wine/windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(PORVEX_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
    set(PORVEX_WINE_TLB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
set(PORVEX_WIDL_FIX_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/WidlFixStringOut.cmake)

function(porvex_widl idl)
    cmake_parse_arguments(W "HEADER;IID;PROXY;TYPELIB" "OUTPUT_VAR;STRING_OUT_FIXES" "DEPENDS"
        ${ARGN})
    get_filename_component(idl_abs ${idl} ABSOLUTE)
    get_filename_component(stem ${idl} NAME_WE)
    get_filename_component(idl_dir ${idl_abs} DIRECTORY)
    set(out ${CMAKE_CURRENT_BINARY_DIR})
    set(flags -I${idl_dir} -I${out} -I${PORVEX_WINE_IDL_DIR} -D__WIDL__)
    set(deps ${idl_abs} ${W_DEPENDS})
    set(generated)

    if(W_HEADER)
        add_custom_command(OUTPUT ${out}/${stem}.h
            COMMAND ${PORVEX_WIDL} ${flags} -h -o ${out}/${stem}.h ${idl_abs}
            DEPENDS ${deps} COMMENT "widl header ${stem}.h" VERBATIM)
        list(APPEND generated ${out}/${stem}.h)
    endif()
    if(W_IID)
        add_custom_command(OUTPUT ${out}/${stem}_i.c
            COMMAND ${PORVEX_WIDL} ${flags} -u -o ${out}/${stem}_i.c ${idl_abs}
            DEPENDS ${deps} COMMENT "widl IIDs ${stem}_i.c" VERBATIM)
        list(APPEND generated ${out}/${stem}_i.c)
    endif()
    if(W_PROXY)
        if(NOT DEFINED W_STRING_OUT_FIXES)
            message(FATAL_ERROR "porvex_widl(${idl} PROXY) needs STRING_OUT_FIXES")
        endif()
        add_custom_command(OUTPUT ${out}/${stem}_p.c ${out}/${stem}_dlldata.c
            COMMAND ${PORVEX_WIDL} ${flags} -p -Oif -o ${out}/${stem}_p.c ${idl_abs}
            COMMAND ${CMAKE_COMMAND} -DFILE=${out}/${stem}_p.c -DEXPECTED=${W_STRING_OUT_FIXES}
                    -P ${PORVEX_WIDL_FIX_SCRIPT}
            COMMAND ${PORVEX_WIDL} --dlldata-only -o ${out}/${stem}_dlldata.c ${stem}
            DEPENDS ${deps} ${PORVEX_WIDL_FIX_SCRIPT} COMMENT "widl proxy ${stem}_p.c" VERBATIM)
        list(APPEND generated ${out}/${stem}_p.c ${out}/${stem}_dlldata.c)
    endif()
    if(W_TYPELIB)
        add_custom_command(OUTPUT ${out}/${stem}.tlb
            COMMAND ${PORVEX_WIDL} ${flags} -L ${PORVEX_WINE_TLB_DIR} -t -o ${out}/${stem}.tlb
                    ${idl_abs}
            DEPENDS ${deps} COMMENT "widl type library ${stem}.tlb" VERBATIM)
        list(APPEND generated ${out}/${stem}.tlb)
    endif()
    if(W_OUTPUT_VAR)
        set(${W_OUTPUT_VAR} ${generated} PARENT_SCOPE)
    endif()
endfunction()

function(porvex_widl_dlldata output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${PORVEX_WIDL} --dlldata-only -o ${output} ${ARGN}
        COMMENT "widl dlldata for ${ARGN}" VERBATIM)
endfunction()
