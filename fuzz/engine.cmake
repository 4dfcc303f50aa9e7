# Phone object: frames from an outside device handed to its dispatcher.
pellory_fuzzer(fuzz_phone_dispatch SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneDispatchFuzz.cpp LIBS phone_core)
