# Link-layer benchmarks (Windows): CPU used by protocol waits and idle ports.
pellory_bench(bench_phone_idle_cpu WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/IdleCpuBench.cpp
  LIBS phone_win)
