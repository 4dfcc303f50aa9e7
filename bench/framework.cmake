# Framework benchmarks (Windows: they measure the Win32 message machinery).
pellory_bench(bench_framework_pumping_wait WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/framework/PumpingWaitBench.cpp
  LIBS framework_win)
