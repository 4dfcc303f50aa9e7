# Components: GIF raster data.
pellory_fuzzer(fuzz_gif_lzw SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/GifLzwFuzz.cpp LIBS components_core)
