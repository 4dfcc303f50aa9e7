// Integer properties whose values have names (colours, cursors) in form data.
#include <gtest/gtest.h>

#include <string>

#include "Filer.h"
#include "FontCharsets.h"
#include "IdentMaps.h"
#include "ObjectConvert.h"
#include "SysUtils.h"

namespace {

struct TShadeTag {
  static const TypeInfo* Info();
};
using TShade = TNamedInt<TShadeTag, std::int32_t>;
constexpr TShade shDark = 0x202020, shLight = 0xE0E0E0, shSystem = static_cast<std::int32_t>(0x80000005u);

const TIdentMapEntry kShades[] = {{shDark, "shDark"}, {shLight, "shLight"}, {shSystem, "shSystem"}};

const TypeInfo* TShadeTag::Info() {
  static const TypeInfo info = MakeIntegerTypeInfo("TShade", INT32_MIN, INT32_MAX, kShades, std::size(kShades));
  return &info;
}

// A second map registered for the type from outside.
bool ExtraIdentToInt(const std::string& ident, std::int64_t& value) {
  if (!SameText(ident, "shMiddle")) return false;
  value = 0x808080;
  return true;
}
bool ExtraIntToIdent(std::int64_t value, std::string& ident) {
  if (value != 0x808080) return false;
  ident = "shMiddle";
  return true;
}

class TShaded : public TComponent {
  FW_CLASS(TShaded, TComponent)
 public:
  using TComponent::TComponent;
  TShade Shade = shLight;
  TShade Border = shDark;
  int Plain = 0;
  TShade GetBorder() const { return Border; }
  void SetBorder(TShade v) { Border = v; }
};

}  // namespace

FW_BEGIN_CLASS(TShaded)
  FW_PROP(Shade, Shade, Shade)
  FW_DEFAULT(shLight) FW_PROP(Border, GetBorder, SetBorder)
  FW_PROP(Plain, Plain, Plain)
  FW_DEFAULT(0)
FW_END_CLASS

namespace {
class IdentMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClasses({&TShaded::StaticClass()});
    RegisterIntegerConsts(TShadeTag::Info(), &ExtraIdentToInt, &ExtraIntToIdent);
  }
  void TearDown() override { UnRegisterClass(TShaded::StaticClass()); }

  static TShaded* Load(const std::string& props) {
    std::string bin = ObjectTextToBinary("object S: TShaded\r\n" + props + "end\r\n");
    return static_cast<TShaded*>(ReadComponentData(bin.data(), bin.size(), nullptr));
  }
};

TEST_F(IdentMaps, ANamedIntegerTypeHasItsOwnTypeInformation) {
  const PropInfo* shade = GetPropInfo(TShaded::StaticClass(), "Shade");
  const PropInfo* plain = GetPropInfo(TShaded::StaticClass(), "Plain");
  ASSERT_TRUE(shade && plain);
  EXPECT_EQ(shade->type, TShadeTag::Info());
  EXPECT_EQ(shade->Kind(), TypeKind::Integer);
  EXPECT_NE(plain->type, TShadeTag::Info());
  // The value behaves as the plain integer it stands for.
  TShade s = shSystem;
  EXPECT_EQ(s & 0xFF, 5);
  EXPECT_LT(s, 0);
  s = 7;
  EXPECT_EQ(s + 1, 8);
}

TEST_F(IdentMaps, IdentifiersAndNumbersReadIntoTypedProperties) {
  struct Case {
    const char* text;
    std::int32_t shade, border;
  };
  const Case cases[] = {
      {"  Shade = shDark\r\n", shDark, shDark},
      {"  Shade = SHSYSTEM\r\n", shSystem, shDark},              // identifiers ignore case
      {"  Border = shMiddle\r\n", shLight, 0x808080},            // a registered map
      {"  Shade = 1193046\r\n  Border = -1\r\n", 0x123456, -1},  // numbers still do
      {"  Border = shLight\r\n  Shade = shDark\r\n", shDark, shLight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TShaded* s = Load(c.text);
    EXPECT_EQ(s->Shade, c.shade);
    EXPECT_EQ(s->Border, c.border);
    s->Free();
  }
}

TEST_F(IdentMaps, AnUnknownIdentifierIsAReadErrorNamingTheProperty) {
  struct Case {
    const char* text;
    const char* where;
  };
  const Case cases[] = {
      {"  Shade = shPurple\r\n", "S.Shade"},
      {"  Plain = shDark\r\n", "S.Plain"},  // a plain integer has no identifiers
      {"  Border = True\r\n", "S.Border"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      Load(c.text)->Free();
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_NE(e.Message.find(c.where), std::string::npos) << e.Message;
    }
  }
}

TEST_F(IdentMaps, TheWriterNamesValuesThatHaveANameAndTheTextShowsIt) {
  TShaded* s = New<TShaded>(nullptr);
  s->SetName("S");
  s->Shade = shSystem;
  s->Border = 0x808080;
  s->Plain = 0x202020;  // same number as shDark, but a plain integer
  TMemoryStream* bin = New<TMemoryStream>();
  TWriter* w = New<TWriter>(*bin);
  w->WriteRootComponent(s);
  w->Free();
  bin->SetPosition(0);
  TMemoryStream* text = New<TMemoryStream>();
  ObjectBinaryToText(*bin, *text);
  std::string out = text->DataString();
  EXPECT_NE(out.find("Shade = shSystem"), std::string::npos) << out;
  EXPECT_NE(out.find("Border = shMiddle"), std::string::npos) << out;
  EXPECT_NE(out.find("Plain = 2105376"), std::string::npos) << out;
  // ... and reads back to the same values.
  TShaded* back = Load(out.substr(out.find("\r\n") + 2, out.rfind("end") - out.find("\r\n") - 2));
  EXPECT_EQ(back->Shade, shSystem);
  EXPECT_EQ(back->Border, 0x808080);
  EXPECT_EQ(back->Plain, 0x202020);
  back->Free();
  text->Free();
  bin->Free();
  s->Free();
}

TEST(IdentMapLookup, MapsWorkBothWays) {
  std::int64_t v = 0;
  std::string name;
  EXPECT_TRUE(IdentToInt("shlight", v, kShades));
  EXPECT_EQ(v, shLight);
  EXPECT_FALSE(IdentToInt("", v, kShades));
  EXPECT_FALSE(IdentToInt("shLightish", v, kShades));
  EXPECT_TRUE(IntToIdent(shSystem, name, kShades));
  EXPECT_EQ(name, "shSystem");
  EXPECT_FALSE(IntToIdent(1, name, kShades));
  EXPECT_FALSE(FindIdentToInt(nullptr, "shDark", v));
}

TEST(IdentMapLookup, CharsetsAreNamedByTheSystemIdentifiers) {
  struct Case {
    std::int64_t charset;
    const char* ident;
  } cases[] = {{0, "ANSI_CHARSET"},      {1, "DEFAULT_CHARSET"},      {177, "HEBREW_CHARSET"},
               {204, "RUSSIAN_CHARSET"}, {238, "EASTEUROPE_CHARSET"}, {255, "OEM_CHARSET"}};
  for (const Case& c : cases) {
    std::string ident;
    EXPECT_TRUE(CharsetToIdent(c.charset, ident));
    EXPECT_EQ(ident, c.ident);
    std::int64_t back = -1;
    EXPECT_TRUE(IdentToCharset(c.ident, back));
    EXPECT_EQ(back, c.charset);
  }
  std::string ident;
  EXPECT_FALSE(CharsetToIdent(3, ident));  // a number without a name
  EXPECT_FALSE(CharsetToIdent(204 + 256, ident));
}

}  // namespace
