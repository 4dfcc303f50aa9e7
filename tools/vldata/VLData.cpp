// vldata: writes the exception-reporting library's data block for a module.
//
//   vldata [--version N] [--build-time DAYS] [--password PW] [--leak BYTE]
//          [--leak-main BYTE] [--symbol ID:OFFSET:VALUE]... [--debug FILE]
//          --options FILE (--block OUT | --rc OUT.rc BLOCK_OUT | --append MODULE)
//
// --options names an option file (the options' SaveToFile form, in the format
// of the version). --block writes the resource form, --rc also writes a
// resource script that embeds it as RCDATA "VLDATA", --append adds the
// trailer form to the end of a linked module.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

#include "VLDataWriter.h"

namespace {

std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + name);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& name, const std::string& data, bool append) {
  std::ofstream f(name, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  if (!f || !f.write(data.data(), static_cast<std::streamsize>(data.size())))
    throw std::runtime_error("cannot write " + name);
}

unsigned long Number(const std::string& text) {
  std::size_t used = 0;
  unsigned long v = std::stoul(text, &used, 0);
  if (used != text.size()) throw std::runtime_error("not a number: " + text);
  return v;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vldata [--version N] [--build-time DAYS] [--password PW] [--leak BYTE] [--leak-main BYTE]\n"
               "              [--symbol ID:OFFSET:VALUE]... [--debug FILE] --options FILE\n"
               "              (--block OUT | --rc OUT.rc BLOCK_OUT | --append MODULE)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    TVLDataInput input;
    std::string optionsFile, block, rc, append;
    bool haveOptions = false;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      auto next = [&]() -> std::string {
        if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--version") {
        input.version = static_cast<std::uint16_t>(Number(next()));
      } else if (arg == "--build-time") {
        input.buildTime = std::stod(next());
      } else if (arg == "--password") {
        input.password = next();
      } else if (arg == "--leak") {
        input.leakOptions = static_cast<std::uint8_t>(Number(next()));
      } else if (arg == "--leak-main") {
        input.leakUseMainBlock = static_cast<std::uint8_t>(Number(next()));
      } else if (arg == "--symbol") {
        std::istringstream parts(next());
        std::string id, offset, value;
        std::getline(parts, id, ':');
        std::getline(parts, offset, ':');
        std::getline(parts, value, ':');
        input.symbols.push_back({static_cast<std::uint8_t>(Number(id)), static_cast<std::uint32_t>(Number(offset)),
                                 static_cast<std::uint32_t>(value.empty() ? 0 : Number(value))});
      } else if (arg == "--debug") {
        input.debugData = ReadFile(next());
      } else if (arg == "--options") {
        optionsFile = next();
        haveOptions = true;
      } else if (arg == "--block") {
        block = next();
      } else if (arg == "--rc") {
        rc = next();
        block = next();
      } else if (arg == "--append") {
        append = next();
      } else {
        return Usage();
      }
    }
    if (!haveOptions || (block.empty() && append.empty())) return Usage();
    input.options = ReadFile(optionsFile);
    if (!block.empty()) WriteFile(block, MakeResourceBlock(input), false);
    if (!rc.empty()) WriteFile(rc, MakeResourceScript(block), false);
    if (!append.empty()) WriteFile(append, MakeTrailerBlock(input), true);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vldata: %s\n", e.what());
    return 1;
  }
}
