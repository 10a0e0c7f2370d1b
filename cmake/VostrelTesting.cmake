# GoogleTest, cross-built from Debian's sources, and the helpers that declare
# test and benchmark executables. Tests run under Wine through the wrapper
# configured below (prefix and environment of this build tree).

set(VOSTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of this build tree")
# Each architecture runs in a prefix of its own kind, through its own loader:
# Debian's `wine` takes the 32-bit loader whenever wine32 is installed, so
# 64-bit programs are started through the 64-bit loader itself.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VOSTREL_WINEARCH win64)
    set(VOSTREL_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader of this build's programs")
else()
    set(VOSTREL_WINEARCH win32)
    set(VOSTREL_WINE_LOADER /usr/lib/wine/wine CACHE FILEPATH "Wine loader of this build's programs")
endif()
set(VOSTREL_DISPLAY ":97" CACHE STRING "X display (Xvfb) that tests with windows use")
configure_file(${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec.sh.in ${CMAKE_BINARY_DIR}/wine-exec.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
               WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-exec.sh)

set(VOSTREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VOSTREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()

# vostrel_add_test(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [SERIAL] [LABELS ...] [LOCKS ...])
# One executable, one ctest entry, run under Wine from the output folder.
# LOCKS names shared resources: tests that name the same one never run at the
# same time (e.g. vostrel_server for the tests that start the database server).
function(vostrel_add_test name)
    cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS;DEPENDS;LOCKS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1
             WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(T_SERIAL)
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_LOCKS)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
endfunction()

# vostrel_add_bench(<name> SOURCES ... [LIBS ...]): built with `all`, never run by ctest.
# Every benchmark is listed in <build>/benchmarks.txt (one executable a line)
# for scripts/bench.sh.
function(vostrel_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS})
    set_property(GLOBAL APPEND PROPERTY VOSTREL_BENCHMARKS ${name}${CMAKE_EXECUTABLE_SUFFIX})
endfunction()

function(vostrel_write_benchmark_list)
    get_property(benches GLOBAL PROPERTY VOSTREL_BENCHMARKS)
    list(JOIN benches "\n" lines)
    file(WRITE ${CMAKE_BINARY_DIR}/benchmarks.txt.new "${lines}\n")
    configure_file(${CMAKE_BINARY_DIR}/benchmarks.txt.new ${CMAKE_BINARY_DIR}/benchmarks.txt COPYONLY)
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vostrel_write_benchmark_list)
