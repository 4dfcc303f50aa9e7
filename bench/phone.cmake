# Link-layer benchmarks (Windows): CPU used by protocol waits and idle ports.
pellory_bench(bench_phone_idle_cpu WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/IdleCpuBench.cpp
  LIBS phone_win)
# Phone engine (Windows): time from Connect to a read IMEI against the simulated
# phone, beside the sum of the waits of the connect road.
pellory_bench(bench_phone_connect_time WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/ConnectTimeBench.cpp
  LIBS phone_win)
