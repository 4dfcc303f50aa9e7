// Resource-only fixture libraries made by the mingw resource compiler and
// linker at build time (tools/locfixtures/LocFixture.rc): a string table with
// identifiers 0, 17, 65264, 65265 and 65295, and the RCDATA items
// "TWIZARDFORM", "WQM_LIBSETTINGS_", "MIXED_CASE" and 300.
#pragma once

#include <cstddef>
#include <string>

extern const unsigned char kLocFixture_i686[];
extern const std::size_t kLocFixture_i686_size;
extern const unsigned char kLocFixture_x86_64[];
extern const std::size_t kLocFixture_x86_64_size;

inline std::string LocFixture32() {
  return std::string(reinterpret_cast<const char*>(kLocFixture_i686), kLocFixture_i686_size);
}
inline std::string LocFixture64() {
  return std::string(reinterpret_cast<const char*>(kLocFixture_x86_64), kLocFixture_x86_64_size);
}
