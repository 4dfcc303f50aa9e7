# The leak catcher's allocate/free pair with the catcher off and on.
pellory_bench(bench_errorreport_leaks NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/LeaksBench.cpp
  LIBS errorreport_core)
