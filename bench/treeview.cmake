# The tree view (Windows): the unit's start-up and shut-down in a process.
pellory_bench(bench_treeview_startup WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreeStartupBench.cpp
  LIBS treeview_win pellory_tree_resources)

# The tree's core: a million nodes made, initialised and cleared, rows looked up, sorted, expanded, selected and deleted.
pellory_bench(bench_treeview_core NATIVE_ONLY SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreeCoreBench.cpp LIBS treeview_core)

# The same figures on the control's core under Wine, with the memory per node from the private bytes.
pellory_bench(bench_treeview_control WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreeControlBench.cpp
  LIBS treeview_win pellory_tree_resources)

# Painting a client of a million-node tree beside one of a hundred-node tree.
pellory_bench(bench_treeview_paint WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/TreePaintBench.cpp
  LIBS treeview_win pellory_tree_resources)

# Node streams: a million captioned nodes saved and loaded, beside 25-byte writes into a memory stream.
pellory_bench(bench_treeview_node_stream NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/NodeStreamBench.cpp
  LIBS treeview_core)

# Walking and rendering 100,000 selected nodes, beside walking and rendering as many nodes in tree order.
pellory_bench(bench_treeview_selection_walk NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/treeview/SelectionWalkBench.cpp
  LIBS treeview_core)
