# The Windows tests run under Wine: 32-bit Wine for the i686 build, wine64
# for the x86_64 one, through tests/run_under_wine.sh as the emulator. The
# fixture test wine.prefix_made makes this build's own Wine prefix (with an X
# server of its own, the registry key the system queries look for, and drive
# D:); wine.prefix_removed ends its server and removes it. The tests share
# that prefix, its Windows directory and drives, so they run one at a time,
# each after the emulator has put the prefix's files back as they were made.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(RAZIVU_WINE /usr/lib/wine/wine CACHE FILEPATH "Wine launcher of the Windows tests")
else()
  set(RAZIVU_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine launcher of the Windows tests")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${RAZIVU_WINE} ${CMAKE_BINARY_DIR}/wine)
# The test programs use the compiler's C++ runtime DLLs (the static library
# names them for its C++ objects), found where the compiler keeps them.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(RAZIVU_MINGW_RUNTIME_DIR ${_runtime} DIRECTORY)
# GCC 12 warns of overlapping copies in std::string appends that inline at -O2
# for i686 (GCC bug 105329).
add_compile_options(-Wno-restrict)

add_test(NAME wine.prefix_made COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --setup)
add_test(NAME wine.prefix_removed COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --cleanup)
set_tests_properties(wine.prefix_made PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
set_tests_properties(wine.prefix_removed PROPERTIES FIXTURES_CLEANUP wine)

# Tests that run under Wine: after the prefix is made, one at a time, with
# razivu.dll and the C++ runtime on the search path. GTEST_SKIP and a C test's exit status 77
# read as skipped.
function(razivu_under_wine)
  set_tests_properties(${ARGN} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine_prefix
    ENVIRONMENT "WINEPATH=$<TARGET_FILE_DIR:razivu>\\;${RAZIVU_MINGW_RUNTIME_DIR}" SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
    SKIP_RETURN_CODE 77 TIMEOUT 120)
endfunction()

# The TEST and TEST_F names of a source as Suite.name, read without running
# the program (a discovery run would start Wine for every program at build
# time). A line that starts a test but cannot be read stops the configuration.
function(razivu_test_names src out)
  file(STRINGS ${src} lines REGEX "^TEST(_F)?\\(")
  set(names)
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^TEST(_F)?\\(([A-Za-z0-9_]+), ([A-Za-z0-9_]+)\\) {$")
      message(FATAL_ERROR "${src}: no test name in: ${line}")
    endif()
    list(APPEND names ${CMAKE_MATCH_2}.${CMAKE_MATCH_3})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# One test per TEST of src, each in a process of its own as on Linux.
function(razivu_wine_gtests target src)
  razivu_test_names(${src} names)
  foreach(test IN LISTS names)
    add_test(NAME ${test} COMMAND ${target} --gtest_filter=${test})
  endforeach()
  razivu_under_wine(${names})
endfunction()

# The tests of a Linux-only program, listed as skipped with the reason.
function(razivu_skipped_on_windows src reason)
  razivu_test_names(${src} names)
  foreach(test IN LISTS names)
    add_test(NAME ${test} COMMAND ${CMAKE_COMMAND} -E echo "[  SKIPPED ] on Windows: ${reason}")
    set_tests_properties(${test} PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
  endforeach()
endfunction()
