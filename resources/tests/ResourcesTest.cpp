// The compiled wizard form, the string table and the drawn pictures, checked
// against each other and against the English language data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "DialogCaptions.h"
#include "EngineErrorTexts.h"
#include "JCompress.h"
#include "JWStrings.h"
#include "LFProc.h"
#include "LangRes.h"
#include "LangSource.h"
#include "LocStreamErrors.h"
#include "ObjectConvert.h"
#include "PEReader.h"
#include "Parser.h"
#include "ResStrings.h"
#include "WizardTexts.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A form object read back from the form text: its properties as text (strings
// joined, list items joined with CR LF, sets as "[a,b]") and its children.
struct TFormObject {
  std::string Name, Class;
  std::map<std::string, std::string> Props;
  std::vector<TFormObject> Children;
};

std::string ParseValue(TParser& p) {
  std::string s;
  switch (p.Token()) {
    case toString:
    case toWString:
      s = p.TokenString();
      p.NextToken();
      while (p.Token() == '+') {
        p.NextToken();
        s += p.TokenString();
        p.NextToken();
      }
      return s;
    case '(':
      p.NextToken();
      while (p.Token() != ')') {
        if (!s.empty()) s += "\r\n";
        s += ParseValue(p);
      }
      p.NextToken();
      return s;
    case '[':
      s = "[";
      p.NextToken();
      while (p.Token() != ']') {
        s += p.Token() == ',' ? std::string(",") : p.TokenString();
        p.NextToken();
      }
      p.NextToken();
      return s + "]";
    default:
      s = p.TokenString();
      p.NextToken();
      return s;
  }
}

TFormObject ParseObject(TParser& p) {
  p.CheckTokenSymbol("object");
  p.NextToken();
  TFormObject o;
  p.CheckToken(toSymbol);
  std::string first = p.TokenString();
  p.NextToken();
  if (p.Token() == ':') {
    p.NextToken();
    o.Name = first;
    o.Class = p.TokenString();
    p.NextToken();
  } else {
    o.Class = first;
  }
  while (!p.TokenSymbolIs("end")) {
    if (p.Token() == toEOF) p.Error("end expected");
    if (p.TokenSymbolIs("object")) {
      o.Children.push_back(ParseObject(p));
      continue;
    }
    std::string name = p.TokenString();
    p.NextToken();
    while (p.Token() == '.') {
      p.NextToken();
      name += "." + p.TokenString();
      p.NextToken();
    }
    p.CheckToken('=');
    p.NextToken();
    o.Props[name] = ParseValue(p);
  }
  p.NextToken();
  return o;
}

// Every named object with the name of the named object (or the root) it sits in.
void Index(const TFormObject& o, const std::string& parent, std::map<std::string, const TFormObject*>& objects,
           std::map<std::string, std::string>& parents) {
  std::string owner = o.Name.empty() ? parent : o.Name;
  if (!o.Name.empty()) {
    objects[o.Name] = &o;
    parents[o.Name] = parent;
  }
  for (const TFormObject& c : o.Children) Index(c, owner, objects, parents);
}

class WizardForm : public ::testing::Test {
 protected:
  void SetUp() override {
    binary = ReadFile(PELLORY_WIZARD_FORM_BIN);
    ASSERT_GE(binary.size(), 4u);
    text = ObjectBinaryToText(binary);
    TParser parser(text);
    root = ParseObject(parser);
    ASSERT_EQ(parser.Token(), toEOF);
    Index(root, "", objects, parents);
  }
  const TFormObject& Get(const std::string& name) {
    static const TFormObject none;
    auto it = objects.find(name);
    return it == objects.end() ? none : *it->second;
  }
  std::string binary, text;
  TFormObject root;
  std::map<std::string, const TFormObject*> objects;
  std::map<std::string, std::string> parents;
};

TEST_F(WizardForm, IsABinaryFormThatConvertsBackToTheSameBinary) {
  EXPECT_EQ(binary.substr(0, 4), "TPF0");
  EXPECT_EQ(ObjectTextToBinary(text), binary);
  EXPECT_EQ(root.Name, "WizardForm");
  EXPECT_EQ(root.Class, "TWizardForm");
}

TEST_F(WizardForm, NamesItsComponentsWithTheirClassesAndPlaces) {
  struct {
    const char* name;
    const char* cls;
    const char* parent;
  } const kComponents[] = {
      {"ImageMain", "TImage", "WizardForm"},
      {"QvLabel1", "TQvLabel", "WizardForm"},
      {"BackButton", "TButton", "WizardForm"},
      {"NextButton", "TButton", "WizardForm"},
      {"CancelButton", "TButton", "WizardForm"},
      {"HelpButton", "TButton", "WizardForm"},
      {"NB", "TNotebook", "WizardForm"},
      {"HTMLabel1", "THTMLabel", "NB"},
      {"WarningLabel", "THTMLabel", "NB"},
      {"HTMLabel5", "THTMLabel", "NB"},
      {"rgConnectionType", "TRadioGroup", "NB"},
      {"HTMLabel2", "THTMLabel", "NB"},
      {"rgCableType", "TRadioGroup", "NB"},
      {"LabelHelp", "TLabel", "NB"},
      {"NBConnect", "TNotebook", "NB"},
      {"lbIrDAConnect", "THTMLabel", "NBConnect"},
      {"lbDKUConnect", "THTMLabel", "NBConnect"},
      {"lbBTConnect", "THTMLabel", "NBConnect"},
      {"lbDLRConnect", "THTMLabel", "NBConnect"},
      {"ImagePhone", "TImage", "gbPhoneInfo"},
      {"lbIMEI", "TLabel", "gbPhoneInfo"},
      {"PanelModel", "TPanel", "gbPhoneInfo"},
      {"PanelSW", "TPanel", "gbPhoneInfo"},
      {"PanelIMEI", "TPanel", "gbPhoneInfo"},
      {"gbPhoneInfo", "TGroupBox", "NB"},
      {"ConnectButton", "TButton", "NB"},
      {"WaitPanel", "TPanel", "NB"},
      {"AnimatedImage", "TAnimatedImage", "WaitPanel"},
      {"lblWait", "TUcxLabel", "WaitPanel"},
      {"LabelHelp2", "TLabel", "NB"},
      {"HTMLabel3", "THTMLabel", "NB"},
      {"NexPhoneButton", "TButton", "NB"},
      {"ImageList", "TImageList", "WizardForm"},
      {"Timer", "TTimer", "WizardForm"},
      {"TLQHelpContextMap", "THelpContextMap", "WizardForm"},
      {"TLQHelpRouter", "THelpRouter", "WizardForm"},
  };
  for (const auto& c : kComponents) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(objects.count(c.name), 1u);
    EXPECT_EQ(Get(c.name).Class, c.cls);
    EXPECT_EQ(parents[c.name], c.parent);
  }
}

TEST_F(WizardForm, NotebooksHoldTheirPagesInOrder) {
  auto captions = [](const TFormObject& nb) {
    std::vector<std::string> out;
    for (const TFormObject& page : nb.Children) {
      EXPECT_EQ(page.Class, "TPage");
      out.push_back(page.Props.count("Caption") ? page.Props.at("Caption") : "");
    }
    return out;
  };
  EXPECT_EQ(captions(Get("NB")), (std::vector<std::string>{"Welcome", "Type", "Port", "Connection", "Finish"}));
  EXPECT_EQ(captions(Get("NBConnect")), (std::vector<std::string>{"IrDA", "DKU5", "BT", "DLR"}));
  // The components each wizard page holds.
  const std::vector<std::vector<std::string>> kOnPage = {
      {"HTMLabel1", "WarningLabel"},
      {"HTMLabel5", "rgConnectionType"},
      {"HTMLabel2", "rgCableType", "LabelHelp"},
      {"NBConnect", "gbPhoneInfo", "ConnectButton", "WaitPanel", "LabelHelp2"},
      {"HTMLabel3", "NexPhoneButton"}};
  const TFormObject& nb = Get("NB");
  ASSERT_EQ(nb.Children.size(), kOnPage.size());
  for (std::size_t i = 0; i < kOnPage.size(); ++i) {
    std::vector<std::string> names;
    for (const TFormObject& c : nb.Children[i].Children) names.push_back(c.Name);
    for (const std::string& want : kOnPage[i])
      EXPECT_NE(std::find(names.begin(), names.end(), want), names.end()) << want << " on page " << i;
  }
  // One instruction label on each instruction page, filling it.
  const char* kInstructions[] = {"lbIrDAConnect", "lbDKUConnect", "lbBTConnect", "lbDLRConnect"};
  const TFormObject& nbc = Get("NBConnect");
  ASSERT_EQ(nbc.Children.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(nbc.Children[i].Children.size(), 1u);
    EXPECT_EQ(nbc.Children[i].Children[0].Name, kInstructions[i]);
    EXPECT_EQ(nbc.Children[i].Children[0].Props.at("Align"), "alClient");
  }
}

TEST_F(WizardForm, CarriesTheSettingsAndHandlers) {
  struct {
    const char* object;  // "" for the form
    const char* prop;
    const char* value;
  } const kProps[] = {
      {"", "ClientWidth", "595"},
      {"", "ClientHeight", "379"},
      {"", "BorderStyle", "bsDialog"},
      {"", "Position", "poScreenCenter"},
      {"", "HelpContext", "100"},
      {"", "Caption", "Pellory"},
      {"", "OnCreate", "FormCreate"},
      {"", "OnShow", "FormShow"},
      {"", "OnCloseQuery", "FormCloseQuery"},
      {"", "OnClose", "FormClose"},
      {"", "OnDestroy", "FormDestroy"},
      {"ImageMain", "Width", "200"},
      {"ImageMain", "Height", "312"},
      {"ImageMain", "Center", "True"},
      {"QvLabel1", "Caption", "Pellory"},
      {"QvLabel1", "Font.Name", "Arial"},
      {"QvLabel1", "Font.Height", "-19"},
      {"QvLabel1", "Font.Style", "[fsBold]"},
      {"QvLabel1", "Font.Color", "clBlue"},
      {"QvLabel1", "ShadowSize", "0"},
      {"BackButton", "Caption", "< Back"},
      {"BackButton", "OnClick", "BackButtonClick"},
      {"NextButton", "Caption", "Next >"},
      {"NextButton", "OnClick", "NextButtonClick"},
      {"CancelButton", "Caption", "Cancel"},
      {"CancelButton", "OnClick", "CancelButtonClick"},
      {"HelpButton", "Caption", "Help"},
      {"HelpButton", "OnClick", "HelpButtonClick"},
      {"NB", "OnPageChanged", "NBPageChanged"},
      {"rgConnectionType", "Caption", "Connection type:"},
      {"rgConnectionType", "Items.Strings", "Data cable\r\nInfrared\r\nBluetooth"},
      {"rgConnectionType", "OnClick", "rgConnectionTypeClick"},
      {"rgCableType", "Caption", "Cable type:"},
      {"rgCableType", "HelpContext", "300"},
      {"rgCableType", "Items.Strings", "DAU9P/FBUS\r\nDLR-3 or DLR-3P\r\nDKU-2/CA-53\r\nDKU-5/CA-42"},
      {"rgCableType", "OnClick", "rgCableTypeClick"},
      {"LabelHelp", "Caption", "Not sure what type is yours?"},
      {"LabelHelp", "Font.Color", "clBlue"},
      {"LabelHelp", "Font.Style", "[fsUnderline]"},
      {"LabelHelp", "OnClick", "LabelHelpClick"},
      {"LabelHelp", "OnMouseMove", "HelpLabelMouseMove"},
      {"ImagePhone", "Width", "48"},
      {"ImagePhone", "Height", "48"},
      {"ImagePhone", "Transparent", "True"},
      {"lbIMEI", "Caption", "IMEI:"},
      {"PanelModel", "BevelOuter", "bvLowered"},
      {"PanelModel", "Alignment", "taLeftJustify"},
      {"PanelSW", "BevelOuter", "bvLowered"},
      {"PanelSW", "Alignment", "taLeftJustify"},
      {"PanelIMEI", "BevelOuter", "bvLowered"},
      {"PanelIMEI", "Alignment", "taLeftJustify"},
      {"gbPhoneInfo", "Caption", "Phone information:"},
      {"ConnectButton", "Caption", "Connect"},
      {"ConnectButton", "OnClick", "ConnectButtonClick"},
      {"WaitPanel", "Visible", "False"},
      {"AnimatedImage", "Align", "alLeft"},
      {"AnimatedImage", "Width", "32"},
      {"AnimatedImage", "Height", "32"},
      {"AnimatedImage", "Active", "True"},
      {"AnimatedImage", "NumGlyphs", "15"},
      {"AnimatedImage", "GlyphNum", "11"},
      {"lblWait", "Caption", "Connecting... Wait, please."},
      {"LabelHelp2", "Caption", "Can't establish connection?"},
      {"LabelHelp2", "Visible", "False"},
      {"LabelHelp2", "Font.Color", "clBlue"},
      {"LabelHelp2", "Font.Style", "[fsUnderline]"},
      {"LabelHelp2", "OnClick", "LabelHelp2Click"},
      {"LabelHelp2", "OnMouseMove", "HelpLabelMouseMove"},
      {"NexPhoneButton", "Caption", "Next phone"},
      {"NexPhoneButton", "OnClick", "NexPhoneButtonClick"},
      {"ImageList", "Width", "48"},
      {"ImageList", "Height", "48"},
      {"Timer", "Enabled", "False"},
      {"Timer", "Interval", "90000"},
      {"Timer", "OnTimer", "TimerTimer"},
      {"TLQHelpRouter", "HelpType", "htHTMLhelp"},
      {"TLQHelpRouter", "ShowType", "stMain"},
      {"TLQHelpRouter", "CHMPopupTopics", "CSHelp.txt"},
      {"TLQHelpRouter", "ValidateID", "False"},
  };
  for (const auto& p : kProps) {
    SCOPED_TRACE(std::string(p.object) + "." + p.prop);
    const TFormObject& o = *p.object ? Get(p.object) : root;
    ASSERT_EQ(o.Props.count(p.prop), 1u);
    EXPECT_EQ(o.Props.at(p.prop), p.value);
  }
  EXPECT_EQ(Get("TLQHelpContextMap").Props.count("FileData"), 0u);  // no stored table
}

TEST_F(WizardForm, PageTitlesAndMarkupLabels) {
  const std::vector<std::string> kTitles = {"Welcome", "Connection Type", "Cable Type", "Connect The Phone", "Finish"};
  const TFormObject& nb = Get("NB");
  for (std::size_t i = 0; i < kTitles.size(); ++i) {
    bool found = false;
    for (const TFormObject& c : nb.Children[i].Children)
      found |= c.Class == "TLabel" && c.Props.count("Caption") && c.Props.at("Caption") == kTitles[i];
    EXPECT_TRUE(found) << "title of page " << i;
  }
  // The nine mark-up labels share their settings; only the finish text sizes itself.
  int labels = 0;
  for (const auto& [name, o] : objects) {
    if (o->Class != "THTMLabel") continue;
    SCOPED_TRACE(name);
    ++labels;
    EXPECT_EQ(o->Props.at("AutoSizing"), name == "HTMLabel3" ? "True" : "False");
    EXPECT_EQ(o->Props.at("AutoSizeType"), "asVertical");
    EXPECT_EQ(o->Props.at("Ellipsis"), "False");
    EXPECT_EQ(o->Props.at("GradientType"), "gtFullHorizontal");
    EXPECT_EQ(o->Props.at("HTMLHint"), "False");
    EXPECT_EQ(o->Props.at("ShadowColor"), "clGray");
    EXPECT_EQ(o->Props.at("ShadowOffset"), "2");
    EXPECT_EQ(o->Props.at("URLColor"), "clBlue");
    EXPECT_EQ(o->Props.at("VAlignment"), "tvaTop");
    EXPECT_EQ(o->Props.at("Font.Name"), "MS Sans Serif");
    EXPECT_EQ(o->Props.at("Font.Height"), "-11");
  }
  EXPECT_EQ(labels, 9);
}

// --- The English language data --------------------------------------------------------------------

std::vector<TLangStatement> NativeStatements(const std::string& kind) {
  TLangSource native = LoadLangSource(std::string(PELLORY_LANGUAGES_DIR) + "/Pellory.ntv.txt");
  std::vector<TLangStatement> out;
  for (const TLangStatement& s : native.Statements)
    if (!s.Words.empty() && s.Words[0] == kind) out.push_back(s);
  return out;
}

TEST_F(WizardForm, TextsMatchTheEnglishLanguageData) {
  // The data names the form by its object name and each property as the form text streams it.
  auto forms = NativeStatements("form");
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0].Words[1], root.Name);
  auto props = NativeStatements("prop");
  ASSERT_FALSE(props.empty());
  for (const TLangStatement& s : props) {
    ASSERT_EQ(s.Words.size(), 5u);
    std::string path = s.Words[1];
    SCOPED_TRACE(path);
    const TFormObject* o = &root;
    std::string prop = path;
    if (auto dot = path.find('.'); dot != std::string::npos) {
      o = &Get(path.substr(0, dot));
      prop = path.substr(dot + 1);
    }
    ASSERT_EQ(o->Props.count(prop), 1u);
    EXPECT_EQ(o->Props.at(prop), s.Words[4]);
  }
}

// The escapes of a string-table text: \r, \n and \\.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char e = text[++i];
    out += e == 'r' ? '\r' : e == 'n' ? '\n' : e;
  }
  return out;
}

// "  <id>, "<text>"" lines of the string table.
std::map<int, std::string> StringTable() {
  std::map<int, std::string> table;
  std::istringstream in(ReadFile(PELLORY_STRINGS_RC));
  const std::regex entry(R"re(^\s*(\d+)\s*,\s*"((?:[^"]|"")*)"\s*$)re");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch m;
    if (!std::regex_match(line, m, entry)) continue;
    std::string text = Unescape(std::regex_replace(m[2].str(), std::regex("\"\""), "\""));
    EXPECT_TRUE(table.emplace(std::stoi(m[1]), text).second) << "id " << m[1] << " twice";
  }
  return table;
}

TEST(StringTable, HoldsTheWizardStringsWithTheirIds) {
  std::map<int, std::string> table = StringTable();
  const std::map<int, std::string> kExpected = {
      {65264, "IMEI:"},
      {65265, "ESN:"},
      {65266, "Connection was not established. Press Help button for more information."},
      {65267, "The connection settings could not be saved for Corvessa."},
      {65286, "Are you sure that you want to close Pellory?"},
      {65287, "Nokia"},
      {65288, "Unknown"},
      {65289, "Phone is connected successfully. Press the Next button to save connection settings for Corvessa."},
      {65290,
       "Please, activate IR reception on your phone. Place your phone's IR eye over the infrared device and click the "
       "Connect button."},
      {65291,
       "Make sure that the phone is paired with PC via bluetooth adapter.Turn on your phone's bluetooth transceiver "
       "and click the Connect button."},
      {65292, "Attach the cable to the phone's POP port and click the Connect button."},
      {65293, "Plug the cable in phone's data port and serial port on PC side and click Connect button."},
      {65294, "Finish"},
      {65295, "Next >"},
  };
  std::map<int, std::string> wizard;
  for (const auto& [id, text] : table)
    if (id >= 65264) wizard.emplace(id, text);
  EXPECT_EQ(wizard, kExpected);
}

// The resource strings written with their native texts (they read the same
// where no string table holds them); the language data translates them.
const std::vector<ResString>& NativeTextStrings() {
  static const std::vector<ResString> strings = [] {
    std::vector<ResString> all{SConnectionsNotSaved};
    all.insert(all.end(), EngineErrorTexts().begin(), EngineErrorTexts().end());
    all.insert(all.end(), std::begin(kMsgDlgCaptions), std::end(kMsgDlgCaptions));
    return all;
  }();
  return strings;
}

// The table holds each with its native text, and nothing else below the
// wizard's strings.
TEST(StringTable, HoldsTheResourceStringsThatCarryTheirTexts) {
  std::map<int, std::string> table = StringTable();
  std::map<int, std::string> expected;
  for (const ResString& rs : NativeTextStrings()) {
    SCOPED_TRACE(rs.native);
    EXPECT_TRUE(expected.emplace(rs.id, rs.native).second) << "id " << rs.id << " twice";
    ASSERT_EQ(table.count(rs.id), 1u);
    EXPECT_EQ(table.at(rs.id), rs.native);
  }
  // The localizer's texts too; the language data translates them.
  for (const ResString& rs : LocalizerErrorTexts()) {
    SCOPED_TRACE(rs.native);
    EXPECT_TRUE(expected.emplace(rs.id, rs.native).second) << "id " << rs.id << " twice";
    ASSERT_EQ(table.count(rs.id), 1u);
    EXPECT_EQ(table.at(rs.id), rs.native);
  }
  EXPECT_EQ(table.at(65237), "System Error. Code: %d.\r\n%s");
  for (const auto& [id, text] : table)
    if (id < 65264) {
      EXPECT_EQ(expected.count(id), 1u) << "id " << id << " " << text;
    }
}

TEST(StringTable, MatchesTheEnglishLanguageData) {
  std::map<int, std::string> table = StringTable();
  auto consts = NativeStatements("const");
  ASSERT_FALSE(consts.empty());
  std::map<int, std::string> data;
  for (const TLangStatement& s : consts) {
    ASSERT_EQ(s.Words.size(), 5u);
    data[std::stoi(s.Words[2])] = s.Words[4];
  }
  // Every string the language data knows is in the table with the same text, and back.
  for (const auto& [id, text] : data) {
    SCOPED_TRACE(id);
    ASSERT_EQ(table.count(id), 1u);
    EXPECT_EQ(table.at(id), text);
  }
  // Every string of the table has language data (the ones written with their
  // native texts too), and the table holds nothing else.
  for (const auto& [id, text] : table) {
    EXPECT_GE(id, 65216);
    EXPECT_LE(id, 65295);
    EXPECT_EQ(data.count(id), 1u) << "id " << id << " " << text;
  }
}

// --- Pictures -------------------------------------------------------------------------------------

std::uint32_t U32(const std::string& s, std::size_t at) {
  return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
         static_cast<std::uint8_t>(s[at + 2]) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}
std::uint16_t U16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8);
}

TEST(Artwork, BitmapsHaveTheSizesTheWizardShowsThemAt) {
  struct {
    const char* file;
    std::int32_t width, height;
  } const kBitmaps[] = {{"page1.bmp", 200, 312},  {"page2.bmp", 200, 312}, {"page3.bmp", 200, 312},
                        {"page4.bmp", 200, 312},  {"phone0.bmp", 48, 48},  {"phone1.bmp", 48, 48},
                        {"wait.bmp", 15 * 32, 32}};
  for (const auto& b : kBitmaps) {
    SCOPED_TRACE(b.file);
    std::string bmp = ReadFile(std::string(PELLORY_ARTWORK_DIR) + "/" + b.file);
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U32(bmp, 10), 54u);
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(static_cast<std::int32_t>(U32(bmp, 18)), b.width);
    EXPECT_EQ(static_cast<std::int32_t>(U32(bmp, 22)), b.height);
    EXPECT_EQ(U16(bmp, 28), 24);
    std::size_t stride = (static_cast<std::size_t>(b.width) * 3 + 3) / 4 * 4;
    EXPECT_EQ(bmp.size(), 54 + stride * static_cast<std::size_t>(b.height));
  }
}

TEST(Artwork, PhonePicturesAreTransparentAroundThePhone) {
  for (const char* file : {"phone0.bmp", "phone1.bmp"}) {
    SCOPED_TRACE(file);
    std::string bmp = ReadFile(std::string(PELLORY_ARTWORK_DIR) + "/" + file);
    ASSERT_EQ(bmp.size(), 54u + 48 * 48 * 3);
    auto pixel = [&](int x, int y) {  // rows bottom-up, BGR
      std::size_t at = 54 + static_cast<std::size_t>(47 - y) * 48 * 3 + static_cast<std::size_t>(x) * 3;
      return U32(bmp + '\0', at) & 0xFFFFFF;
    };
    EXPECT_EQ(pixel(0, 0), 0xFF00FFu);  // corners: the mask colour
    EXPECT_EQ(pixel(47, 0), 0xFF00FFu);
    EXPECT_EQ(pixel(0, 47), 0xFF00FFu);
    EXPECT_NE(pixel(23, 24), 0xFF00FFu);  // the phone's body
  }
}

TEST(Artwork, ProgramIconHoldsThreeSizes) {
  std::string ico = ReadFile(std::string(PELLORY_ARTWORK_DIR) + "/Pellory.ico");
  ASSERT_GE(ico.size(), 6u + 3 * 16);
  EXPECT_EQ(U16(ico, 0), 0);
  EXPECT_EQ(U16(ico, 2), 1);
  ASSERT_EQ(U16(ico, 4), 3);
  const int kSizes[] = {48, 32, 16};
  for (int i = 0; i < 3; ++i) {
    std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    EXPECT_EQ(static_cast<std::uint8_t>(ico[entry]), kSizes[i]);
    EXPECT_EQ(static_cast<std::uint8_t>(ico[entry + 1]), kSizes[i]);
    EXPECT_EQ(U16(ico, entry + 6), 32);
    std::uint32_t size = U32(ico, entry + 8), offset = U32(ico, entry + 12);
    ASSERT_LE(static_cast<std::size_t>(offset) + size, ico.size());
    EXPECT_EQ(static_cast<std::int32_t>(U32(ico, offset + 4)), kSizes[i]);
    EXPECT_EQ(static_cast<std::int32_t>(U32(ico, offset + 8)), 2 * kSizes[i]);
    std::size_t mask = (static_cast<std::size_t>(kSizes[i]) + 31) / 32 * 4 * kSizes[i];
    EXPECT_EQ(size, 40u + 4u * kSizes[i] * kSizes[i] + mask);
  }
}

}  // namespace
