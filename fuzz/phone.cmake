# Phone link layer and message catalogue: bytes and frames from an outside device.
pellory_fuzzer(fuzz_phone_frames SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneFramesFuzz.cpp LIBS phone_core)
pellory_fuzzer(fuzz_phone_replies SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneRepliesFuzz.cpp LIBS phone_core)
