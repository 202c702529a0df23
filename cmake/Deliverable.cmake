# qlpr_cxx_runtime(<target>): a program or library of the package carries the
# parts of the C++ runtime it uses (QLPR_STATIC_CXX_RUNTIME). Loading the
# shared runtime, with its thousands of relocations and pages written at
# every start, takes about as long as a short print job's own work. Each
# library keeps its copy to itself (--exclude-libs); what crosses between
# them (strings, vectors, exceptions) has the same layout and allocates
# with malloc, and the unwinder (libgcc_s) stays shared.
function(qlpr_cxx_runtime target)
    if(NOT QLPR_STATIC_CXX_RUNTIME)
        return()
    endif()
    target_link_options(${target} PRIVATE -static-libstdc++ -Wl,--gc-sections)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
        target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
        # A library freed and loaded again takes a new copy's memory.
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/cxx_runtime/release_pool.cpp)
    endif()
endfunction()

# qlpr_library(<target> <FILE NAME> <sources...>): a shared library loaded by
# name at run time, built under the deliverable's own file name (QLPRGI.DLL).
# Its own symbols bind inside it (-Bsymbolic), so a program that also links
# the same code statically never interposes.
function(qlpr_library target file_name)
    add_library(${target} SHARED ${ARGN})
    get_filename_component(stem ${file_name} NAME_WE)
    get_filename_component(ext ${file_name} LAST_EXT)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${stem} SUFFIX ${ext})
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic ${QLPR_NO_UNDEFINED})
    qlpr_cxx_runtime(${target})
endfunction()

# Sources of a folder, so that adding a file needs no edit here.
macro(qlpr_sources var)
    file(GLOB ${var} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
endmacro()
