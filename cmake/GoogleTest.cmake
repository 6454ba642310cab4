# GoogleTest: Debian's libgtest-dev natively; for MinGW builds compiled from
# the sources of Debian's googletest package with the cross compiler.
if(WIN32)
    set(HM_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${HM_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
else()
    find_package(GTest REQUIRED)
endif()

# hm_add_test(NAME SOURCES... [LIBS ...]): one GoogleTest program, run by
# ctest as a single test (under wine64 for Windows builds, through
# CMAKE_CROSSCOMPILING_EMULATOR) so its own summary shows in the log.
function(hm_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main hm_win32)
    hm_publish_folder(${name} PRIVATE tests)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
                                  CALL hm_check_test_layer ${name} ${folder})")
    # A test of the plug-in as a host loads it sees the engine's headers
    # (to reach its state) without linking a second copy of the engine.
    if(hivemender IN_LIST ARG_LIBS)
        target_include_directories(${name} PRIVATE
            $<TARGET_PROPERTY:hm_engine,INTERFACE_INCLUDE_DIRECTORIES>)
    endif()
    if(WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
        return() # 32-bit Windows programs: built to prove they compile, nothing here runs them
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()

# A test in tests/<folder> links that folder's layer and those below it only;
# checked once every target is known. Two folders' layers have other names.
set(HM_TEST_LAYER_engine hivemender hm_plugin_api)
set(HM_TEST_LAYER_host hm_host_lib)
function(hm_check_test_layer name folder)
    set(allowed hm_${folder} ${HM_TEST_LAYER_${folder}})
    set(links ${name})
    foreach(set IN ITEMS allowed links) # each replaced by all its items reach
        set(todo ${${set}})
        set(${set} "")
        while(NOT "${todo}" STREQUAL "")
            list(POP_FRONT todo target)
            if(TARGET ${target} AND NOT target IN_LIST ${set})
                list(APPEND ${set} ${target})
                get_target_property(direct ${target} LINK_LIBRARIES)
                get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
                list(APPEND todo ${direct} ${interface})
            endif()
        endwhile()
    endforeach()
    list(FILTER links INCLUDE REGEX "^(hm_.*|hivemender)$")
    list(FILTER links EXCLUDE REGEX "_test_support$")
    list(REMOVE_ITEM links ${allowed})
    if(links)
        list(JOIN links " " links)
        message(FATAL_ERROR "${name} (tests/${folder}) links ${links}, above its layer")
    endif()
endfunction()
