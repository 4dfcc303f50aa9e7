# Tree view: the node stream reader on a tree with captions and user data.
pellory_fuzzer(fuzz_node_stream SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NodeStreamFuzz.cpp LIBS treeview_core)
# The clipboard's transfer block ({u32 size, node stream}) inserted into a tree.
pellory_fuzzer(fuzz_tree_data_block SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/TreeDataBlockFuzz.cpp LIBS treeview_core)
