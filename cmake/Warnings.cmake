# One warning policy for every target of ours (third-party targets are added before this).
add_compile_options(-Wall -Wextra -Werror)
# C++ only: the C sources are widl's generated proxies and identifiers.
#  -Wshadow: a name that hides another in scope is a mistake waiting to happen.
#  -Wconversion (GCC, both toolchains): a conversion that may change a value is written out.
#   Clang's -Wconversion includes -Wsign-conversion, which the code is not held to; the
#   clang tree (fuzz) builds without it.
#  -Wnon-virtual-dtor: native only. COM interfaces have no virtual destructor by their
#   binary layout (objects end through Release, never through delete), so every COM class
#   of the Windows code would trip it; deleting through a base without a virtual destructor
#   is still caught everywhere by -Wdelete-non-virtual-dtor (in -Wall).
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wshadow>)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wconversion>)
endif()
if(NOT PORVEX_WIN32)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
endif()
