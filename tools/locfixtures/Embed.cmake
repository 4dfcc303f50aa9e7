# cmake -DFIXTURES="arch=path;..." -DOUTPUT=file.cpp -P Embed.cmake
# Writes each fixture library as a byte array kLocFixture_<arch> with its size.
set(_text "// Generated from the fixture libraries; do not edit.\n#include <cstddef>\n\n")
foreach(_entry IN LISTS FIXTURES)
  string(REGEX REPLACE "=.*$" "" _name "${_entry}")
  string(REGEX REPLACE "^[^=]*=" "" _path "${_entry}")
  file(READ "${_path}" _hex HEX)
  string(LENGTH "${_hex}" _len)
  math(EXPR _size "${_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(APPEND _text "extern const unsigned char kLocFixture_${_name}[] = {${_bytes}};\n")
  string(APPEND _text "extern const std::size_t kLocFixture_${_name}_size = ${_size};\n")
endforeach()
file(WRITE "${OUTPUT}" "${_text}")
