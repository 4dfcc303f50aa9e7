# Localization: LZJ compression and decompression throughput beside zlib on the same text.
pellory_bench(bench_lzj SOURCES ${CMAKE_CURRENT_LIST_DIR}/localization/LzjBench.cpp LIBS localization_core pellory_zlib)
