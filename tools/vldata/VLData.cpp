// vldata: writes the exception-reporting library's data block for a module.
//
//   vldata [--version N] [--build-time DAYS] [--password PW] [--leak BYTE]
//          [--leak-main BYTE] [--symbol ID:OFFSET:VALUE]... [--debug FILE]
//          --options FILE (--block OUT | --rc OUT.rc BLOCK_OUT | --append MODULE)
//
//   vldata --default-options OUT [--mail-host HOST] [--freeze-seconds N] [--text N=TEXT]...
//
// --options names an option file (the options' SaveToFile form, in the format
// of the version). --block writes the resource form, --rc also writes a
// resource script that embeds it as RCDATA "VLDATA", --append adds the
// trailer form to the end of a linked module. --default-options writes an
// option file of the factory defaults with the given fields changed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

#include "ECore.h"
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

int DefaultOptions(int argc, char** argv) {
  TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>(""));
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--mail-host") {
      options->SetMailHost(value);
    } else if (arg == "--freeze-seconds") {
      options->SetFreezeSeconds(static_cast<std::int32_t>(Number(value)));
    } else if (arg == "--text") {
      const std::size_t eq = value.find('=');
      const unsigned long index = Number(value.substr(0, eq));
      if (eq == std::string::npos || index >= kCustomTextCount) throw std::runtime_error("bad text: " + value);
      options->SetCustomText(static_cast<int>(index), value.substr(eq + 1));
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0) return Usage();
  options->SaveToFile(argv[2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 3 && std::string(argv[1]) == "--default-options") return DefaultOptions(argc, argv);
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
