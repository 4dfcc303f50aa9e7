#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "ByteReader.h"
#include "JCompress.h"
#include "JLocales.h"
#include "LFProc.h"
#include "LangFileWriter.h"
#include "LangSource.h"
#include "LocaleServices.h"
#include "PackedStrings.h"

namespace {

using TStorePtr = TOwned<TLangResource>;
using TFilePtr = TOwned<TLangFile>;

const std::string kDir = PELLORY_LANGUAGES_DIR;

struct TDataSet {
  TLangSource native = LoadLangSource(kDir + "/Pellory.ntv.txt");
  TLangSource german = LoadLangSource(kDir + "/Pellory.de.txt");
  TLangSource russian = LoadLangSource(kDir + "/Pellory.ru.txt");
  TStorePtr store{New<TLangResource>()};
  TDataSet() {
    BuildNativeStore(native, *store);
    AddTranslation(german, *store);
    AddTranslation(russian, *store);
  }
  std::string Image(int index, int format, bool compressed) {
    const TLangSource& src = index == 0 ? native : index == 1 ? german : russian;
    TLangFileHeader h = src.Header;
    h.Format = static_cast<std::uint16_t>(format);
    h.IsNative = index == 0;
    std::string image = WriteLangFileImage(h, *store, index);
    return compressed ? LzjCompress(image) : image;
  }
};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "(no error)";
}

TEST(LangData, NativeGermanAndRussianFilesLoadBackInFormats1To7) {
  TDataSet data;
  for (int format : {1, 4, 7}) {
    for (bool compressed : {false, true}) {
      SCOPED_TRACE("format " + std::to_string(format) + (compressed ? " compressed" : " plain"));
      TStorePtr store(New<TLangResource>());
      TFilePtr native(New<TLangFile>());
      native->LoadFromBytes(data.Image(0, format, compressed), store.get(), 0, -1);
      EXPECT_TRUE(native->IsNative);
      EXPECT_EQ(native->LangID, 9u);
      EXPECT_EQ(native->Version, 92u);
      // The wizard's 13 strings, the localizer's 7, the failed save, the engine's 21, the dialog captions' 4.
      EXPECT_EQ(native->ConstMaxID, 46u);
      EXPECT_EQ(native->PropertyMaxID, 33u);
      for (std::uint16_t langId : {0x0407, 0x0419}) {
        int index = store->AddLanguage(0, langId);
        TFilePtr f(New<TLangFile>());
        f->LoadFromBytes(data.Image(index, format, compressed), store.get(), 0, index);
        EXPECT_EQ(f->LangID, langId);
        EXPECT_EQ(f->Compressed, compressed);
      }
      TLResConstantItem* imei = store->FindConstantByID(1);
      EXPECT_EQ(imei->StringID(), 65264);
      EXPECT_EQ(imei->GetValue(0)->WideText(), u"IMEI:");
      EXPECT_EQ(imei->GetValue(1)->WideText(), u"IMEI:");
      TLResConstantItem* close = store->FindConstantByID(4);
      EXPECT_EQ(close->StringID(), 65286);
      EXPECT_EQ(close->GetValue(0)->WideText(), u"Are you sure that you want to close Pellory?");
      EXPECT_EQ(close->GetValue(1)->WideText(), u"Möchten Sie Pellory wirklich beenden?");
      EXPECT_EQ(close->GetValue(2)->WideText(), u"Вы действительно хотите закрыть Pellory?");
      EXPECT_EQ(close->GetValue(2)->Stamp(), 92);
      TLResPropertyItem* items = store->FindPropertyByID(8);
      EXPECT_EQ(items->GetFullName(), "WizardForm.rgConnectionType.Items.Strings");
      EXPECT_EQ(items->GetValueKind(), lvkWideString4);
      EXPECT_EQ(items->GetValue(2)->WideText(), u"Кабель передачи данных\r\nИнфракрасный порт\r\nBluetooth");
      EXPECT_EQ(store->FindPropertyByID(5)->GetValue(1)->WideText(), u"Abbrechen");
    }
  }
}

TEST(LangData, EveryNativeTextIsTranslatedInEveryLanguage) {
  TDataSet data;
  AddTranslation(LoadLangSource(kDir + "/Pellory.fr.txt"), *data.store);
  AddTranslation(LoadLangSource(kDir + "/Pellory.ro.txt"), *data.store);
  ASSERT_EQ(data.store->GetLanguageCount(), 5);
  std::string missing;
  data.store->ForEachItem([&](TLResItem* item) {
    for (int i = 1; i < 5; ++i)
      if (item->GetValue(i)->Stamp() < 0 || item->GetValue(i)->WideText().empty())
        missing += item->GetFullName() + "/" + std::to_string(i) + " ";
  });
  EXPECT_EQ(missing, "");
  EXPECT_EQ(data.store->FindConstantByID(12)->GetValue(3)->WideText(), u"Terminer");
  EXPECT_EQ(data.store->FindConstantByID(12)->GetValue(4)->WideText(), u"Terminare");
}

// The texts of the program's string table (resources/Strings.rc) by id, with
// the resource compiler's escapes read.
std::map<int, std::u16string> ProgramStringTable() {
  std::ifstream in(std::string(PELLORY_SOURCE_DIR) + "/resources/Strings.rc");
  EXPECT_TRUE(in.good());
  std::map<int, std::u16string> table;
  const std::regex entry(R"re(^\s*(\d+),\s*"(.*)"\s*$)re");
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, entry)) continue;
    const std::string raw = m[2];
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '"' && i + 1 < raw.size() && raw[i + 1] == '"') {
        text += '"';
        ++i;
      } else if (raw[i] == '\\' && i + 1 < raw.size()) {
        const char c = raw[++i];
        text += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
      } else {
        text += raw[i];
      }
    }
    table[std::stoi(m[1])] = Utf8ToUtf16(text);
  }
  return table;
}

// The format specifiers of a text, in order ("%d", "%s", ...).
std::u16string Specifiers(const std::u16string& text) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'%') continue;
    std::size_t j = i + 1;
    while (j < text.size() && (text[j] == u'.' || (text[j] >= u'0' && text[j] <= u'9'))) ++j;
    if (j < text.size()) out += text.substr(i, j - i + 1) + u' ';
    i = j;
  }
  return out;
}

// Every text the program's string table holds reaches the user in his
// language: the native data carry it as it stands, every language translates
// it, and a translation keeps the text's format arguments.
TEST(LangData, EveryTextOfTheProgramsStringTableIsTranslated) {
  TDataSet data;
  AddTranslation(LoadLangSource(kDir + "/Pellory.fr.txt"), *data.store);
  AddTranslation(LoadLangSource(kDir + "/Pellory.ro.txt"), *data.store);
  ASSERT_EQ(data.store->GetLanguageCount(), 5);
  std::map<int, TLResConstantItem*> byStringId;
  data.store->ForEachItem([&](TLResItem* item) {
    if (auto* c = dynamic_cast<TLResConstantItem*>(item)) byStringId[c->StringID()] = c;
  });
  const std::map<int, std::u16string> table = ProgramStringTable();
  ASSERT_GE(table.size(), 40u);
  const char* languages[] = {"native", "German", "Russian", "French", "Romanian"};
  for (const auto& [id, text] : table) {
    SCOPED_TRACE(id);
    const auto found = byStringId.find(id);
    if (found == byStringId.end()) {
      ADD_FAILURE() << "string " << id << " is in no language's data";
      continue;
    }
    TLResConstantItem* c = found->second;
    EXPECT_TRUE(c->GetValue(0)->WideText() == text) << "the native text differs from the string table's";
    for (int i = 1; i < 5; ++i) {
      SCOPED_TRACE(languages[i]);
      const std::u16string translated = c->GetValue(i)->WideText();
      EXPECT_GE(c->GetValue(i)->Stamp(), 0);
      EXPECT_FALSE(translated.empty());
      EXPECT_TRUE(Specifiers(translated) == Specifiers(text)) << "the format arguments differ";
    }
  }
}

TEST(LangData, EmbeddedListAndSettingsResources) {
  TDataSet data;
  std::vector<TEmbeddedLanguage> list;
  for (int i = 0; i < 3; ++i) {
    const TLangSource& src = i == 0 ? data.native : i == 1 ? data.german : data.russian;
    list.push_back({src.Header.LangID, src.Header.EnglishName, src.Header.LocalizedName, data.Image(i, 7, true)});
  }
  std::string bytes = WriteEmbeddedLanguageList(list, 4, 92);
  ByteReader r(bytes);
  EXPECT_EQ(r.Bytes(3), "JLL");
  EXPECT_EQ(r.U16LE(), 4);
  EXPECT_EQ(r.U32LE(), 92u);
  ASSERT_EQ(r.U16LE(), 3);
  EXPECT_EQ(r.U16LE(), 9);
  EXPECT_EQ(ReadResourceAnsiString(6, r), "English");
  EXPECT_EQ(ReadResourceWideString(6, r), u"English");
  EXPECT_EQ(r.U16LE(), 0x0407);
  EXPECT_EQ(ReadResourceAnsiString(6, r), "German");
  EXPECT_EQ(ReadResourceWideString(6, r), u"Deutsch");
  EXPECT_EQ(r.U16LE(), 0x0419);
  EXPECT_EQ(ReadResourceAnsiString(6, r), "Russian");
  EXPECT_EQ(ReadResourceWideString(6, r), u"Русский");
  for (int i = 0; i < 3; ++i) {
    std::string block = r.Bytes(r.U32LE());
    EXPECT_TRUE(IsLzjData(block));
    TFilePtr f(New<TLangFile>());
    f->ReadHeader(LzjDecompress(block), false);
    EXPECT_EQ(f->LangID, list[static_cast<std::size_t>(i)].LangID);
  }
  EXPECT_TRUE(r.AtEnd());

  std::string exe = WriteSettingsResource("JEXE", 92, 9, "English", u"English", 6, 0);
  ASSERT_EQ(exe.size(), 44u);
  EXPECT_EQ(exe.substr(0, 4), "JEXE");
  EXPECT_EQ(ByteReader(exe).U32LEAt(4), 92u);
  EXPECT_EQ(ByteReader(exe).U16LEAt(35), 6u);
  EXPECT_EQ(exe.back(), '\0');
}

TEST(LangData, SourceErrorsNameTheFileAndLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"version 1\n", "t.txt:1: no language statement"},
      {"language 9 \"E\" \"E\"\nfoo 1\n", "t.txt:2: unknown statement \"foo\""},
      {"language 9 \"E\" \"E\"\nconst 1 \"a\\q\"\n", "t.txt:2: unknown escape \\q"},
      {"language 9 \"E\" \"E\"\nconst x \"a\"\n", "t.txt:2: \"x\" is not a number"},
      {"language 9 \"E\" \"E\"\nconst 1 \"open\n", "t.txt:2: unterminated text"},
      {"language 0x10000 \"E\" \"E\"\n", "t.txt:1: number 0x10000 out of range"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { ParseLangSource(c.text, "t.txt"); }), c.error) << c.text;

  TDataSet data;
  TLangSource bad = ParseLangSource("language 7 \"German\" \"Deutsch\"\n\nconst 99 \"x\"\n", "de.txt");
  EXPECT_EQ(ErrorOf([&] { AddTranslation(bad, *data.store); }), "de.txt:3: const 99 is not in the native source");
  TLangSource dup =
      ParseLangSource("language 9 \"E\" \"E\"\nnative\nunit U\nconst A 1 1 \"a\"\nconst B 2 1 \"b\"\n", "n.txt");
  TStorePtr store(New<TLangResource>());
  EXPECT_EQ(ErrorOf([&] { BuildNativeStore(dup, *store); }), "n.txt:5: constant ID 1 used twice");
  EXPECT_EQ(Utf8ToUtf16("a\xC3\xA4\xE2\x80\x9E\xF0\x9F\x98\x80"), u"a\u00E4\u201E\U0001F600");
  EXPECT_EQ(ErrorOf([] { Utf8ToUtf16("\xC3"); }), "malformed UTF-8");
}

// Every text of every language survives its language's ANSI code page, the
// one the string table, the ANSI captions and the library's forms go through:
// converted and back, it reads the same.
TEST(LangData, EveryTextConvertsLosslesslyIntoItsLanguagesCodePage) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kDir))
    if (entry.path().extension() == ".txt") names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 5u);  // English, German, French, Romanian, Russian
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const TLangSource src = LoadLangSource(name);
    const std::uint32_t codePage = DefaultCodePageOfLocale(src.Header.LangID);
    std::vector<std::u16string> texts;
    if (src.Header.IsNative) {
      TStorePtr store(New<TLangResource>());
      BuildNativeStore(src, *store);
      store->ForEachItem([&](TLResItem* item) { texts.push_back(item->GetNativeValue()->WideText()); });
    } else {
      for (const TLangSourceText& t : src.Texts) texts.push_back(t.Text);
    }
    texts.push_back(src.Header.LocalizedName);
    ASSERT_FALSE(texts.empty());
    for (const std::u16string& text : texts) {
      std::string ansi;
      std::u16string back;
      ASSERT_TRUE(LocaleServices().WideToAnsi(codePage, text, ansi)) << codePage;
      ASSERT_TRUE(LocaleServices().AnsiToWide(codePage, ansi, back));
      EXPECT_EQ(back, text) << "code page " << codePage << ": " << ansi;
    }
  }
}

}  // namespace
