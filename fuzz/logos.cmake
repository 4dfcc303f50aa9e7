# One target per phone-logo reader.
foreach(_logo Nol Ngg Nlm Ota Nsl)
  string(TOLOWER ${_logo} _name)
  pellory_fuzzer(fuzz_logo_${_name} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NokiaLogosFuzz.cpp LIBS phone_core)
  target_compile_definitions(fuzz_logo_${_name} PRIVATE LOGO_FORMAT=${_logo})
endforeach()
