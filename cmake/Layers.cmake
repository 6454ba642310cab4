# Folders are layers. hm_layer_library() makes a folder's one library and
# publishes the folder's headers to the libraries that link it, and to no
# one else: the project's root is on no include path, so `#include "fix/x.h"`
# compiles only in a target that links hm_fix. An upward include therefore
# fails to build.
#
# Each folder's headers are reached through a directory of the build tree
# holding one link, <folder> -> the source folder.
function(hm_publish_folder target scope folder)
    set(stage ${CMAKE_BINARY_DIR}/layers/${folder})
    if(NOT EXISTS ${stage}/${folder})
        file(MAKE_DIRECTORY ${stage})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${stage}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} ${stage})
endfunction()

# hm_layer_library(TARGET [SOURCES ...] [LINKS ...]): a static library of
# this folder's sources (all *.cpp unless SOURCES names them), linking only
# the libraries of the folders below it.
function(hm_layer_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    if(NOT ARG_SOURCES)
        file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    endif()
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    add_library(${target} STATIC ${ARG_SOURCES})
    hm_publish_folder(${target} PUBLIC ${folder})
    target_link_libraries(${target} PUBLIC ${ARG_LINKS} hm_win32)
endfunction()
