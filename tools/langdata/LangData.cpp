// pellory_langdata: writes the localization engine's language data from text sources.
//
//   pellory_langdata lng NATIVE.txt [TRANSLATION.txt] [--format N] [--compress] -o FILE
//       a language file: the native one, or the translation's
//   pellory_langdata list NATIVE.txt [TRANSLATION.txt...] [--list-format K] [--format N] [--compress] -o FILE
//       the embedded language list "WQM_LOC_LANGS_" (native first, then the translations in order)
//   pellory_langdata settings NATIVE.txt --kind exe|lib -o FILE
//       the settings resource "WQM_EXESETTINGS_" (exe) or "WQM_LIBSETTINGS_" (lib)
//
// Every command also takes --version N and --build N: they replace the
// version and build of every source, so that the program's data all carries
// the numbers of the build that made it (a library left by another build is
// then out of step and built anew).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "JCompress.h"
#include "LangFileWriter.h"
#include "LangSource.h"

namespace {

struct TOptions {
  std::string command;
  std::vector<std::string> sources;
  int format = 7;
  int listFormat = 4;
  bool compress = false;
  std::string kind;
  std::string output;
  std::optional<std::uint32_t> version;
  std::optional<std::uint32_t> build;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr
      << "pellory_langdata: " << problem << "\n"
      << "usage: pellory_langdata lng NATIVE [TRANSLATION] [--format N] [--compress] -o FILE\n"
      << "       pellory_langdata list NATIVE [TRANSLATION...] [--list-format K] [--format N] [--compress] -o FILE\n"
      << "       pellory_langdata settings NATIVE --kind exe|lib -o FILE\n"
      << "       (each also takes --version N --build N, stamped on every source)\n";
  std::exit(2);
}

std::uint32_t Unsigned(const std::string& option, const std::string& text, std::uint64_t max) {
  std::size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-' || value > max) Usage(option + " needs a number");
  return static_cast<std::uint32_t>(value);
}

TOptions Parse(int argc, char** argv) {
  TOptions o;
  if (argc < 2) Usage("no command");
  o.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--format") {
      o.format = std::stoi(next());
    } else if (a == "--list-format") {
      o.listFormat = std::stoi(next());
    } else if (a == "--compress") {
      o.compress = true;
    } else if (a == "--kind") {
      o.kind = next();
    } else if (a == "--version") {
      o.version = Unsigned(a, next(), 0x7FFFFFFF);
    } else if (a == "--build") {
      o.build = Unsigned(a, next(), 0xFFFFFFFF);
    } else if (a == "-o") {
      o.output = next();
    } else if (!a.empty() && a[0] == '-') {
      Usage("unknown option " + a);
    } else {
      o.sources.push_back(a);
    }
  }
  if (o.sources.empty()) Usage("no native source");
  if (o.output.empty()) Usage("no output file (-o)");
  return o;
}

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw ELangSourceError("cannot write " + name);
}

std::string Image(const TLangSource& src, const TLangResource& store, int index, const TOptions& o) {
  TLangFileHeader h = src.Header;
  h.Format = static_cast<std::uint16_t>(o.format);
  h.IsNative = index == 0;
  std::string image = WriteLangFileImage(h, store, index);
  return o.compress ? LzjCompress(image) : image;
}

void Stamp(TLangSource& source, const TOptions& o) {
  if (o.version) source.Header.Version = *o.version;
  if (o.build) source.Header.Build = *o.build;
}

int Run(const TOptions& o) {
  TLangSource native = LoadLangSource(o.sources[0]);
  Stamp(native, o);
  if (!native.Header.IsNative) throw ELangSourceError(o.sources[0] + ": not a native source (no \"native\" line)");
  TOwned<TLangResource> store(New<TLangResource>());
  BuildNativeStore(native, *store);
  std::vector<TLangSource> translations;
  for (std::size_t i = 1; i < o.sources.size(); ++i) {
    translations.push_back(LoadLangSource(o.sources[i]));
    Stamp(translations.back(), o);
    AddTranslation(translations.back(), *store);
  }
  if (o.command == "lng") {
    if (translations.size() > 1) Usage("lng takes at most one translation");
    const TLangSource& src = translations.empty() ? native : translations[0];
    WriteFile(o.output, Image(src, *store, translations.empty() ? 0 : 1, o));
  } else if (o.command == "list") {
    std::vector<TEmbeddedLanguage> list;
    for (std::size_t i = 0; i <= translations.size(); ++i) {
      const TLangSource& src = i == 0 ? native : translations[i - 1];
      list.push_back({src.Header.LangID, src.Header.EnglishName, src.Header.LocalizedName,
                      Image(src, *store, static_cast<int>(i), o)});
    }
    WriteFile(o.output,
              WriteEmbeddedLanguageList(list, static_cast<std::uint16_t>(o.listFormat), native.Header.Version));
  } else if (o.command == "settings") {
    if (o.kind != "exe" && o.kind != "lib") Usage("--kind must be exe or lib");
    const TLangFileHeader& h = native.Header;
    WriteFile(o.output, WriteSettingsResource(o.kind == "exe" ? "JEXE" : "LDLL", h.Version, h.LangID, h.EnglishName,
                                              h.LocalizedName, 6, h.Build));
  } else {
    Usage("unknown command " + o.command);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o = Parse(argc, argv);
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::cerr << "pellory_langdata: " << e.what() << "\n";
    std::remove(o.output.c_str());
    return 1;
  }
}
