#include "UcxSystem.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "RecordingWidePlatform.h"
#include "TestBytes.h"
#include "UcxSysUtils.h"

namespace {

std::u16string Units(std::string_view hex) {
  std::u16string out;
  std::istringstream in{std::string(hex)};
  std::string word;
  while (in >> word) out += static_cast<char16_t>(std::stoul(word, nullptr, 16));
  return out;
}

// A text and its bytes in one of the encodings.
struct CodecCase {
  std::u16string text;
  const char* bytes;
};

TEST(Utf7, EncodesWithOptionalDirectCharactersAndNoClosingMinusAtTheEnd) {
  const CodecCase cases[] = {
      {u"A+B", "41 2B 2D 42"},
      {u"\u00A31", "2B 41 4B 4D 2D 31"},
      {u"\u00A3", "2B 41 4B 4D"},
      {u"x~y", "78 2B 41 48 34 2D 79"},
      {u"a!b", "61 21 62"},                  // set O is direct
      {u"\u00A3 ", "2B 41 4B 4D 20"},        // no "-" before a blank
      {u"\u00A3-", "2B 41 4B 4D 2D 2D"},     // "-" before a "-"
      {u"\u00A3+", "2B 41 4B 4D 41 4B 77"},  // a "+" inside a run is encoded there
      {u"++", "2B 2D 2B 2D"},
      {u"\t\r\n", "09 0D 0A"},
      {u"\\", "2B 41 46 77"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToHex(Utf7FromWide(c.text)), c.bytes) << c.bytes;
  EXPECT_EQ(Utf7FromWide(u""), "");
}

TEST(Utf7, DecodesRunsAndTheEscapedPlus) {
  const CodecCase cases[] = {
      {u"\u00A31", "2B 41 4B 4D 2D 31"},
      {u"+", "2B 2D"},
      {u"\u00A3", "2B 41 4B 4D 2D"},   // a closing "-" at the end is dropped
      {u"\u00A3.", "2B 41 4B 4D 2E"},  // a non-base64 byte closes the run and stays
      {u"a-b", "61 2D 62"},
      {u"\u0416\u0434", "2B 42 42 59 45 4E 41"},
      {u"\u00A3\u00A3", "2B 41 4B 4D 2D 2B 41 4B 4D"},
  };
  for (const auto& c : cases) EXPECT_EQ(WideFromUtf7(FromHex(c.bytes)), c.text) << c.bytes;
  EXPECT_EQ(WideFromUtf7(""), u"");
}

TEST(Utf7, BadInputRaisesAfterReadingAllOfIt) {
  const char* bad[] = {
      "2B 5A 5A 5A",  // two leftover bits that are not 0
      "41 C3 42",     // a byte above 127 outside a run
      "2B",           // a run with no digit at the end
      "2B 2E",        // a run with no digit before another byte
      "2B 41 41 2D",  // 12 bits: no unit came out of the run
  };
  for (const char* b : bad) {
    try {
      WideFromUtf7(FromHex(b));
      ADD_FAILURE() << b;
    } catch (const EUcxGeneralError& e) {
      EXPECT_EQ(e.Message, "Invalid UTF7") << b;
    }
  }
  // The decoder keeps going: the text after the fault is still read.
  std::u16string out(8, u'\0');
  std::size_t n = 0;
  const std::string in = FromHex("80 41 42");
  EXPECT_EQ(Utf7DecodeBuffer(out.data(), out.size(), in.data(), in.size(), n), kConvIllegal);
  EXPECT_EQ(out.substr(0, n), u"\u0080AB");
}

TEST(Utf7, FullTargetsGiveTheBufferResult) {
  const std::u16string text = u"\u0416\u0434";
  char small[4];
  std::size_t n = 0;
  EXPECT_EQ(Utf7EncodeBuffer(small, sizeof small, text.data(), text.size(), true, false, n), kConvTargetFull);
  EXPECT_EQ(n, sizeof small);
  char16_t units[1];
  const std::string in = "abc";
  EXPECT_EQ(Utf7DecodeBuffer(units, 1, in.data(), in.size(), n), kConvTargetFull);
  EXPECT_EQ(n, 1u);
}

TEST(Utf7, SwitchesSelectTheSafeSetAndClosingMinus) {
  const std::u16string text = u"a!\u00A3 b";
  std::string out(64, '\0');
  std::size_t n = 0;
  ASSERT_EQ(Utf7EncodeBuffer(out.data(), out.size(), text.data(), text.size(), false, true, n), kConvOk);
  EXPECT_EQ(out.substr(0, n), "a+ACEAow- b");
}

TEST(Utf7, TablesAreBuiltOnceWhileThreadsConvert) {
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &ok] {
      bool good = true;
      for (int i = 0; i < 200; ++i)
        good = good && WideFromUtf7(Utf7FromWide(u"\u0416\u0434\u0438~+x")) == u"\u0416\u0434\u0438~+x";
      ok[t] = good;
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_TRUE(ok[t]) << t;
}

TEST(Utf8, EncodesEachUtf16UnitByItself) {
  const CodecCase cases[] = {
      {u"A", "41"},
      {u"\u00A3", "C2 A3"},
      {u"\u07FF", "DF BF"},
      {u"\u0800", "E0 A0 80"},
      {u"\u20AC", "E2 82 AC"},
      {u"\U0001F600", "ED A0 BD ED B8 80"},  // a surrogate pair gives six bytes
      {u"\xDC00", "ED B0 80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToHex(Utf8FromWide(c.text)), c.bytes) << c.bytes;
    EXPECT_EQ(WideFromUtf8(FromHex(c.bytes)), c.text) << c.bytes;
  }
  EXPECT_EQ(Utf8FromWide(u""), "");
}

TEST(Utf8, DecoderAcceptsOverlongFormsAndStrayLeadsButNotBrokenSequences) {
  const CodecCase cases[] = {
      {u"/", "C0 AF"},                 // overlong
      {u"\u0001", "80 81"},            // a continuation byte as lead: two-byte form
      {u"\u0041", "F0 81 81"},         // a four-byte lead takes the three-byte form
      {u"\U0001F600", "F0 9F 98 80"},  // a standard four-byte sequence gives its surrogate pair
      {u"a\U00010000\U0010FFFFb", "61 F0 90 80 80 F4 8F BF BF 62"},
      {u"\xD83D\U0001F600\xDE00", "ED A0 BD F0 9F 98 80 ED B8 80"},  // three-byte halves stay halves
      {u"", "C3 28"},                                                // bad continuation
      {u"", "E2 82"},                                                // missing continuation
      {u"", "41 C3"},                                                // a lead byte at the end
      {u"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WideFromUtf8(FromHex(c.bytes)), c.text) << c.bytes;
}

TEST(Utf8, BufferRoutinesStopBeforeWhatDoesNotFit) {
  const std::u16string text = u"a\u20ACb";
  char out[4] = {'x', 'x', 'x', 'x'};
  // "a" fits, the euro sign (three bytes) does not fit into 3 bytes after it.
  EXPECT_EQ(Utf8EncodeBuffer(out, sizeof out, text.data(), text.size()), 2u);
  EXPECT_EQ(std::string(out), "a");
  EXPECT_EQ(Utf8EncodeBuffer(nullptr, 0, text.data(), text.size()), 6u);
  EXPECT_EQ(Utf8EncodeBuffer(out, 0, text.data(), text.size()), 0u);

  const std::string bytes = FromHex("61 E2 82 AC 62");
  char16_t units[2] = {u'x', u'x'};
  EXPECT_EQ(Utf8DecodeBuffer(units, 2, bytes.data(), bytes.size()), 2);
  EXPECT_EQ(units[0], u'a');
  EXPECT_EQ(units[1], 0);
  EXPECT_EQ(Utf8DecodeBuffer(nullptr, 0, bytes.data(), bytes.size()), 4);
  EXPECT_EQ(Utf8DecodeBuffer(nullptr, 0, "\xC3", 1), -1);

  // A surrogate pair goes in whole or not at all.
  const std::string pair = FromHex("61 F0 9F 98 80");
  char16_t four[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(Utf8DecodeBuffer(four, 3, pair.data(), pair.size()), 2);
  EXPECT_EQ(std::u16string(four), u"a");
  EXPECT_EQ(Utf8DecodeBuffer(four, 4, pair.data(), pair.size()), 4);
  EXPECT_EQ(std::u16string(four), u"a\U0001F600");
  EXPECT_EQ(Utf8DecodeBuffer(nullptr, 0, pair.data(), pair.size()), 4);
}

// The fixture holds 200 random strings with the bytes Python's codecs give
// (tests/data/make_codec_fixture.py).
TEST(CodecFixture, MatchesPythonsCodecs) {
  std::ifstream in(PELLORY_SOURCE_DIR "/unicode/tests/data/codec_fixture.txt");
  ASSERT_TRUE(in) << "fixture missing";
  std::string line;
  int lines = 0;
  int utf7Lines = 0;
  while (std::getline(in, line)) {
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = line.find('\t', tab1 + 1);
    ASSERT_NE(tab2, std::string::npos) << line;
    const std::u16string text = Units(line.substr(0, tab1));
    const std::string utf8 = FromHex(line.substr(tab1 + 1, tab2 - tab1 - 1));
    const std::string utf7Text = line.substr(tab2 + 1);
    ++lines;
    EXPECT_EQ(ToHex(Utf8FromWide(text)), ToHex(utf8)) << line;
    EXPECT_EQ(WideFromUtf8(utf8), text) << line;
    if (utf7Text == "-") continue;
    ++utf7Lines;
    const std::string python = FromHex(utf7Text);
    EXPECT_EQ(WideFromUtf7(python), text) << line;
    const std::string ours = Utf7FromWide(text);
    if (ours != python) {
      EXPECT_EQ(ToHex(ours + "-"), ToHex(python)) << line;
    }
    EXPECT_EQ(WideFromUtf7(ours), text) << line;
  }
  EXPECT_EQ(lines, 200);
  EXPECT_GT(utf7Lines, 150);
}

// Standard UTF-8 from Python's encoder, with characters beyond U+FFFF as
// four-byte sequences (tests/data/make_codec_fixture.py): each reads as its
// surrogate pairs, and what the program writes of them reads back the same.
TEST(CodecFixture, StandardUtf8FromPythonReadsBackWhole) {
  std::ifstream in(PELLORY_SOURCE_DIR "/unicode/tests/data/utf8_standard.txt");
  ASSERT_TRUE(in) << "fixture missing";
  std::string line;
  int lines = 0;
  int withFourBytes = 0;
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::u16string text = Units(line.substr(0, tab));
    const std::string utf8 = FromHex(line.substr(tab + 1));
    ++lines;
    if (utf8.find('\xF0') != std::string::npos || utf8.find('\xF1') != std::string::npos ||
        utf8.find('\xF2') != std::string::npos || utf8.find('\xF3') != std::string::npos ||
        utf8.find('\xF4') != std::string::npos)
      ++withFourBytes;
    EXPECT_EQ(WideFromUtf8(utf8), text) << line;
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(text)), text) << line;
  }
  EXPECT_EQ(lines, 100);
  EXPECT_GT(withFourBytes, 50);
}

struct ParamCase {
  std::u16string line;
  std::vector<std::u16string> params;
};

TEST(NextWideParam, SplitsAtBlanksOutsideQuotes) {
  const ParamCase cases[] = {
      {u"prog a b", {u"prog", u"a", u"b"}},
      {u"  \t prog   \"two words\" x", {u"prog", u"two words", u"x"}},
      {u"a\"b c\"d e", {u"ab cd", u"e"}},
      {u"\"\" \"\"x", {u"x"}},         // pairs of quotes are skipped
      {u"\"open end", {u"open end"}},  // an unclosed quote runs to the end
      {u"\"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440\"",
       {u"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440"}},
      {std::u16string(u"a\0b", 3), {u"a"}},  // a 0 unit ends the text
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> got;
    std::u16string_view rest(c.line);
    for (;;) {
      std::u16string p;
      rest.remove_prefix(NextWideParam(rest, p));
      if (p.empty()) break;
      got.push_back(p);
    }
    EXPECT_EQ(got, c.params) << WideToUtf8(c.line);
  }
}

TEST(NextWideParam, ReadsALongParameterWhole) {
  const std::u16string longOne(10000, u'x');
  const std::u16string line = u"prog " + longOne + u" next";
  std::u16string_view rest(line);
  std::u16string p;
  rest.remove_prefix(NextWideParam(rest, p));
  rest.remove_prefix(NextWideParam(rest, p));
  EXPECT_EQ(p, longOne);
  NextWideParam(rest, p);
  EXPECT_EQ(p, u"next");
  const std::u16string quoted = u"\"" + longOne + u" " + longOne + u"\"";
  NextWideParam(quoted, p);
  EXPECT_EQ(p.size(), 20001u);
}

TEST(WideCommandLineParam, GivesTheProgramPathAndTheParameters) {
  RecordingWidePlatform platform;
  platform.commandLine =
      u"\"C:\\Program Files\\w.exe\" 1049 \"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440\"";
  platform.moduleWide = u"C:\\Program Files\\w.exe";
  WidePlatformScope scope(&platform, true);
  EXPECT_EQ(WideCommandLineParam(0), u"C:\\Program Files\\w.exe");
  EXPECT_EQ(WideCommandLineParam(1), u"1049");
  EXPECT_EQ(WideCommandLineParam(2), u"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440");
  EXPECT_EQ(WideCommandLineParam(3), u"");
  EXPECT_EQ(WideCommandLineParam(30), u"");
}

TEST(KeyboardCodePage, ReadsTheLayoutsLocaleOrFallsBackToTheAnsiCodePage) {
  RecordingWidePlatform platform;
  platform.layout = 0xF0C00419;  // Russian language, some layout
  WidePlatformScope scope(&platform, true);
  const struct {
    const char* info;
    unsigned codePage;
  } cases[] = {{"1251", 1251}, {"", 1252}, {"abc", 1252}, {"0", 0}};
  for (const auto& c : cases) {
    platform.localeInfo = c.info;
    platform.calls.clear();
    EXPECT_EQ(KeyboardCodePage(), c.codePage) << c.info;
    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0], "LocaleInfoA 0419 1004 6");
  }
}

TEST(WideCharFromKeyboardChar, ConvertsBytesThroughTheKeyboardCodePage) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, true);
  EXPECT_EQ(WideCharFromKeyboardChar(0x41), u'A');
  EXPECT_EQ(WideCharFromKeyboardChar(0x80), u'\u20AC');  // the stand-in's Windows-1252
  EXPECT_EQ(WideCharFromKeyboardChar(0x416), u'\u0416');
  EXPECT_EQ(WideCharFromKeyboardChar(0x1F600), static_cast<char16_t>(0xF600));
}

TEST(ConversionCodePage, StartsAndEndsAtTheSystemAnsiCodePage) {
  ConversionCodePage = 1251;
  DoneUcxSystem();
  EXPECT_EQ(ConversionCodePage, 0u);
  ConversionCodePage = 1251;
  InitUcxSystem();
  EXPECT_EQ(ConversionCodePage, 0u);
}

}  // namespace
