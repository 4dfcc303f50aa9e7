// German language libraries built from native library files (the file road):
// the localization fixture and a library the resource compiler and linker
// made from the program's own string table, wizard form and language data,
// each with the German language file. Every built library is read back twice:
// with the engine's own PE reader and with the LLVM object reader, and the
// binutils reader names its machine.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "LFProc.h"
#include "LangRes.h"
#include "LocFixtures.h"
#include "ObjectConvert.h"
#include "PackedStrings.h"
#include "ResProc.h"
#include "Streams.h"

namespace {

const std::string kLanguages = PELLORY_BUILT_LANGUAGES_DIR;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("pellory_programlib_" + name)).string();
}

std::string RunTool(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) out.append(buffer.data(), n);
  return out;
}

// The resources of an image as the LLVM object reader lists them: "type/name"
// (a number or a name) to the data bytes from its hex dump.
std::map<std::string, std::string> ReadObjResources(const std::string& path) {
  std::istringstream lines(RunTool(std::string(PELLORY_LLVM_READOBJ) + " --coff-resources '" + path + "'"));
  std::map<std::string, std::string> out;
  std::string line, type, name;
  bool inData = false;
  auto idOf = [](const std::string& text) {
    std::size_t id = text.find("(ID ");
    if (id != std::string::npos) return text.substr(id + 4, text.find(')', id) - id - 4);
    std::size_t colon = text.find(": ");
    std::string rest = text.substr(colon + 2);
    return rest.substr(0, rest.find(' '));
  };
  while (std::getline(lines, line)) {
    std::string trimmed =
        line.substr(line.find_first_not_of(' ') == std::string::npos ? line.size() : line.find_first_not_of(' '));
    if (trimmed.rfind("Type:", 0) == 0) {
      type = idOf(trimmed);
    } else if (trimmed.rfind("Name:", 0) == 0) {
      name = idOf(trimmed);
    } else if (trimmed == "Data (") {
      inData = true;
      out[type + "/" + name];
    } else if (inData && trimmed == ")") {
      inData = false;
    } else if (inData) {
      // "0000: 04007A00 65007200 ...  |..z.e...|"
      std::string hex = trimmed.substr(trimmed.find(':') + 1);
      hex = hex.substr(0, hex.find('|'));
      std::string& bytes = out[type + "/" + name];
      std::string digits;
      for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
      for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    }
  }
  return out;
}

// The German language file over the native one, as the localizer loads them.
struct GermanData {
  TOwned<TLangResource> store{New<TLangResource>()};
  TOwned<TLangFile> file;
  GermanData() {
    TOwned<TLangFile> native(New<TLangFile>(kLanguages + "/Pellory.ntv.lng", true));
    native->LoadIntoResource(store.get(), -1, 0);
    file.reset(New<TLangFile>(kLanguages + "/Pellory.deu.lng", true));
    file->LangIndex = store->AddLanguage(0, static_cast<std::uint16_t>(file->LangID));
    file->LoadIntoResource(store.get(), file->LangIndex, 0);
  }
  TLResConstantItem* ConstantOf(std::int32_t stringId) {
    TLResConstantItem* found = nullptr;
    store->ForEachItem([&](TLResItem* item) {
      auto* c = dynamic_cast<TLResConstantItem*>(item);
      if (c && c->StringID() == stringId && !found) found = c;
    });
    return found;
  }
};

std::string Build(GermanData& data, const std::string& nativePath) {
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  data.file->BuildLanguageDLL(nullptr, *out, true, data.store.get(), nativePath);
  return out->DataString();
}

std::u16string Utf16(const std::string& block, std::int32_t id) {
  // One string-table block: 16 counted UTF-16 strings.
  ByteReader r(block);
  for (int i = 0; i < (id & 15); ++i) r.Skip(std::size_t{r.U16LE()} * 2);
  std::u16string s;
  for (std::uint16_t n = r.U16LE(); n > 0; --n) s.push_back(static_cast<char16_t>(r.U16LE()));
  return s;
}

struct Fixture {
  const char* what;
  std::function<std::string()> image;
  std::uint16_t libraryKind;
  std::uint32_t version;  // of the template's settings
};

class ProgramLibrary : public ::testing::TestWithParam<Fixture> {};

// The library holds the German strings and form, and the settings rewritten
// from the template; both readers see the same.
TEST_P(ProgramLibrary, FileRoadGivesTheGermanLibrary) {
  const Fixture& fx = GetParam();
  const std::string nativePath = TempPath(std::string(fx.what) + "_native.dll");
  const std::string libPath = TempPath(std::string(fx.what) + "_german.dll");
  std::ofstream(nativePath, std::ios::binary) << fx.image();
  GermanData data;
  data.file->Version = 93;  // the library keeps the template's version
  data.file->Build = 11;
  data.file->LibraryTimeStamp = 0x01020304;
  // A constant whose string-table entry the program does not have.
  data.store->Units()->GetUnit(0)->Constants()->FindOrAdd(9999, "SNowhere", 400);
  const std::string image = Build(data, nativePath);
  std::ofstream(libPath, std::ios::binary) << image;

  std::string settings("LDLL", 4);
  ByteWriter w(settings);
  w.U32LE(fx.version);
  w.U16LE(0x0407);
  WritePackedAnsiString(settings, "German", kPackedHeaderFormat);
  WritePackedWideString(settings, u"Deutsch", kPackedHeaderFormat);
  w.U16LE(fx.libraryKind);
  w.U16LE(0);
  w.U32LE(11);
  w.U8(0);

  // The engine's reader.
  TOwned<TResProcessor> native(New<TResProcessor>());
  native->LoadFromPEImage(fx.image());
  TOwned<TResProcessor> lib(New<TResProcessor>());
  lib->LoadFromPEImage(image);
  EXPECT_EQ(lib->RCData()->FindItem(kExeSettingsName), nullptr);
  EXPECT_EQ(lib->RCData()->FindItem(kLocLangsName), nullptr);
  ASSERT_NE(lib->RCData()->FindItem(kLibSettingsName), nullptr);
  EXPECT_EQ(lib->RCData()->FindItem(kLibSettingsName)->Data(), settings);
  EXPECT_EQ(lib->Strings()->FindString(400), nullptr);
  int german = 0;
  for (std::int32_t id = 65264; id <= 65295; ++id) {
    TResStringItem* s = lib->Strings()->FindString(id);
    if (!s) continue;
    TLResConstantItem* c = data.ConstantOf(id);
    if (!c) {  // a string the language data does not name keeps its text
      EXPECT_EQ(s->GetText(), native->Strings()->FindString(id)->GetText()) << id;
      continue;
    }
    EXPECT_EQ(s->GetText(), c->GetValue(1)->WideText()) << id;
    ++german;
  }
  EXPECT_GE(german, std::string(fx.what) == "program" ? 13 : 3);
  ASSERT_NE(lib->Strings()->FindString(65295), nullptr);
  EXPECT_EQ(lib->Strings()->FindString(65295)->GetText(), u"Weiter >");
  const std::string form = ObjectBinaryToText(lib->RCData()->FindItem("TWIZARDFORM")->Data());

  // The LLVM reader: the same resources, byte for byte.
  std::map<std::string, std::string> obj = ReadObjResources(libPath);
  EXPECT_EQ(obj.count("10/WQM_EXESETTINGS_"), 0u);
  EXPECT_EQ(obj.count("10/WQM_LOC_LANGS_"), 0u);
  EXPECT_EQ(obj["10/WQM_LIBSETTINGS_"], settings);
  EXPECT_EQ(obj["10/TWIZARDFORM"], lib->RCData()->FindItem("TWIZARDFORM")->Data());
  EXPECT_EQ(Utf16(obj["6/" + std::to_string(65295 / 16 + 1)], 65295), u"Weiter >");
  EXPECT_EQ(Utf16(obj["6/" + std::to_string(65264 / 16 + 1)], 65264), lib->Strings()->FindString(65264)->GetText());
  EXPECT_EQ(obj.count("6/" + std::to_string(400 / 16 + 1)), 0u);
  const std::string headers = RunTool(std::string(PELLORY_LLVM_READOBJ) + " --file-headers '" + libPath + "'");
  EXPECT_NE(headers.find("(0x14C)"), std::string::npos) << headers;
  const std::string objdump = RunTool(std::string(PELLORY_PE_OBJDUMP) + " -p '" + libPath + "'");
  EXPECT_NE(objdump.find("file format pei-i386"), std::string::npos) << objdump;
  EXPECT_NE(objdump.find("(PE32)"), std::string::npos);

  if (std::string(fx.what) == "program") {
    EXPECT_NE(form.find("Abbrechen"), std::string::npos) << form;
    EXPECT_EQ(form.find("'Cancel'"), std::string::npos);
  }
  std::remove(nativePath.c_str());
  std::remove(libPath.c_str());
}

// An outdated translation gives the native text unless the file asks for
// outdated texts; a native library without the settings template yields none.
TEST_P(ProgramLibrary, OutdatedTextsAndMissingTemplate) {
  const Fixture& fx = GetParam();
  const std::string nativePath = TempPath(std::string(fx.what) + "_native2.dll");
  std::ofstream(nativePath, std::ios::binary) << fx.image();
  GermanData data;
  TLResConstantItem* next = data.ConstantOf(65295);
  ASSERT_NE(next, nullptr);
  next->GetValue(1)->SetStamp(next->GetValue(0)->Stamp() + 1);
  for (std::uint16_t attributes : {std::uint16_t{0}, lfaUseOutdated}) {
    data.file->Attributes = attributes;
    TOwned<TResProcessor> lib(New<TResProcessor>());
    lib->LoadFromPEImage(Build(data, nativePath));
    EXPECT_EQ(lib->Strings()->FindString(65295)->GetText(), attributes ? u"Weiter >" : u"Next >") << attributes;
  }

  TOwned<TResProcessor> without(New<TResProcessor>());
  without->LoadFromPEImage(fx.image());
  without->RCData()->RemoveItem(kLibSettingsName);
  std::ofstream(nativePath, std::ios::binary) << without->ResourceDLLImage();
  try {
    Build(data, nativePath);
    ADD_FAILURE() << "no error";
  } catch (const ELFProcError& e) {
    EXPECT_EQ(e.Message, SLFInvalidNativeDLL);
  }
  std::remove(nativePath.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ProgramLibrary,
                         ::testing::Values(Fixture{"locfixture", [] { return LocFixture32(); }, 6, 92},
                                           Fixture{"program", [] { return ReadFile(PELLORY_PROGRAM_FIXTURE); }, 6,
                                                   PELLORY_LANGDATA_VERSION}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
