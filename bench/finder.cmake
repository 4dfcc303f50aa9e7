# Phone finder: CPU of the idle search thread (native; the thread and its
# pauses are portable code).
pellory_bench(bench_finder_idle NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/phone/FinderIdleBench.cpp
  LIBS phone_core)
