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
