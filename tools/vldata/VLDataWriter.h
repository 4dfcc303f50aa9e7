// The writer of the exception-reporting library's data block VLDATA: the
// resource form (RCDATA "VLDATA") and the trailer appended to a module file,
// from an option stream, a version, a build time, a password, the leak
// catcher's bytes, special symbols and debug data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TVLDataSymbol {
  std::uint8_t id = 0;
  std::uint32_t offset = 0;  // code offset (module base + 4096 + offset)
  std::uint32_t value = 0;
};

struct TVLDataInput {
  std::string options;  // the option stream, in the format of `version`
  std::uint16_t version = 6022;
  double buildTime = 0;  // days, UTC
  std::string password;
  std::uint8_t leakOptions = 0;
  std::uint8_t leakUseMainBlock = 0;
  std::vector<TVLDataSymbol> symbols;
  std::string debugData;
  std::uint32_t magic = 0x100FAB10u;
};

// The resource form; its layout follows the version (600-602 count as 6000-6002).
std::string MakeResourceBlock(const TVLDataInput& input);
// The trailer form, to be appended to a module file.
std::string MakeTrailerBlock(const TVLDataInput& input);
// A resource script that embeds `blockFile` as RCDATA "VLDATA".
std::string MakeResourceScript(const std::string& blockFile);
