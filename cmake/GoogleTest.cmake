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
