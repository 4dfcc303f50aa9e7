# Tree view: the node stream reader on a tree with captions and user data.
pellory_fuzzer(fuzz_node_stream SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NodeStreamFuzz.cpp LIBS treeview_core)
