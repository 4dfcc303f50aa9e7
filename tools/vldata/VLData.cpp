// vldata: writes the exception-reporting library's data block for a module.
//
//   vldata [--version N] [--build-time DAYS] [--password PW] [--leak BYTE]
//          [--leak-main BYTE] [--symbol ID:OFFSET:VALUE]... [--debug FILE]
//          --options FILE (--block OUT | --rc OUT.rc BLOCK_OUT | --append MODULE)
//
//   vldata --default-options OUT [--mail-host HOST] [--freeze-seconds N] [--text N=TEXT]...
//
//   vldata --locate MODULE ADDRESS...
//
// --lines MODULE (with --objdump and --nm naming the cross binutils) makes
// the debug data from the linked module's line rows and code symbols: the
// compact line table with "Class.Method" names. --symbol-name ID:NAME[:BYTES]
// adds a special symbol for the function of that demangled name
// ("Class::Method" or "Function"). For the handlers the library patches
// (ids 4, 5, 9 and 10) the symbol's value is the bytes of stack arguments the
// function removes on return: BYTES, else the "@N" of a stdcall name, else 0
// for a free function; a scoped name without BYTES is refused, since a member
// may remove its arguments itself. --locate reads the trailer block of MODULE and prints, for
// each address, "ADDRESS<TAB>unit<TAB>Class::Procedure<TAB>line" as the
// library's line-table walk names it.
//
// --options names an option file (the options' SaveToFile form, in the format
// of the version). --block writes the resource form, --rc also writes a
// resource script that embeds it as RCDATA "VLDATA", --append adds the
// trailer form to the end of a linked module. --default-options writes an
// option file of the factory defaults with the given fields changed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

#include "ByteReader.h"
#include "ECore.h"
#include "ELocation.h"
#include "Streams.h"
#include "VLDataWriter.h"
#include "VLDebugWriter.h"

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

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "NAME:BYTES" (a single colon, not a scope's "::"): the name and the bytes.
bool SplitArgumentBytes(std::string& name, std::uint32_t& bytes) {
  const std::size_t colon = name.rfind(':');
  if (colon == std::string::npos || colon == 0 || name[colon - 1] == ':' || !AllDigits(name.substr(colon + 1)))
    return false;
  bytes = static_cast<std::uint32_t>(std::stoul(name.substr(colon + 1), nullptr, 10));
  name.resize(colon);
  return true;
}

// The "@N" that ends a stdcall function's name: the bytes it removes.
bool StdcallArgumentBytes(const std::string& name, std::uint32_t& bytes) {
  const std::size_t at = name.rfind('@');
  if (at == std::string::npos || at == 0 || !AllDigits(name.substr(at + 1))) return false;
  bytes = static_cast<std::uint32_t>(std::stoul(name.substr(at + 1), nullptr, 10));
  return true;
}

// The output of a command; a failing command is an error.
std::string RunCommand(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  if (pclose(p) != 0) throw std::runtime_error("command failed: " + command);
  return out;
}

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The image base and machine of a PE file.
void ReadImageFacts(const std::string& image, std::uint64_t& base, bool& is32) {
  ByteReader r(image);
  const std::size_t pe = r.U32LEAt(0x3C);
  if (r.U32LEAt(pe) != 0x00004550u) throw std::runtime_error("not a PE image");
  const std::size_t opt = pe + 24;
  is32 = r.U16LEAt(opt) == 0x10B;
  base = is32 ? r.U32LEAt(opt + 28) : (static_cast<std::uint64_t>(r.U32LEAt(opt + 28)) << 32 | r.U32LEAt(opt + 24));
}

struct ModuleFacts {
  std::vector<TVLLineRow> rows;
  std::vector<TVLFunctionSymbol> functions;
};

ModuleFacts ReadModuleFacts(const std::string& module, const std::string& objdump, const std::string& nm) {
  if (objdump.empty() || nm.empty()) throw std::runtime_error("--lines needs --objdump and --nm");
  std::uint64_t base;
  bool is32;
  ReadImageFacts(ReadFile(module), base, is32);
  const std::uint64_t codeBase = base + kCodeStartRva;
  ModuleFacts facts;
  facts.rows = ParseDecodedLines(RunCommand(Quoted(objdump) + " --dwarf=decodedline " + Quoted(module)), codeBase);
  facts.functions = ParseNmSymbols(RunCommand(Quoted(nm) + " -C " + Quoted(module)), codeBase, is32);
  return facts;
}

int Locate(int argc, char** argv) {
  const std::string module = argv[2];
  const std::string image = ReadFile(module);
  std::uint64_t base;
  bool is32;
  ReadImageFacts(image, base, is32);
  TVantorModuleInfo entry;
  entry.Handle = static_cast<ModuleHandle>(base);
  entry.FileName = module;
  TOwned<TStringStream> file(New<TStringStream>(image));
  TDataBlockReading how;
  if (!ReadTrailerDataBlock(*file, entry, how)) throw std::runtime_error("no data block at the end of " + module);
  for (int i = 3; i < argc; ++i) {
    const std::uint64_t address = std::stoull(argv[i], nullptr, 16);
    TVLLocationInfo location;
    location.Module = &entry;
    const bool found = LocateInOwnDebugData(address, location);
    std::printf("%s\t%s\t%s%s%s\t%d\n", argv[i], found ? location.UnitName.c_str() : "?", location.ClassName.c_str(),
                location.ClassName.empty() ? "" : "::", location.ProcedureName.c_str(), found ? location.Line : 0);
  }
  FreeAndNil(entry.Options);
  FreeAndNil(entry.DebugData);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vldata [--version N] [--build-time DAYS] [--password PW] [--leak BYTE] [--leak-main BYTE]\n"
               "              [--symbol ID:OFFSET:VALUE]... [--debug FILE] --options FILE\n"
               "              [--lines MODULE --objdump PATH --nm PATH] [--symbol-name ID:NAME]...\n"
               "              (--block OUT | --rc OUT.rc BLOCK_OUT | --append MODULE)\n"
               "       vldata --locate MODULE ADDRESS...\n");
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
    if (argc >= 3 && std::string(argv[1]) == "--locate") return Locate(argc, argv);
    TVLDataInput input;
    std::string optionsFile, block, rc, append, lines, objdump, nm;
    std::vector<std::pair<std::uint8_t, std::string>> namedSymbols;
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
      } else if (arg == "--lines") {
        lines = next();
      } else if (arg == "--objdump") {
        objdump = next();
      } else if (arg == "--nm") {
        nm = next();
      } else if (arg == "--symbol-name") {
        const std::string value = next();
        const std::size_t colon = value.find(':');
        if (colon == std::string::npos) throw std::runtime_error("bad --symbol-name: " + value);
        namedSymbols.emplace_back(static_cast<std::uint8_t>(Number(value.substr(0, colon))), value.substr(colon + 1));
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
    if (!lines.empty() || !namedSymbols.empty()) {
      const ModuleFacts facts = ReadModuleFacts(lines, objdump, nm);
      if (!lines.empty()) {
        TVLLineTableInput table{facts.rows, facts.functions, NormalizeDataVersion(input.version), input.password};
        input.debugData = MakeLineTable(table);
      }
      for (const auto& [id, given] : namedSymbols) {
        std::string name = given;
        std::uint32_t value = 0;
        if (!SplitArgumentBytes(name, value)) {
          const bool handler = id == 4 || id == 5 || id == 9 || id == 10;
          if (handler && !StdcallArgumentBytes(name, value) && name.find("::") != std::string::npos)
            throw std::runtime_error("--symbol-name " + given +
                                     ": the bytes of stack arguments it removes are unknown (add :BYTES)");
        }
        auto f = std::find_if(facts.functions.begin(), facts.functions.end(), [&](const TVLFunctionSymbol& s) {
          return (s.ClassName.empty() ? s.Name : s.ClassName + "::" + s.Name) == name;
        });
        if (f == facts.functions.end()) throw std::runtime_error("no function " + name + " in " + lines);
        input.symbols.push_back({id, f->Offset, value});
      }
    }
    if (!block.empty()) WriteFile(block, MakeResourceBlock(input), false);
    if (!rc.empty()) WriteFile(rc, MakeResourceScript(block), false);
    if (!append.empty()) WriteFile(append, MakeTrailerBlock(input), true);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vldata: %s\n", e.what());
    return 1;
  }
}
