// Language libraries built from a native library file: translated strings and
// forms, the settings resources swapped, always a 32-bit resource-only image.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "LFProc.h"
#include "LangFileWriter.h"
#include "LangRes.h"
#include "LocFixtures.h"
#include "ObjectConvert.h"
#include "PackedStrings.h"
#include "ResProc.h"
#include "Streams.h"

namespace {

using TStorePtr = TOwned<TLangResource>;
using TResPtr = TOwned<TResProcessor>;

const std::string kForm = "object WizardForm: TWizardForm\r\n  Caption = 'Pellory'\r\nend\r\n";

std::string Settings(const char* signature, std::uint32_t version, std::uint16_t kind) {
  return WriteSettingsResource(signature, version, 9, "English", u"English", kind, 0);
}

// The fixture library with a translatable form, the program's two extra RCDATA
// items and the given settings template (none when empty).
std::string NativeImage(const std::string& libSettings) {
  TResPtr p(New<TResProcessor>());
  p->LoadFromPEImage(LocFixture32());
  p->RCData()->FindItem("TWIZARDFORM")->SetData(ObjectTextToBinary(kForm));
  p->RCData()->AddItem(kExeSettingsName, false)->SetData(Settings("JEXE", 92, 6));
  p->RCData()->AddItem(kLocLangsName, false)->SetData("languages");
  if (libSettings.empty())
    p->RCData()->RemoveItem(kLibSettingsName);
  else
    p->RCData()->FindItem(kLibSettingsName)->SetData(libSettings);
  return p->ResourceDLLImage();
}

class TTempFile {
 public:
  explicit TTempFile(const std::string& name)
      : path_((std::filesystem::temp_directory_path() / ("langlib_" + name)).string()) {}
  ~TTempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }
  void Write(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
};

void SetValue(TLResItem* item, int index, const std::u16string& text, std::int32_t stamp) {
  item->GetValue(index)->SetWideText(text);
  item->GetValue(index)->SetStamp(stamp);
}

// English and German: 65264 current, 65265 older than its native text, a
// constant with no string-table entry, and the form's caption.
TStorePtr GermanStore() {
  TStorePtr s(New<TLangResource>());
  s->SetNativeLocale(9);
  TLResUnitItem* main = s->Units()->FindOrAdd("Main");
  TLResConstantItem* imei = main->Constants()->FindOrAdd(1, "SIMEI", 65264);
  TLResConstantItem* esn = main->Constants()->FindOrAdd(2, "SESN", 65265);
  TLResConstantItem* gone = main->Constants()->FindOrAdd(3, "SGone", 400);
  TLResConstantItem* next = main->Constants()->FindOrAdd(4, "SNext", 65295);
  TLResPropertyItem* caption = s->Forms()->FindOrAdd("WizardForm")->AddProperty("", 5, "Caption", lvkWideString);
  SetValue(imei, 0, u"IMEI:", 5);
  SetValue(esn, 0, u"ESN:", 5);
  SetValue(gone, 0, u"Gone", 5);
  SetValue(next, 0, u"Next >", 5);
  SetValue(caption, 0, u"Pellory", 5);
  s->AddLanguage(0, 0x0407);
  SetValue(imei, 1, u"IMEI-Nr.:", 5);
  SetValue(esn, 1, u"ESN-Nr.:", 4);
  SetValue(gone, 1, u"Weg", 5);
  SetValue(next, 1, u"Weiter >", 5);
  SetValue(caption, 1, u"Pellory \u00FC", 5);
  return s;
}

TOwned<TLangFile> GermanFile(std::uint16_t attributes) {
  TOwned<TLangFile> f(New<TLangFile>());
  f->LangID = 0x0407;
  f->Version = 93;
  f->Build = 7;
  f->EnglishName = "German";
  f->LocalizedName = u"Deutsch";
  f->Attributes = attributes;
  f->LangIndex = 1;
  f->LibraryTimeStamp = 0x12345678;
  return f;
}

std::string BuildFromFile(const std::string& nativeImage, std::uint16_t attributes, TLangResource* store) {
  TTempFile native("native.dll");
  native.Write(nativeImage);
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  GermanFile(attributes)->BuildLanguageDLL(nullptr, *out, true, store, native.Path());
  return out->DataString();
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ELFProcError& e) {
    return e.Message;
  } catch (const Exception& e) {
    return "(other exception) " + e.Message;
  }
  return "(no error)";
}

std::u16string Text(TResProcessor& p, std::int32_t id) {
  TResStringItem* item = p.Strings()->FindString(id);
  return item ? item->GetText() : u"(missing)";
}

TEST(LanguageLibrary, FileRoadGivesA32BitLibraryWithGermanTextsAndItsOwnSettings) {
  TStorePtr store = GermanStore();
  const std::string image = BuildFromFile(NativeImage(Settings("LDLL", 92, 0x1234)), 0, store.get());

  ByteReader pe(image);
  pe.Seek(60);
  std::uint32_t ntHeaders = pe.U32LE();
  pe.Seek(ntHeaders + 4);
  EXPECT_EQ(pe.U16LE(), 0x014C);

  TResPtr lib(New<TResProcessor>());
  lib->LoadFromPEImage(image);
  EXPECT_EQ(lib->RCData()->FindItem(kExeSettingsName), nullptr);
  EXPECT_EQ(lib->RCData()->FindItem(kLocLangsName), nullptr);

  std::string expected("LDLL", 4);
  ByteWriter w(expected);
  w.U32LE(92);  // the template's, not the language file's 93
  w.U16LE(0x0407);
  WritePackedAnsiString(expected, "German", kPackedHeaderFormat);
  WritePackedWideString(expected, u"Deutsch", kPackedHeaderFormat);
  w.U16LE(0x1234);
  w.U16LE(0);
  w.U32LE(7);
  w.U8(0);
  ASSERT_NE(lib->RCData()->FindItem(kLibSettingsName), nullptr);
  EXPECT_EQ(lib->RCData()->FindItem(kLibSettingsName)->Data(), expected);

  EXPECT_EQ(Text(*lib, 65264), u"IMEI-Nr.:");
  EXPECT_EQ(Text(*lib, 65265), u"ESN:");  // outdated translation
  EXPECT_EQ(Text(*lib, 65295), u"Weiter >");
  EXPECT_EQ(Text(*lib, 17), u"seventeen");
  EXPECT_EQ(Text(*lib, 400), u"(missing)");
  const std::string form = ObjectBinaryToText(lib->RCData()->FindItem("TWIZARDFORM")->Data());
  EXPECT_NE(form.find("Caption = 'Pellory '#252"), std::string::npos) << form;
  EXPECT_NE(lib->RCData()->FindItem("MIXED_CASE"), nullptr);
}

TEST(LanguageLibrary, OutdatedTranslationsAreUsedOnlyUnderTheirAttribute) {
  struct Case {
    std::uint16_t attributes;
    std::u16string esn;
  } cases[] = {{0, u"ESN:"}, {lfaUseOutdated, u"ESN-Nr.:"}, {lfaNoCharsetAdjust | lfaBiDiAdjust, u"ESN:"}};
  TStorePtr store = GermanStore();
  const std::string native = NativeImage(Settings("LDLL", 92, 6));
  for (const Case& c : cases) {
    TResPtr lib(New<TResProcessor>());
    lib->LoadFromPEImage(BuildFromFile(native, c.attributes, store.get()));
    EXPECT_EQ(Text(*lib, 65265), c.esn) << c.attributes;
    EXPECT_EQ(Text(*lib, 65264), u"IMEI-Nr.:") << c.attributes;
  }
}

TEST(LanguageLibrary, TemplateKindDefaultsToSixWhenTheTemplateEndsAfterTheNames) {
  std::string shortTemplate = Settings("LDLL", 92, 6);
  shortTemplate.resize(shortTemplate.size() - 9);  // no kind, reserved word, build or zero
  TStorePtr store = GermanStore();
  TResPtr lib(New<TResProcessor>());
  lib->LoadFromPEImage(BuildFromFile(NativeImage(shortTemplate), 0, store.get()));
  const std::string& data = lib->RCData()->FindItem(kLibSettingsName)->Data();
  ASSERT_GE(data.size(), 9u);
  EXPECT_EQ(static_cast<unsigned char>(data[data.size() - 9]), 6);
}

TEST(LanguageLibrary, UnusableTemplatesAreRefusedWithoutReadingPastThem) {
  const std::string full = Settings("LDLL", 92, 6);
  std::string longName("LDLL\x5C\0\0\0\x07\x04\xFF\x00", 12);  // name length 255, no bytes
  struct Case {
    const char* what;
    std::string settings;
  } cases[] = {
      {"no template", ""},
      {"program settings", Settings("JEXE", 92, 6)},
      {"signature only", "LDLL"},
      {"no names", full.substr(0, 10)},
      {"name past the end", longName},
      {"localized name cut", full.substr(0, 12 + 7 + 2 + 4)},
  };
  TStorePtr store = GermanStore();
  for (const Case& c : cases) {
    const std::string native = NativeImage(c.settings);
    EXPECT_EQ(ErrorOf([&] { BuildFromFile(native, 0, store.get()); }), SLFInvalidNativeDLL) << c.what;
  }
}

TEST(LanguageLibrary, SaveWritesTheTargetOnlyWhenTheImageIsComplete) {
  TStorePtr store = GermanStore();
  TTempFile native("save_native.dll"), target("save_target.dll");
  native.Write(NativeImage(""));
  target.Write("old library");
  TOwned<TLangFile> file = GermanFile(0);
  EXPECT_EQ(ErrorOf([&] { file->SaveLanguageDLL(nullptr, target.Path(), true, store.get(), native.Path()); }),
            SLFInvalidNativeDLL);
  EXPECT_EQ(target.Read(), "old library");

  native.Write(NativeImage(Settings("LDLL", 92, 6)));
  file->SaveLanguageDLL(nullptr, target.Path(), true, store.get(), native.Path());
  EXPECT_EQ(target.Read(), BuildFromFile(NativeImage(Settings("LDLL", 92, 6)), 0, store.get()));
}

}  // namespace
