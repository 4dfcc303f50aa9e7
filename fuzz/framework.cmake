# Framework: the bounds-checked byte reader, binary forms (reader and binary-to-text
# converter), the form text parser, resource string blocks and BMP files.
pellory_fuzzer(fuzz_byte_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ByteReaderFuzz.cpp LIBS framework_base)
pellory_fuzzer(fuzz_form_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FormReaderFuzz.cpp LIBS framework_base)
pellory_fuzzer(fuzz_form_parser SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FormParserFuzz.cpp LIBS framework_base)
pellory_fuzzer(fuzz_res_string_block SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ResStringsFuzz.cpp LIBS framework_base)
pellory_fuzzer(fuzz_dib_bmp SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DibFuzz.cpp LIBS framework_base)
