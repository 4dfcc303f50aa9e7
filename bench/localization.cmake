pellory_bench(bench_lzj SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LzjBench.cpp LIBS localization_core pellory_zlib)
