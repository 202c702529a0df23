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
endfunction()

# Sources of a folder, so that adding a file needs no edit here.
macro(qlpr_sources var)
    file(GLOB ${var} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
endmacro()
