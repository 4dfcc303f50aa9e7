#include "Extended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "ObjectConvert.h"
#include "Parser.h"
#include "TestBytes.h"

namespace {

TExtended Bits(std::uint64_t mantissa, std::uint16_t signExp) {
  TExtended v;
  v.mantissa = mantissa;
  v.signExp = signExp;
  return v;
}

// The ten bytes of the value as they are stored, in hex.
std::string ToHex(const TExtended& v) {
  std::uint8_t b[10];
  v.ToBytes(b);
  return ::ToHex(std::string_view(reinterpret_cast<const char*>(b), sizeof b));
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

// The ten bytes Free Pascal 3.2.2 (x86_64, where Extended is the 80-bit type)
// writes for these texts when its ObjectTextToBinary converts a form holding
// them. Produced by tests/fpc/ExtendedForm.pas, which prints these rows:
//   fpc -O1 ExtendedForm.pas && ./ExtendedForm
struct FreePascalRow {
  const char* text;
  const char* bytes;
};
const FreePascalRow kFreePascal[] = {
    // clang-format off
      {"0.1", "CD CC CC CC CC CC CC CC FB 3F"},
      {"-0.1", "CD CC CC CC CC CC CC CC FB BF"},
      {"3.14159265358979323846", "35 C2 68 21 A2 DA 0F C9 00 40"},
      {"-0.0", "00 00 00 00 00 00 00 00 00 80"},
      {"1.0", "00 00 00 00 00 00 00 80 FF 3F"},
      {"1.5", "00 00 00 00 00 00 00 C0 FF 3F"},
      {"2.5E-1", "00 00 00 00 00 00 00 80 FD 3F"},
      {"1E20", "00 00 62 AC C5 EB 78 AD 41 40"},
      {"123456789012345678.0", "00 A7 79 18 D3 A5 4D DB 37 40"},
      {"2.718281828459045235360287", "9B 4A BB A2 58 54 F8 AD 00 40"},
      {"1.18973149535723E4932", "18 95 FF FF FF FF FF FF FE 7F"},
      {"1.18973149535723176502E4932", "FF FF FF FF FF FF FF FF FE 7F"},
      {"1.18973149535723176505E4932", "FF FF FF FF FF FF FF FF FE 7F"},
      {"3.3621031431120935063E-4932", "00 00 00 00 00 00 00 80 01 00"},
      {"3.3621031431120935062E-4932", "00 00 00 00 00 00 00 80 01 00"},
      {"3.6451995318824746025E-4951", "01 00 00 00 00 00 00 00 00 00"},
      {"1E-4940", "62 8E 27 63 06 00 00 00 00 00"},
      {"-4.2E-4945", "C8 94 11 00 00 00 00 00 00 80"},
      {"2E-4951", "01 00 00 00 00 00 00 00 00 00"},
      {"1E-4951", "00 00 00 00 00 00 00 00 00 00"},
      {"1.7976931348623157E308", "AC F7 FF FF FF FF FF FF FE 43"},
      {"4.9406564584124654E-324", "64 FF FF FF FF FF FF FF CC 3B"},
    // clang-format on
};

}  // namespace

TEST(Extended, DecimalTextReadsAsFreePascalReadsIt) {
  for (const FreePascalRow& row : kFreePascal) {
    SCOPED_TRACE(row.text);
    TExtended v;
    ASSERT_TRUE(TryTextToExtended(row.text, v));
    EXPECT_EQ(ToHex(v), row.bytes);
    std::string text = ExtendedToText(v);
    TExtended back;
    ASSERT_TRUE(TryTextToExtended(text, back)) << text;
    EXPECT_EQ(ToHex(back), row.bytes) << "written as " << text;
  }
}

TEST(Extended, FormTextConvertsAsFreePascalConvertsIt) {
  std::string text = "object F: TForm\r\n";
  std::string want = std::string("TPF0") + "\x05" + "TForm" + "\x01" + "F";
  int i = 0;
  for (const FreePascalRow& row : kFreePascal) {
    std::string name = "V" + std::to_string(i++);
    text += "  " + name + " = " + row.text + "\r\n";
    want += static_cast<char>(name.size()) + name + "\x05" + FromHex(row.bytes);
  }
  text += "end\r\n";
  want += std::string(2, '\0');
  std::string binary = ObjectTextToBinary(text);
  EXPECT_EQ(ToHex(binary), ToHex(want));
  std::string again = ObjectTextToBinary(ObjectBinaryToText(want));
  EXPECT_EQ(ToHex(again), ToHex(want)) << "binary -> text -> binary keeps every bit";
}

TEST(Extended, WritesTheShortestTextThatReadsBack) {
  struct Case {
    TExtended value;
    const char* text;
  } cases[] = {
      {Bits(0xCCCCCCCCCCCCCCCD, 0x3FFB), "0.1"},
      {Bits(0, 0x8000), "-0.0"},
      {Bits(0, 0), "0.0"},
      {Bits(0x8000000000000000, 0x3FFF), "1.0"},
      {Bits(0x8000000000000000, 0xBFFD), "-0.25"},
      {Bits(0xC90FDAA22168C235, 0x4000), "3.1415926535897932385"},
      {Bits(0xAD78EBC5AC620000, 0x4041), "1E20"},
      {Bits(0xDB4DA5D31879A700, 0x4037), "123456789012345678.0"},
      {Bits(0x8AC7230489E80000, 0x403E), "1E19"},
      {Bits(0xFFFFFFFFFFFF9518, 0x7FFE), "1.18973149535723E4932"},
      {Bits(0xFFFFFFFFFFFFFFFF, 0x7FFE), "1.189731495357231765E4932"},
      {Bits(0xA7C5AC471B478423, 0x3FEE), "0.00001"},
      {Bits(0x8637BD05AF6C69B6, 0x3FEB), "1E-6"},
      {Bits(0x8000000000000000, 0x0001), "3.3621031431120935063E-4932"},
      {Bits(1, 0), "4E-4951"},
      {Bits(0x0000000663278E62, 0), "1E-4940"},
      {Bits(0x8000000000000000, 0x0000),
       "3.3621031431120935063E-4932"},  // pseudo-denormal: the smallest normal's value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ExtendedToText(c.value), c.text);
  }
  EXPECT_THROW(ExtendedToText(Bits(0x8000000000000000, 0x7FFF)), EConvertError);
  EXPECT_THROW(ExtendedToText(Bits(0xC000000000000000, 0xFFFF)), EConvertError);
}

TEST(Extended, EveryFiniteValueReadsBackFromItsText) {
  // A spread of bit patterns: denormals, both ends of the exponent range, binade edges.
  std::uint64_t seed = 0x9E3779B97F4A7C15;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  const std::uint16_t fields[] = {0, 1, 2, 0x3FFE, 0x3FFF, 0x4000, 0x7FFD, 0x7FFE};
  for (int i = 0; i < 300; ++i) {
    std::uint64_t m = next();
    std::uint16_t field = i < 100 ? fields[i % 8] : static_cast<std::uint16_t>(next() % 0x7FFF);
    if (field != 0) m |= std::uint64_t{1} << 63;
    if (field == 0) m = (m >> 1) >> (next() % 63);  // below the integer bit: a true denormal
    if (i % 50 == 0) m = field ? std::uint64_t{1} << 63 : 1;
    if (i % 50 == 1) m = ~std::uint64_t{0} >> (field ? 0 : 1);
    TExtended v = Bits(m, static_cast<std::uint16_t>(field | ((i & 1) << 15)));
    std::string text = ExtendedToText(v);
    TExtended back;
    ASSERT_TRUE(TryTextToExtended(text, back)) << text;
    ASSERT_EQ(ToHex(back), ToHex(v)) << text;
  }
}

TEST(Extended, TiesGoToEvenAndEveryDigitCounts) {
  const std::string half = "1.0000000000000000000542101086242752217003726400434970855712890625";  // 1 + 2^-64
  const std::string threeHalves =
      "1.0000000000000000001626303258728256651011179201304912567138671875";  // 1 + 3 * 2^-64
  const std::string zeros(13000, '0');                                       // more digits than any tie needs
  struct Case {
    std::string text;
    std::uint64_t mantissa;
  } cases[] = {
      {half, 0x8000000000000000},          {half + "1", 0x8000000000000001},
      {half + zeros, 0x8000000000000000},  {half + zeros + "1", 0x8000000000000001},
      {threeHalves, 0x8000000000000002},   {"0." + std::string(4, '0') + "1" + "E5", 0x8000000000000000},
      {zeros + "1.0", 0x8000000000000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80) + "... (" + std::to_string(c.text.size()) + " characters)");
    TExtended v;
    ASSERT_TRUE(TryTextToExtended(c.text, v));
    EXPECT_EQ(ToHex(v), ToHex(Bits(c.mantissa, 0x3FFF)));
  }
}

TEST(Extended, TextThatIsNoFiniteValueIsRefused) {
  for (const char* bad : {"", "-", "+", ".", "-.", "E5", "1E", "1E+", "1.2.3", " 1", "1 ", "1x", "0x10", "1e5000",
                          "1.2E4932", "-1.18973149535723176509E4932", "1E999999999999999999999", "Inf", "NaN"}) {
    TExtended v;
    EXPECT_FALSE(TryTextToExtended(bad, v)) << bad;
  }
  struct Case {
    const char* text;
    const char* bytes;
  } tiny[] = {
      {"1E-5000", "00 00 00 00 00 00 00 00 00 00"},  {"-1E-999999999999999999999", "00 00 00 00 00 00 00 00 00 80"},
      {"-000.000", "00 00 00 00 00 00 00 00 00 80"}, {".5", "00 00 00 00 00 00 00 80 FE 3F"},
      {"+5.", "00 00 00 00 00 00 00 A0 01 40"},
  };
  for (const auto& c : tiny) {
    TExtended v;
    ASSERT_TRUE(TryTextToExtended(c.text, v)) << c.text;
    EXPECT_EQ(ToHex(v), c.bytes) << c.text;
  }
}

TEST(Extended, ConvertsToTheNearestDouble) {
  const double minDenormal = std::numeric_limits<double>::denorm_min();
  const double maxDouble = std::numeric_limits<double>::max();
  struct Case {
    const char* what;
    TExtended value;
    double want;
  } cases[] = {
      // 2.5 denormal steps and a little more: one rounding to 3 steps, not 53 bits first and then a tie to 2
      {"denormal double", Bits(0xA000000000000004, 16446 - 63 - 1073), 3 * minDenormal},
      {"a tie at 53 bits goes to even", Bits(0x8000000000000400, 0x3FFF), 1.0},
      {"above the tie rounds up", Bits(0x8000000000000401, 0x3FFF), 1.0 + 0x1p-52},
      {"odd tie rounds up", Bits(0x8000000000000C00, 0x3FFF), 1.0 + 0x1p-51},
      {"the largest double", Bits(0xFFFFFFFFFFFFF800, 0x43FE), maxDouble},
      {"just under half a step above it", Bits(0xFFFFFFFFFFFFFBFF, 0x43FE), maxDouble},
      {"half a step above it", Bits(0xFFFFFFFFFFFFFC00, 0x43FE), HUGE_VAL},
      {"beyond the double range", Bits(0x8000000000000000, 0x4800), HUGE_VAL},
      {"negative beyond", Bits(0x8000000000000000, 0xC800), -HUGE_VAL},
      {"under half the smallest denormal", Bits(0x8000000000000000, 16446 - 63 - 1075), 0.0},
      {"over half the smallest denormal", Bits(0x8000000000000001, 16446 - 63 - 1075), minDenormal},
      {"an extended denormal", Bits(0x0000000663278E62, 0), 0.0},
      {"negative zero", Bits(0, 0x8000), -0.0},
      {"infinity", Bits(0x8000000000000000, 0x7FFF), HUGE_VAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    double got = ExtendedToDouble(c.value);
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(std::signbit(got), std::signbit(c.want));
  }
  EXPECT_TRUE(std::isnan(ExtendedToDouble(Bits(0xC000000000000000, 0x7FFF))));
}

TEST(Extended, FormTextTakesValuesBeyondTheDoubleRange) {
  std::string text =
      Lines({"object F: TForm", "  Big = 1E400", "  Small = -1E-400", "  LargestSingle = 3.4028235E+38s", "end"});
  EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(text)), text);
  for (const char* bad : {"1E5000", "1E400d", "1E39s", "-3.4028236E38s"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ObjectTextToBinary(Lines({"object F: TForm", std::string("  X = ") + bad, "end"})), EParserError);
  }
}
