# Tools: the phone simulator's frame cutter and link session (tools/phonesim).
if(TARGET phonesim_core)
  pellory_fuzzer(fuzz_phonesim SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneSimFuzz.cpp LIBS phonesim_core)
endif()
