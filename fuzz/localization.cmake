# Localization: LZJ tokens, packed strings, language files, PE files and form translation.
pellory_fuzzer(fuzz_lzj_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LzjDecodeFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_packed_strings SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PackedStringsFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_lang_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LangFileFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_pe_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PEReaderFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_form_translate SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FormTranslateFuzz.cpp LIBS localization_core)
