// The wizard's form translated with the wizard's own language data, checked
// against outside tools: Free Pascal's form converters (a small program built
// here) and Python's codecs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "Filer.h"
#include "LangSource.h"
#include "ObjectConvert.h"
#include "PrjProcs.h"
#include "Streams.h"
#include "SysUtils.h"

namespace {

namespace fs = std::filesystem;
using TStorePtr = TOwned<TLangResource>;

const std::string kLanguages = PELLORY_LANGUAGES_DIR;
constexpr int kGerman = 1, kRussian = 2, kHebrew = 3;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

fs::path WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("pellory-form-translation-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// Free Pascal's ObjectBinaryToText ("text") and ObjectTextToResource ("resource"), file to file.
const char kFormTool[] = R"(program FormTool;
{$mode objfpc}
uses Classes, SysUtils;
var
  Source, Target: TFileStream;
begin
  Source := TFileStream.Create(ParamStr(2), fmOpenRead);
  Target := TFileStream.Create(ParamStr(3), fmCreate);
  try
    if ParamStr(1) = 'text' then
      ObjectBinaryToText(Source, Target)
    else
      ObjectTextToResource(Source, Target);
  finally
    Target.Free;
    Source.Free;
  end;
end.
)";

std::string RunFormTool(const std::string& mode, const std::string& input) {
  static const fs::path tool = [] {
    WriteFile(WorkDir() / "FormTool.pas", kFormTool);
    std::string cmd = "fpc -O1 -v0 -FE" + WorkDir().string() + " " + (WorkDir() / "FormTool.pas").string() + " > " +
                      (WorkDir() / "fpc.log").string() + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadFile(WorkDir() / "fpc.log");
    return WorkDir() / "FormTool";
  }();
  WriteFile(WorkDir() / "in.bin", input);
  std::string cmd =
      tool.string() + " " + mode + " " + (WorkDir() / "in.bin").string() + " " + (WorkDir() / "out.bin").string();
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return ReadFile(WorkDir() / "out.bin");
}

// Each text encoded by Python's codec `codec`.
std::vector<std::string> PythonEncode(const std::vector<std::u16string>& texts, const std::string& codec) {
  std::string joined;
  for (const std::u16string& t : texts) joined += WideToUtf8(t) + std::string(1, '\0');
  WriteFile(WorkDir() / "texts.txt", joined);
  std::string cmd =
      "python3 -c \"import sys; t = open(sys.argv[1], encoding='utf-8', newline='').read(); "
      "open(sys.argv[3], 'w').write(chr(10).join(s.encode(sys.argv[2]).hex() for s in "
      "t.split(chr(0))[:-1]))\" " +
      (WorkDir() / "texts.txt").string() + " " + codec + " " + (WorkDir() / "encoded.txt").string();
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::vector<std::string> out;
  std::istringstream in(ReadFile(WorkDir() / "encoded.txt"));
  std::string hex;
  while (std::getline(in, hex)) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    out.push_back(bytes);
  }
  return out;
}

// A binary form under the resource header the program's forms carry.
std::string ToResourceForm(const std::string& binary) {
  TOwned<TStringStream> out(New<TStringStream>());
  WriteResourceHeader(*out, "TWIZARDFORM", static_cast<std::uint32_t>(binary.size()));
  out->WriteBytes(binary);
  return out->DataString();
}

std::string ResourceSize(std::size_t size) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((size >> (8 * i)) & 0xFF);
  return out;
}

// The wizard's language data: native, German, Russian, and a Hebrew column that follows the native texts.
struct TWizardData {
  TStorePtr store{New<TLangResource>()};
  std::string form = ObjectTextToBinary(ReadFile(std::string(PELLORY_SOURCE_DIR) + "/resources/WizardForm.form"));
  TWizardData() {
    BuildNativeStore(LoadLangSource(kLanguages + "/Pellory.ntv.txt"), *store);
    AddTranslation(LoadLangSource(kLanguages + "/Pellory.de.txt"), *store);
    AddTranslation(LoadLangSource(kLanguages + "/Pellory.ru.txt"), *store);
    store->AddLanguage(0, 0x040D);
  }
  TLResFormItem* Form() const { return store->Forms()->FindOrAdd("WizardForm"); }
  std::string Translate(int index, bool utf8, const std::string& input) {
    TOwned<TFormProcessor> p(New<TFormProcessor>());
    p->Store = store.get();
    p->LanguageIndex = index;
    p->TargetLocale = store->GetLanguageLocale(index);
    p->UseUTF8 = utf8;
    p->ApplyCharset = !utf8;
    TOwned<TMemoryStream> s(New<TMemoryStream>());
    s->WriteBytes(input);
    p->TranslateFormStream(*s);
    return s->DataString();
  }
  // "Object.Property" (the form's own under the form's name) of every property item.
  template <class F>
  void ForEachProperty(F&& f) const {
    TLResFormItem* form = Form();
    for (int i = 0; i < form->Properties()->Count(); ++i)
      f("WizardForm." + form->Properties()->GetProperty(i)->Name(), form->Properties()->GetProperty(i));
    for (int c = 0; c < form->Components()->Count(); ++c) {
      TLResComponentItem* comp = form->Components()->GetComponent(c);
      for (int i = 0; i < comp->Properties()->Count(); ++i)
        f(comp->Name() + "." + comp->Properties()->GetProperty(i)->Name(), comp->Properties()->GetProperty(i));
    }
  }
};

// The one-line properties of a form text as "Object.Property" -> value.
std::map<std::string, std::string> Properties(const std::string& text) {
  std::map<std::string, std::string> out;
  std::vector<std::string> stack;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    std::size_t depth = line.find_first_not_of(' ') / 2;
    if (t.rfind("object ", 0) == 0 || t.rfind("inherited ", 0) == 0 || t.rfind("inline ", 0) == 0) {
      std::string head = t.substr(t.find(' ') + 1);
      stack.resize(depth);
      stack.push_back(head.substr(0, head.find(':')));
    } else if (std::size_t eq = t.find(" = "); eq != std::string::npos && depth == stack.size()) {
      out[stack.back() + "." + t.substr(0, eq)] = t.substr(eq + 3);
    }
  }
  return out;
}

struct TStoredValue {
  int type = -1;
  std::string bytes;
  bool operator==(const TStoredValue&) const = default;
};

void ReadValueInto(TReader& r, const std::string& key, std::map<std::string, TStoredValue>& out) {
  TValueType t = r.NextValue();
  TStream& s = r.Stream();
  switch (t) {
    case vaString:
      r.ReadValue();
      out[key] = {t, s.ReadBytes(s.ReadU8())};
      break;
    case vaLString:
    case vaUTF8String:
      r.ReadValue();
      out[key] = {t, s.ReadBytes(s.ReadU32())};
      break;
    case vaWString:
      r.ReadValue();
      out[key] = {t, s.ReadBytes(2 * static_cast<std::int64_t>(s.ReadU32()))};
      break;
    case vaList: {
      r.ReadValue();
      for (int i = 0; !r.EndOfList(); ++i) ReadValueInto(r, key + "[" + std::to_string(i) + "]", out);
      r.ReadListEnd();
      break;
    }
    default:
      r.SkipValue();
  }
}

void ReadObjectInto(TReader& r, std::map<std::string, TStoredValue>& out) {
  std::uint8_t flags;
  int position;
  r.ReadPrefix(flags, position);
  r.ReadStr();
  std::string name = r.ReadStr();
  while (!r.EndOfList()) {
    std::string prop = r.ReadStr();
    ReadValueInto(r, name + "." + prop, out);
  }
  r.ReadListEnd();
  while (!r.EndOfList()) ReadObjectInto(r, out);
  r.ReadListEnd();
}

// The stored string values of a binary form ("Object.Property", list lines with "[i]").
std::map<std::string, TStoredValue> StoredStrings(const std::string& binary) {
  std::map<std::string, TStoredValue> out;
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(binary.data(), binary.size()));
  TOwned<TReader> r(New<TReader>(*in));
  r->ReadSignature();
  ReadObjectInto(*r, out);
  return out;
}

TEST(WizardFormTranslation, GermanRussianAndHebrewThroughFreePascalsConverter) {
  TWizardData data;
  TLResPropertyItem* emptied = data.Form()->FindProperty("LabelHelp2", "Caption");
  ASSERT_NE(emptied, nullptr);
  emptied->GetValue(kGerman)->SetWideText(u"");
  struct Case {
    int index;
    const char* charset;
  } cases[] = {{kGerman, "ANSI_CHARSET"}, {kRussian, "RUSSIAN_CHARSET"}, {kHebrew, "HEBREW_CHARSET"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    const std::string dump = RunFormTool("text", data.Translate(c.index, false, data.form));
    auto props = Properties(dump);
    ASSERT_GT(props.size(), 100u) << dump;
    // A component with items in the store gets the language's charset; the others keep theirs.
    int rewritten = 0;
    for (const auto& [key, value] : props) {
      if (key.size() < 13 || key.compare(key.size() - 13, 13, ".Font.Charset") != 0) continue;
      std::string object = key.substr(0, key.size() - 13);
      bool translated = object == "WizardForm" || data.Form()->FindComponentItem(object);
      EXPECT_EQ(value, translated ? c.charset : "DEFAULT_CHARSET") << key;
      rewritten += translated;
    }
    EXPECT_GE(rewritten, 5);
    if (c.index == kGerman) {
      EXPECT_EQ(props["CancelButton.Caption"], "'Abbrechen'");
      EXPECT_EQ(props["BackButton.Caption"], "'< Zur'#252'ck'");
      EXPECT_EQ(props["WizardForm.Caption"], "'Pellory'");
      EXPECT_EQ(props["lbWelcomeTitle.Caption"], "'Willkommen'");
      EXPECT_EQ(props["gbPhoneInfo.Caption"], "'Telefoninformationen:'");
      // The mark-up labels' texts are string lists.
      EXPECT_NE(dump.find("HTMLText.Strings = (\n          'Willkommen bei Pellory."), std::string::npos) << dump;
      EXPECT_NE(
          dump.find(
              "Items.Strings = (\n          'Datenkabel'\n          'Infrarot'\n          'Bluetooth'\n        )"),
          std::string::npos)
          << dump;
      EXPECT_EQ(props.count("LabelHelp2.Caption"), 0u);
      EXPECT_EQ(props.count("LabelHelp.Caption"), 1u);
      EXPECT_EQ(dump.find("BiDiMode"), std::string::npos);
    }
    if (c.index == kHebrew) {
      // The form's own block ends with the right-to-left line, before its first child.
      EXPECT_NE(dump.find("  BiDiMode = bdRightToLeft\n  object ImageMain"), std::string::npos) << dump;
      EXPECT_EQ(dump.find("bdRightToLeft"), dump.rfind("bdRightToLeft"));
    }
  }
}

TEST(WizardFormTranslation, RussianStringsMatchPythonsCodecs) {
  TWizardData data;
  TLResPropertyItem* wide = data.Form()->FindProperty("BackButton", "Caption");
  ASSERT_NE(wide, nullptr);
  wide->ChangeFlags(kLResFlagWideString, true);
  // Every translated string of the data, and each line of the lists.
  std::vector<std::pair<std::string, std::u16string>> texts;
  data.ForEachProperty([&](const std::string& key, TLResPropertyItem* item) {
    const std::u16string& text = item->GetValue(kRussian)->WideText();
    if (item->GetValueKind() == lvkWideString) {
      texts.emplace_back(key, text);
    } else if (item->GetValueKind() == lvkWideString4) {
      std::size_t start = 0, i = 0;
      for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2)
        texts.emplace_back(key + "[" + std::to_string(i++) + "]", text.substr(start, end - start));
      texts.emplace_back(key + "[" + std::to_string(i) + "]", text.substr(start));
    }
  });
  ASSERT_EQ(texts.size(), 38u);
  std::vector<std::u16string> plain;
  for (const auto& t : texts) plain.push_back(t.second);
  const std::vector<std::string> utf8 = PythonEncode(plain, "utf-8");
  const std::vector<std::string> cp1251 = PythonEncode(plain, "cp1251");
  const std::vector<std::string> utf16 = PythonEncode(plain, "utf-16-le");
  ASSERT_EQ(utf8.size(), texts.size());
  ASSERT_EQ(cp1251.size(), texts.size());

  const auto withUtf8 = StoredStrings(data.Translate(kRussian, true, data.form));
  const auto withAnsi = StoredStrings(data.Translate(kRussian, false, data.form));
  int nonAscii = 0, ascii = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto& [key, text] = texts[i];
    SCOPED_TRACE(key);
    bool isAscii = utf8[i] == cp1251[i] && std::all_of(text.begin(), text.end(), [](char16_t ch) { return ch < 128; });
    (isAscii ? ascii : nonAscii)++;
    ASSERT_EQ(withUtf8.count(key), 1u);
    EXPECT_EQ(withUtf8.at(key), (TStoredValue{isAscii ? vaString : vaUTF8String, utf8[i]}));
    // The Unicode label's caption is a wide string in the data itself.
    if (key == "BackButton.Caption" || key == "lblWait.Caption")
      EXPECT_EQ(withAnsi.at(key), (TStoredValue{vaWString, utf16[i]}));
    else
      EXPECT_EQ(withAnsi.at(key), (TStoredValue{cp1251[i].size() < 256 ? vaString : vaLString, cp1251[i]}));
  }
  EXPECT_GT(nonAscii, 20);
  EXPECT_GT(ascii, 2);
}

TEST(WizardFormTranslation, ResourceHeaderIsFreePascalsForTheTranslatedForm) {
  TWizardData data;
  std::string resource = ToResourceForm(data.form);
  std::string translated = data.Translate(kGerman, false, resource);
  const std::string head = std::string("\xFF\x0A\x00TWIZARDFORM\x00\x30\x10", 17);
  ASSERT_GT(translated.size(), 21u);
  EXPECT_EQ(translated.substr(0, 17), head);
  const std::string binary = translated.substr(21);
  EXPECT_EQ(translated.substr(17, 4), ResourceSize(binary.size()));
  EXPECT_EQ(binary.substr(0, 4), "TPF0");
  // Free Pascal wraps the same form text under the same header.
  const std::string fpc = RunFormTool("resource", ObjectBinaryToText(binary));
  EXPECT_EQ(fpc.substr(0, 17), head);
  EXPECT_EQ(fpc.substr(17, 4), ResourceSize(fpc.size() - 21));
  EXPECT_EQ(RunFormTool("text", fpc.substr(21)), RunFormTool("text", binary));
}

}  // namespace
