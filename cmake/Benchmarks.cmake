find_package(benchmark REQUIRED)
file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*/*_bench.cpp
     ${CMAKE_SOURCE_DIR}/bench/*_bench.cpp)
foreach(source ${benches})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE quilbo_core benchmark::benchmark benchmark::benchmark_main)
  target_compile_options(${name} PRIVATE ${QUILBO_WARNINGS} -Wno-missing-declarations)
endforeach()
