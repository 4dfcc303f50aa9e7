pellory_fuzzer(fuzz_lzj_decode SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LzjDecodeFuzz.cpp LIBS localization_core)
pellory_fuzzer(fuzz_packed_strings SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PackedStringsFuzz.cpp LIBS localization_core)
