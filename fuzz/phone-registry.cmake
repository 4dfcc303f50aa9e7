# Serial-port and DKU-5 port lists read from registry values of any content.
pellory_fuzzer(fuzz_serial_ports SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SerialPortsFuzz.cpp LIBS phone_core)
