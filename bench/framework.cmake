# Framework benchmarks (Windows: they measure the Win32 message machinery).
pellory_bench(bench_framework_pumping_wait WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/framework/PumpingWaitBench.cpp
  LIBS framework_win)

# The memory manager's fast path beside the C runtime's allocator.
pellory_bench(bench_framework_memory_manager
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/framework/MemoryManagerBench.cpp
  LIBS framework_base)
