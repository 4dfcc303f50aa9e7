# Phone: bytes and frames from an outside device (link layer, message catalogue,
# the phone object's dispatcher), the infrared and DKU-2 reader's PhoNet cutter,
# the infrared device list and DKU-2 detail records, serial-port and DKU-5 port
# lists read from registry values of any content, and the phone-logo readers.
pellory_fuzzer(fuzz_phone_frames SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneFramesFuzz.cpp LIBS phone_core)
pellory_fuzzer(fuzz_phone_replies SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneRepliesFuzz.cpp LIBS phone_core)
pellory_fuzzer(fuzz_phone_dispatch SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PhoneDispatchFuzz.cpp LIBS phone_core)
pellory_fuzzer(fuzz_irda SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/IrdaFuzz.cpp LIBS phone_core)
pellory_fuzzer(fuzz_serial_ports SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SerialPortsFuzz.cpp LIBS phone_core)
# One target per phone-logo reader.
foreach(_logo Nol Ngg Nlm Ota Nsl)
  string(TOLOWER ${_logo} _name)
  pellory_fuzzer(fuzz_logo_${_name} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NokiaLogosFuzz.cpp LIBS phone_core)
  target_compile_definitions(fuzz_logo_${_name} PRIVATE LOGO_FORMAT=${_logo})
endforeach()
