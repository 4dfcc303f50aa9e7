# Exception reporting: naming a full call stack (1024 addresses) from a line table of 5000 functions.
pellory_bench(bench_locations SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/LocationBench.cpp
  ${PELLORY_ROOT}/tools/vldata/VLDebugWriter.cpp LIBS errorreport_core)
if(TARGET bench_locations)
  target_include_directories(bench_locations PRIVATE ${PELLORY_ROOT}/tools/vldata)
endif()
