find_package(benchmark REQUIRED)
file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*_bench.cpp)
foreach(source ${benches})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE quilbo_core benchmark::benchmark benchmark::benchmark_main)
  target_compile_options(${name} PRIVATE ${QUILBO_WARNINGS} -Wno-missing-declarations)
endforeach()

# The yardstick of bench/archive_speed.py: the archive rule as a plain loop
# over 64 KiB reads and writes.
add_executable(plain_copy ${CMAKE_SOURCE_DIR}/bench/plain_copy.cpp)
target_compile_options(plain_copy PRIVATE ${QUILBO_WARNINGS})

# A smoke run of the speed script (seconds): it keeps working, and the
# program agrees byte for byte with the plain loop and with sed.
if(QUILBO_TESTS AND QUILBO_RUN_TESTS AND Python3_FOUND)
  add_test(NAME archive_speed_smoke
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/bench/archive_speed.py
                   --quick --exe $<TARGET_FILE:quilbo> --plain $<TARGET_FILE:plain_copy>)
  set_tests_properties(archive_speed_smoke PROPERTIES TIMEOUT ${QUILBO_TEST_HANG_GUARD})
endif()
