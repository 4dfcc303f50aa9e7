# Components (native): the GIF raster decoder beside giflib on the same files,
# the encoder's throughput, and the colour reductions beside a plain reference.
if(NOT WIN32 AND NOT PELLORY_FUZZ)
  find_package(GIF REQUIRED)
  pellory_bench(bench_gif_lzw NATIVE_ONLY
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/components/GifLzwBench.cpp
    LIBS components_core GIF::GIF)
  target_compile_definitions(bench_gif_lzw PRIVATE PELLORY_SOURCE_DIR="${PELLORY_ROOT}")
  pellory_bench(bench_color_reduction NATIVE_ONLY
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/components/ColorReductionBench.cpp
    LIBS components_core)
endif()
# Component benchmarks (Windows: the animation draws through GDI).
pellory_bench(bench_components_animation WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/components/AnimationBench.cpp
  LIBS components_win)
