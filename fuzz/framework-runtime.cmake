# Framework runtime: resource string blocks and BMP files.
pellory_fuzzer(fuzz_res_string_block SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ResStringsFuzz.cpp LIBS framework_base)
pellory_fuzzer(fuzz_dib_bmp SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DibFuzz.cpp LIBS framework_base)
