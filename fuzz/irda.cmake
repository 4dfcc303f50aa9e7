# The infrared and DKU-2 reader's PhoNet cutter, the infrared device list and DKU-2 detail records.
pellory_fuzzer(fuzz_irda SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/IrdaFuzz.cpp LIBS phone_core)
