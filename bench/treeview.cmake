# The tree view (Windows): the unit's start-up and shut-down in a process.
pellory_bench(bench_treeview_startup WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreeStartupBench.cpp
  LIBS treeview_win pellory_tree_resources)

# The tree's core: a million top-level nodes made, initialised and cleared, each beside a plain reference.
pellory_bench(bench_treeview_core SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreeCoreBench.cpp LIBS treeview_core)
