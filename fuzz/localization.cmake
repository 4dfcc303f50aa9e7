# Localization: LZJ tokens, packed strings, language files and PE files.
pellory_fuzzer(fuzz_lzj_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LzjDecodeFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_packed_strings SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PackedStringsFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_lang_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LangFileFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_pe_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PEReaderFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_live_forms SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LiveFormsFuzz.cpp LIBS localization_core)
if(TARGET fuzz_live_forms)
  target_include_directories(fuzz_live_forms PRIVATE ${PELLORY_ROOT}/localization/tests)
endif()
