# Phone finder: CPU of the idle search thread (native; the thread and its
# pauses are portable code).
pellory_bench(bench_finder_idle NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/FinderIdleBench.cpp
  LIBS phone_core)

# The same on Windows (under Wine here): the search thread's own CPU, measured
# with GetThreadTimes while the finder runs as the program starts it.
pellory_bench(bench_finder_idle_win WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/FinderIdleWinBench.cpp
  LIBS phone_win)

# Link-layer benchmarks (Windows): CPU used by protocol waits and idle ports.
pellory_bench(bench_phone_idle_cpu WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/IdleCpuBench.cpp
  LIBS phone_win)

# Phone engine (Windows): time from Connect to a read IMEI against the simulated
# phone, and the AT-switch link set-up, each beside the sum of the waits its road
# prescribes.
pellory_bench(bench_phone_connect_time WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/ConnectTimeBench.cpp
  LIBS phone_win)
