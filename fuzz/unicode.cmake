# Unicode layer: UTF-7 and UTF-8 decoding, the wide command-line splitter and
# the form reader on a component with wide properties.
pellory_fuzzer(fuzz_utf7 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/Utf7Fuzz.cpp LIBS unicode_core)
pellory_fuzzer(fuzz_utf8 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/Utf8Fuzz.cpp LIBS unicode_core)
pellory_fuzzer(fuzz_wide_param SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/WideParamFuzz.cpp LIBS unicode_core)
pellory_fuzzer(fuzz_wide_form_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/WideFormReaderFuzz.cpp LIBS unicode_core)
