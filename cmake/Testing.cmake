# GoogleTest from the sources Debian ships, built with this project's own
# compiler and flags (so the same tests build for mingw and the sanitizers).
set(QUILBO_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${QUILBO_GTEST_SOURCE}/CMakeLists.txt)
  message(WARNING "GoogleTest sources not found in ${QUILBO_GTEST_SOURCE}: the "
                  "tests are not built. Install them (Debian package googletest), "
                  "or name their folder with -DQUILBO_GTEST_SOURCE=..., or build "
                  "without the tests: -DQUILBO_TESTS=OFF.")
  set(QUILBO_TESTS OFF)
  return()
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${QUILBO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its warnings are not ours to fix (g++ 12 -O3 warns inside gtest.cc).
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
if(QUILBO_STATIC)
  target_sources(gtest PRIVATE ${CMAKE_SOURCE_DIR}/tests/static/no_result_streaming.cpp)
endif()

# Helpers shared by the tests: the fault-injecting platform wrapper, temp
# folders and file utilities.
file(GLOB QUILBO_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(quilbo_test_support STATIC ${QUILBO_TEST_SUPPORT})
target_include_directories(quilbo_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quilbo_test_support PUBLIC quilbo_core GTest::gtest)
target_compile_options(quilbo_test_support PRIVATE ${QUILBO_WARNINGS})

# The executable with a fault plan taken from its first arguments, for the
# end-to-end failure sweeps.
add_executable(quilbo_faulty tests/e2e/faulty_main.cpp)
target_link_libraries(quilbo_faulty PRIVATE quilbo_test_support)
target_compile_options(quilbo_faulty PRIVATE ${QUILBO_WARNINGS})

# The one time limit of a test: a guard against a hang, never a speed limit.
# No test comes near it on a slow machine under load, under qemu or wine.
set(QUILBO_TEST_HANG_GUARD 7200)

# Cross builds run their tests through the emulator (wine, or qemu-i386 for
# linux32). Wine's prefix is created once, by a fixture that every other
# test needs, so tests started in parallel never race on creating it.
set(QUILBO_TEST_ENVIRONMENT "")
set(QUILBO_TEST_FIXTURES "")
if(QUILBO_RUN_TESTS AND CMAKE_CROSSCOMPILING_EMULATOR AND WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(arch win32)
  else()
    set(arch win64)
  endif()
  set(QUILBO_TEST_ENVIRONMENT
      "QUILBO_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;QUILBO_WINEARCH=${arch}")
  set(QUILBO_TEST_FIXTURES wine_prefix)
  add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --init)
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine_prefix
    ENVIRONMENT "${QUILBO_TEST_ENVIRONMENT}"
    TIMEOUT ${QUILBO_TEST_HANG_GUARD})
endif()

function(quilbo_test_properties name)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${QUILBO_TEST_HANG_GUARD})
  if(QUILBO_TEST_FIXTURES)
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED "${QUILBO_TEST_FIXTURES}"
      ENVIRONMENT "${QUILBO_TEST_ENVIRONMENT}")
  endif()
endfunction()

# One test program per subsystem, from the *_test.cpp files beside the code
# (src/<subsystem>/) and under tests/<subsystem>/.
file(GLOB QUILBO_SUBSYSTEM_DIRS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/src/*)
foreach(dir ${QUILBO_SUBSYSTEM_DIRS})
  if(NOT IS_DIRECTORY ${dir})
    continue()
  endif()
  get_filename_component(subsystem ${dir} NAME)
  file(GLOB tests CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/src/${subsystem}/*_test.cpp
       ${CMAKE_SOURCE_DIR}/tests/${subsystem}/*_test.cpp)
  if(NOT tests)
    continue()
  endif()
  set(target ${subsystem}_tests)
  add_executable(${target} ${tests})
  target_link_libraries(${target} PRIVATE quilbo_test_support GTest::gtest_main)
  # -Wrestrict: g++ 12 at -O3 warns falsely inside std::string's inlined
  # copies in test fixtures (a GCC-only option).
  target_compile_options(${target} PRIVATE ${QUILBO_WARNINGS} -Wno-missing-declarations
                         $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  if(QUILBO_RUN_TESTS)
    add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
    quilbo_test_properties(${target})
  endif()
endforeach()

# End-to-end: the real executable, run by a script from the build machine.
find_package(Python3 COMPONENTS Interpreter)
if(QUILBO_RUN_TESTS AND Python3_FOUND)
  set(runner "")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  add_test(NAME end_to_end
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
                   --exe $<TARGET_FILE:quilbo>
                   --faulty $<TARGET_FILE:quilbo_faulty>
                   --runner "${runner}"
                   --platform $<IF:$<BOOL:${WIN32}>,windows,posix>)
  quilbo_test_properties(end_to_end)
  # The runs whose deletions go on a thread of their own beside the copy.
  if(QUILBO_TSAN)
    add_test(NAME end_to_end_threads
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
                     --exe $<TARGET_FILE:quilbo> --faulty $<TARGET_FILE:quilbo_faulty>
                     --platform posix killed_for_real a_stop_deletes writers_lose_no_line held_open)
    quilbo_test_properties(end_to_end_threads)
  endif()
elseif(QUILBO_RUN_TESTS)
  message(WARNING "Python 3 not found: the end-to-end tests are not registered")
endif()
