# The tree view (Windows): the unit's start-up and shut-down in a process.
pellory_bench(bench_treeview_startup WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreeStartupBench.cpp
  LIBS treeview_win pellory_tree_resources)
