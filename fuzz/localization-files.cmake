# Language files and PE files: outside data read by the localization engine.
pellory_fuzzer(fuzz_lang_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LangFileFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_pe_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PEReaderFuzz.cpp LIBS localization_core)
