# Component benchmarks (Windows: the animation draws through GDI).
pellory_bench(bench_components_animation WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/components/AnimationBench.cpp
  LIBS components_win)
