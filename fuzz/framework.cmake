# The framework's form readers: binary forms (reader and binary-to-text converter) and the form text parser.
pellory_fuzzer(fuzz_form_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FormReaderFuzz.cpp LIBS framework_base)
pellory_fuzzer(fuzz_form_parser SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FormParserFuzz.cpp LIBS framework_base)
