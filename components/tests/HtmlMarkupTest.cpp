#include "HtmlMarkup.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "HtmlGifFrames.h"

namespace {

TEST(HtmlMarkup, PreparationReplacesEntitiesUntilStableThenPlaceholderAndBreaks) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"&AMP;x", "&&x"},
      {"&amp;", "&&"},
      {"&amp;amp;", "&&&"},  // the second pass finds the entity the first one made
      {"a&quot;b&QUOT;c", "a\"b\"c"},
      {"&sect;&permil;&reg;&copy;&para;&trade;&euro;", "\xA7\x89\xAE\xA9\xB6\x99\x80"},
      {"&lt;B&gt;", "&lt;B&gt;"},  // run entities come later, after the cut into runs
      {"&unknown; & x", "&unknown; & x"},
      {"x<#name>y<#z>", "x#namey<#z>"},  // only the first placeholder
      {"<#open", "#open"},
      {"a\r\nb\nc\r", "a<BR>bc<BR>"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PrepareHtmlText(c.in), c.out) << c.in;
}

TEST(HtmlMarkup, RunEntitiesIgnoreCaseAndComeInOrder) {
  EXPECT_EQ(ApplyRunEntities("&NBSP;a&lt;B&GT;"), " a<B>");
  EXPECT_EQ(ApplyRunEntities("&amp;lt;"), "&amp;lt;");  // "&lt;" is not inside it
  EXPECT_EQ(ApplyRunEntities("&lt;lt;"), "<lt;");
}

TEST(HtmlMarkup, NumbersReadDecimalAndHexAndStopAtABadCharacter) {
  const struct {
    std::string in;
    int value;
    bool whole;
  } cases[] = {
      {"12", 12, true},        {"  7", 7, true},   {"$1F", 31, true}, {"x1f", 31, true},
      {"X10", 16, true},       {"12a", 12, false}, {"-5", -5, true},  {"-5a", 5, false},
      {"$FFFFFFFF", -1, true}, {"", 0, false},     {"abc", 0, false}, {"1 2", 1, false},
  };
  for (const auto& c : cases) {
    int v = 99;
    EXPECT_EQ(HtmlNumber(c.in), c.value) << c.in;
    EXPECT_EQ(HtmlWholeNumber(c.in, v), c.whole) << c.in;
  }
}

TEST(HtmlMarkup, ColoursByHexAndByName) {
  const struct {
    std::string in;
    std::uint32_t color;
  } cases[] = {
      {"#ff0000", 0x0000FF},
      {"#FF0000", 0x0000FF},
      {"#00Ff00", 0x00FF00},
      {"#0000FF", 0xFF0000},
      {"#F", 0},
      {"#12345", 0x003412},
      {"RED", 0x0000FF},
      {"clred", 0x0000FF},
      {"ClBlue", 0xFF0000},
      {"unknown", 0},
      {"clblack", 0},
      {"clbtnface", 0x8000000F},
      {"BTNSHADOW", 0x80000010},
      {"cl3ddkshadow", 0x80000015},
      {"clinfobk", 0x80000018},
      {"clbackground", 0x80000001},
      {"clmaroon", 0x000080},
      {"clinactivecaptiontext", 0x80000013},
      {"clteal", 0x808000},
      {"clhighlighttext", 0x8000000E},
  };
  for (const auto& c : cases) EXPECT_EQ(static_cast<std::uint32_t>(HtmlColorValue(c.in)), c.color) << c.in;
  EXPECT_EQ(HexPairValue("1F"), 31);
  EXPECT_EQ(HexPairValue("A"), 0);
  EXPECT_EQ(HexPairValue("ff"), 0);  // values arrive upper-cased
  EXPECT_EQ(ParseHexColor("#102030"), 0x302010);
}

TEST(HtmlMarkup, TheFortyColourNamesAllResolve) {
  const char* names[] = {"clred",           "clblue",
                         "clgreen",         "claqua",
                         "clyellow",        "clfuchsia",
                         "clwhite",         "cllime",
                         "clsilver",        "clgray",
                         "clolive",         "clnavy",
                         "clpurple",        "clteal",
                         "clmaroon",        "clbackground",
                         "clactivecaption", "clinactivecaption",
                         "clmenu",          "clwindow",
                         "clwindowframe",   "clmenutext",
                         "clwindowtext",    "clcaptiontext",
                         "clactiveborder",  "clinactiveborder",
                         "clappworkspace",  "clhighlight",
                         "clhighlighttext", "clbtnface",
                         "clbtnshadow",     "clgraytext",
                         "clbtntext",       "clinactivecaptiontext",
                         "clbtnhighlight",  "cl3ddkshadow",
                         "cl3dlight",       "clinfotext",
                         "clinfobk"};
  std::vector<HtmlColor> seen;
  for (const char* n : names) {
    const HtmlColor c = ColorFromName(n);
    EXPECT_NE(c, 0) << n;
    for (HtmlColor s : seen) EXPECT_NE(s, c) << n;
    seen.push_back(c);
  }
  EXPECT_EQ(seen.size(), 39u);  // with clblack (0) the table's forty
}

TEST(HtmlMarkup, AttributesAndSizes) {
  EXPECT_EQ(TagAttribute(" COLOR=\"RED\" SIZE=\"3\"", " COLOR"), "RED");
  EXPECT_EQ(TagAttribute(" COLOR=RED", " COLOR"), "");
  EXPECT_EQ(TagAttribute(" BGCOLOR=\"RED\"", " COLOR"), "");
  EXPECT_EQ(TagAttribute(" BGCOLORTO=\"#000000\" BGCOLOR=\"RED\"", "BGCOLOR"), "#000000");
  EXPECT_EQ(TagAttribute("src=\"Logo.gif\"", "SRC"), "Logo.gif");
  EXPECT_EQ(TagSizeValue(" SIZE=3"), 3);
  EXPECT_EQ(TagSizeValue(" SIZE=\"14\""), 14);
  EXPECT_EQ(TagSizeValue(" SIZE=\"2x\""), 2);
  const int points[][2] = {{1, 8}, {2, 10}, {3, 12}, {4, 14}, {5, 16}, {6, 6}, {20, 20}, {0, 0}};
  for (const auto& p : points) EXPECT_EQ(FontSizePoints(p[0]), p[1]);
}

TEST(HtmlMarkup, StripHtmlGivesThePlainText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a<BR>b<z>c</z>d<i>e</i>", "a\r\nbde"},
      {"ab<cd", "ab<cd"},
      {"x<Z>hidden</Z>y<hr>z", "xy\r\nz"},
      {"a<z>b", "ab"},  // no closing marker: the section stays and its tag goes
      {"<b>bold</b> <z>1</z>2<z>3</z>", "bold 2"},
      {"a<Z>b</z>c", "abc"},  // markers are case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(StripHtml(c.in), c.out) << c.in;
}

TEST(HtmlMarkup, GradientBandsRoundHalfToEven) {
  const auto bands = GradientBands(0x0000FF, 0xFF0000, 0, 10, 4);  // red to blue, 2.5 pixels a band
  ASSERT_EQ(bands.size(), 4u);
  const GradientBand expected[] = {{0x0000FF, 0, 3}, {0x4000BF, 2, 5}, {0x80007F, 5, 8}, {0xBF0040, 8, 10}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(bands[i].color, expected[i].color) << i;
    EXPECT_EQ(bands[i].start, expected[i].start) << i;
    EXPECT_EQ(bands[i].end, expected[i].end) << i;
  }
  // Band starts are taken modulo 65536.
  const auto wrapped = GradientBands(0, 0, 65534, 65544, 2);
  EXPECT_EQ(wrapped[0].start, 65534);
  EXPECT_EQ(wrapped[1].start, 3);
  EXPECT_EQ(wrapped[1].end, 9);
  // No steps count as one; no colour ($1FFFFFFF) has white channels.
  const auto one = GradientBands(0x000000, 0x1FFFFFFF, 0, 8, 0);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].end, 8);
  const auto toNone = GradientBands(0x000000, 0x1FFFFFFF, 0, 64, 2);
  EXPECT_EQ(toNone[1].color, 0x808080u);
}

// A GIF with a logical screen of 20 x 10, no global colour table, and one
// frame per descriptor (left, top, width, height), each with a control extension.
std::string MakeGif(const std::vector<std::array<int, 4>>& frames, bool withControl = true) {
  std::string g = "GIF89a";
  auto word = [&](int v) {
    g += static_cast<char>(v & 0xFF);
    g += static_cast<char>((v >> 8) & 0xFF);
  };
  word(20);
  word(10);
  g += std::string("\0\0\0", 3);
  for (const auto& f : frames) {
    if (withControl) g += std::string("\x21\xF9\x04\x00\x00\x00\x00\x00", 8);
    g += '\x2C';
    for (int v : f) word(v);
    g += std::string("\x00\x02\x02\x44\x01\x00", 6);
  }
  g += '\x3B';
  return g;
}

TEST(HtmlGifFrames, SelectingAFrameKeepsTheHeaderAndTheFramesFromItOn) {
  const std::string gif = MakeGif({{0, 0, 20, 10}, {1, 2, 3, 4}, {5, 6, 7, 8}});
  EXPECT_TRUE(HasGifSignature(gif));
  EXPECT_EQ(CountGifFrames(gif), 3);
  const std::size_t header = 13, frame = 8 + 9 + 6;

  const GifFrameSelection first = SelectGifFrame(gif, 1);
  EXPECT_EQ(first.bytes, gif);
  EXPECT_EQ((std::array<int, 4>{first.left, first.top, first.width, first.height}), (std::array<int, 4>{0, 0, 20, 10}));
  EXPECT_EQ(first.screenWidth, 20);
  EXPECT_EQ(first.screenHeight, 10);

  const GifFrameSelection third = SelectGifFrame(gif, 3);
  EXPECT_EQ(third.bytes, gif.substr(0, header) + gif.substr(header + 2 * frame));
  EXPECT_EQ((std::array<int, 4>{third.left, third.top, third.width, third.height}), (std::array<int, 4>{5, 6, 7, 8}));

  const GifFrameSelection past = SelectGifFrame(gif, 4);  // beyond the last frame: the header alone
  EXPECT_EQ(past.bytes, gif.substr(0, header));
  EXPECT_EQ(past.width, 0);
}

TEST(HtmlGifFrames, FramesNeedTheirControlExtensionAndAWholeDescriptor) {
  const std::string plain = MakeGif({{0, 0, 20, 10}}, false);
  EXPECT_EQ(CountGifFrames(plain), 0);
  EXPECT_EQ(SelectGifFrame(plain, 1).bytes, plain);
  EXPECT_EQ(CountGifFrames("BM\0\0\0\0"), -1);
  EXPECT_FALSE(HasGifSignature("GIF8"));

  // A control extension and descriptor start cut before the descriptor's last byte.
  const std::string gif = MakeGif({{1, 2, 3, 4}});
  const std::size_t at = 13;
  for (std::size_t cut = at + 9; cut <= at + 16; ++cut) {
    const std::string shortData = gif.substr(0, cut);
    EXPECT_EQ(CountGifFrames(shortData), 0) << cut;
    const GifFrameSelection s = SelectGifFrame(shortData, 1);
    EXPECT_EQ(s.bytes, shortData);
  }
  EXPECT_EQ(CountGifFrames(gif.substr(0, at + 17)), 1);
  EXPECT_EQ(SelectGifFrame(gif.substr(0, 8), 1).screenWidth, 0);  // too short for the screen size
}

}  // namespace
