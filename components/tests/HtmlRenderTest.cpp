#include "HtmlRender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HtmlFakeSurface.h"

namespace {

// Character 6 pixels wide (7 bold); text 13 pixels high at 8 points.
constexpr HtmlRect kRect{0, 0, 200, 100};

HtmlRenderResult Render(FakeHtmlSurface& s, const std::string& text, HtmlRect rect = kRect,
                        HtmlRenderOptions options = {}) {
  return RenderHtml(s, text, rect, options);
}

HtmlRenderResult HitTest(const std::string& text, int x, int y, HtmlRect rect = kRect) {
  FakeHtmlSurface s;
  HtmlRenderOptions o;
  o.hitTestOnly = true;
  o.x = x;
  o.y = y;
  HtmlRenderResult r = RenderHtml(s, text, rect, o);
  EXPECT_TRUE(s.texts.empty());
  return r;
}

struct Placed {
  std::string text;
  int left, bottom;
};

std::vector<Placed> Placement(const FakeHtmlSurface& s) {
  std::vector<Placed> out;
  for (const auto& t : s.texts) out.push_back({t.text, t.rect.left, t.rect.bottom});
  return out;
}

void ExpectPlacement(const FakeHtmlSurface& s, const std::vector<Placed>& expected) {
  const auto got = Placement(s);
  ASSERT_EQ(got.size(), expected.size()) << s.Drawn();
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].text, expected[i].text) << i;
    EXPECT_EQ(got[i].left, expected[i].left) << got[i].text;
    EXPECT_EQ(got[i].bottom, expected[i].bottom) << got[i].text;
  }
}

TEST(HtmlRender, WordWrapBreaksAtBlanksButNotInsideAWordSplitByATag) {
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "aaa bbb", {0, 0, 40, 100});
    ExpectPlacement(s, {{"aaa ", 1, 13}, {"bbb", 1, 26}});
    EXPECT_EQ(r.height, 26);
    EXPECT_EQ(r.width, 18);  // the trailing blank does not count
  }
  {
    FakeHtmlSurface s;  // wider than the line on its own: stays
    const auto r = Render(s, "abcdefghij", {0, 0, 40, 100});
    EXPECT_EQ(r.height, 13);
    EXPECT_EQ(r.width, 60);
  }
  {
    FakeHtmlSurface s;  // only "aaa bb" fits, but "bbbbb" continues the word
    const auto r = Render(s, "aaa bb<B>bbbbb</B>", {0, 0, 60, 100});
    ExpectPlacement(s, {{"aaa ", 1, 13}, {"bb", 25, 13}, {"bbbbb", 37, 13}});
    EXPECT_EQ(r.width, 24 + 12 + 35);
    EXPECT_TRUE(s.texts[2].font.style & kHtmlBold);
  }
}

TEST(HtmlRender, WithoutWrapAnOverflowingLaterRunEndsTheTextWithAnEllipsis) {
  HtmlRenderOptions o;
  o.wordWrap = false;
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "aaaa <B>bbbbbbb</B><BR>next", {0, 0, 60, 100}, o);
    ExpectPlacement(s, {{"aaaa ", 1, 13}, {"bbbbbbb", 31, 13}});
    EXPECT_EQ(r.height, 13);
    for (const auto& t : s.texts) EXPECT_EQ(t.flags, kDtSingleLine | kDtBottom | kDtExpandTabs | kDtEndEllipsis);
    EXPECT_TRUE(s.lastMeasureFlags & kDtCalcRect);
    EXPECT_TRUE(s.lastMeasureFlags & kDtExternalLeading);
  }
  {
    FakeHtmlSurface s;  // the first run of a line may overflow: the text goes on
    Render(s, "bbbbbbbbbbbbbbbbbbbb<BR>next", {0, 0, 60, 100}, o);
    ExpectPlacement(s, {{"bbbbbbbbbbbbbbbbbbbb", 1, 13}, {"next", 1, 26}});
  }
  {
    FakeHtmlSurface s;  // with wrap no ellipsis flag
    Render(s, "a");
    EXPECT_EQ(s.texts.at(0).flags, kDtSingleLine | kDtBottom | kDtExpandTabs);
  }
}

TEST(HtmlRender, ParagraphAlignmentStaysForLaterLines) {
  FakeHtmlSurface s;
  Render(s, "<P ALIGN=\"RIGHT\">ab<BR>cd<BR><P ALIGN=\"CENTER\">ef<BR><P ALIGN=\"LEFT\" INDENT=\"5\">gh");
  ExpectPlacement(s, {{"ab", 188, 13}, {"cd", 188, 26}, {"ef", 1 + (199 - 12) / 2, 39}, {"gh", 6, 52}});
}

TEST(HtmlRender, SubscriptAndSuperscriptAddAQuarterOfTheirHeight) {
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "a<SUB>b</SUB><BR>c");
    ExpectPlacement(s, {{"a", 1, 13}, {"b", 7, 16}, {"c", 1, 29}});
    EXPECT_EQ(r.height, 29);
  }
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "a<SUP>b</SUP>");
    ExpectPlacement(s, {{"a", 1, 16}, {"b", 7, 13}});
    EXPECT_EQ(r.height, 16);
  }
}

TEST(HtmlRender, EmptyTextAndLinesBelowTheRectangle) {
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "");
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(r.height, 13);
  }
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "a<BR>b<BR>c<BR>d", {0, 0, 200, 30});
    EXPECT_EQ(s.Drawn(), "ab");
    EXPECT_EQ(r.height, 26);
  }
}

TEST(HtmlRender, AnchorsAreNumberedAndHitOnTheirText) {
  const std::string text = "x <A HREF=\"one\">first</A> y <A HREF=\"two\">second</A>";
  const auto first = HitTest(text, 20, 5);
  EXPECT_TRUE(first.hit);
  EXPECT_EQ(first.anchor, "one");
  EXPECT_EQ(first.anchorNumber, 1);
  EXPECT_EQ(first.anchorRect, (HtmlRect{13, 0, 43, 13}));
  const auto second = HitTest(text, 71, 5);
  EXPECT_TRUE(second.hit);
  EXPECT_EQ(second.anchor, "two");
  EXPECT_EQ(second.anchorNumber, 2);
  const auto outside = HitTest(text, 5, 5);
  EXPECT_FALSE(outside.hit);
  EXPECT_EQ(outside.anchorNumber, -1);
  EXPECT_EQ(outside.anchor, "");
  EXPECT_EQ(outside.anchorRect, (HtmlRect{-1, -1, -1, -1}));
  EXPECT_FALSE(HitTest(text, 20, 20).hit);  // below the line
}

TEST(HtmlRender, AnAnchorAcrossTwoLinesGivesItsRectangleOnTheLastLine) {
  const auto r = HitTest("aa <A HREF=\"t\">bbb ccc ddd</A>", 21, 5, {0, 0, 60, 100});
  EXPECT_TRUE(r.hit);
  EXPECT_EQ(r.anchor, "t");
  EXPECT_EQ(r.anchorNumber, 1);
  EXPECT_EQ(r.anchorRect, (HtmlRect{1, 13, 43, 26}));
}

FakeHtmlSurface WithPictures() {
  FakeHtmlSurface s;
  static int logo, tall, tiny, empty;
  s.named["LOGO"] = HtmlPicture{&logo, false, 20, 10, 0, 0};
  s.named["TALL"] = HtmlPicture{&tall, false, 4, 30, 0, 0};
  s.named["TINY"] = HtmlPicture{&tiny, false, 4, 4, 1, 2};
  s.named["EMPTY"] = HtmlPicture{&empty, true, 0, 0, 0, 0};
  return s;
}

TEST(HtmlRender, PicturesTakeTheirRoomAndAreHitInsideAnchors) {
  {
    FakeHtmlSurface s = WithPictures();
    Render(s, "<IMG SRC=\"logo\">ab<IMG SRC=\"none\">cd<IMG SRC=\"empty\">e");
    ASSERT_EQ(s.pictures.size(), 1u);
    EXPECT_EQ(s.pictures[0].dest, (HtmlRect{1, 0, 21, 10}));
    EXPECT_FALSE(s.pictures[0].stretch);
    ExpectPlacement(s, {{"ab", 21, 13}, {"cd", 33, 13}, {"e", 45, 13}});
  }
  {
    FakeHtmlSurface s = WithPictures();  // a sized picture is stretched and may raise the line
    const auto r = Render(s, "<IMG SRC=\"LOGO\" WIDTH=\"30\" HEIGHT=\"20\">a");
    EXPECT_EQ(s.pictures.at(0).dest, (HtmlRect{1, 0, 31, 20}));
    EXPECT_TRUE(s.pictures[0].stretch);
    EXPECT_EQ(r.height, 20);
    EXPECT_EQ(r.width, 36);
  }
  {
    FakeHtmlSurface s = WithPictures();  // the frame offset moves an unsized picture
    s.dpi = 192;
    Render(s, "<IMG SRC=\"tiny\">");
    EXPECT_EQ(s.pictures.at(0).dest, (HtmlRect{2, 2, 10, 10}));
  }
  {
    FakeHtmlSurface s = WithPictures();  // no room beside the text: the next line
    Render(s, "aaaaaa<IMG SRC=\"LOGO\">b", {0, 0, 50, 100});
    EXPECT_EQ(s.pictures.at(0).dest, (HtmlRect{1, 13, 21, 23}));
    ExpectPlacement(s, {{"aaaaaa", 1, 13}, {"b", 21, 26}});
  }
  {
    FakeHtmlSurface s;  // locations go to the cache as written
    Render(s, "<IMG SRC=\"FILE://a.gif\"><IMG SRC=\"c:x\">");
    EXPECT_EQ(s.located, (std::vector<std::string>{"FILE://a.gif", "FILE://a.gif"}));
  }
  const std::string anchored = "<A HREF=\"pic\"><IMG SRC=\"logo\"></A>";
  FakeHtmlSurface s = WithPictures();
  HtmlRenderOptions o;
  o.hitTestOnly = true;
  o.x = 6;
  o.y = 5;
  auto r = RenderHtml(s, anchored, kRect, o);
  EXPECT_TRUE(r.hit);
  EXPECT_EQ(r.anchor, "pic");
  o.x = 25;
  r = RenderHtml(s, anchored, kRect, o);
  EXPECT_FALSE(r.hit);
}

TEST(HtmlRender, ImageListIndexMustBeInRange) {
  FakeHtmlSurface s;
  s.listCount = 3;
  Render(s, "<IMG SRC=\"IDX:$FFFFFFFF\">a<IMG SRC=\"idx:3\">b<IMG SRC=\"IDX:1\">c");
  ASSERT_EQ(s.listImages.size(), 1u);
  EXPECT_EQ(s.listImages[0].index, 1);
  EXPECT_EQ(s.listImages[0].x, 13);
  ExpectPlacement(s, {{"a", 1, 16}, {"b", 7, 16}, {"c", 29, 16}});  // the list images are 16 high
}

TEST(HtmlRender, ShellIconsComeFromTheSmallOrLargeList) {
  FakeHtmlSurface s;
  const auto r = Render(s, "<IMG SRC=\"SSYS:c:\\x.txt\"><IMG SRC=\"lsys:3\">");
  ASSERT_EQ(s.shellIcons.size(), 2u);
  EXPECT_EQ(s.shellIcons[0].source, "c:\\x.txt");
  EXPECT_FALSE(s.shellIcons[0].large);
  EXPECT_EQ(s.shellIcons[1].source, "3");
  EXPECT_TRUE(s.shellIcons[1].large);
  EXPECT_EQ(s.shellIcons[1].x, 17);
  EXPECT_EQ(r.height, 32);
}

TEST(HtmlRender, ImageAlignmentRaisesTheTextNeverLowersIt) {
  {
    FakeHtmlSurface s = WithPictures();
    Render(s, "a<IMG SRC=\"TALL\" ALIGN=\"TOP\">");
    ExpectPlacement(s, {{"a", 1, 30 - 17}});
  }
  {
    FakeHtmlSurface s = WithPictures();
    Render(s, "a<IMG SRC=\"TALL\" ALIGN=\"MIDDLE\">");
    ExpectPlacement(s, {{"a", 1, 30 - 8}});
  }
  {
    // A line in a smaller font than the base: its height is below one base
    // text height, and the middle raise would be negative.
    FakeHtmlSurface s = WithPictures();
    s.font_.size = 12;
    Render(s, "<FONT SIZE=\"1\">a<BR>b<IMG SRC=\"TINY\" ALIGN=\"MIDDLE\">");
    ExpectPlacement(s, {{"a", 1, 17}, {"b", 1, 17 + 13}});
  }
}

TEST(HtmlRender, RotationTurnsExactlyTheTextInsideItAndEndsUpright) {
  // Each text with its angle (0: upright); text before an unclosed <R>, text
  // after a line break inside one and style changes inside one.
  const struct {
    std::string text;
    std::vector<std::pair<std::string, int>> runs;
  } cases[] = {
      {"<R a=\"90\">x</R>y", {{"x", 900}, {"y", 0}}},
      {"</R>x", {{"x", 0}}},
      {"ab<R a=\"90\">cd", {{"ab", 0}, {"cd", 900}}},
      {"<R a=\"90\">ab<BR>cd</R>ef", {{"ab", 900}, {"cd", 900}, {"ef", 0}}},
      {"<R a=\"10\">a<R a=\"20\">b<BR>c", {{"a", 100}, {"b", 200}, {"c", 200}}},
      {"<R a=\"45\"><B>x</B>y</R>z", {{"x", 450}, {"y", 450}, {"z", 0}}},
  };
  for (const auto& c : cases) {
    FakeHtmlSurface s;
    const HtmlFont base = s.font_;
    Render(s, c.text);
    std::vector<std::pair<std::string, int>> runs;
    for (const auto& t : s.texts) runs.emplace_back(t.text, t.font.angle);
    EXPECT_EQ(runs, c.runs) << c.text;
    EXPECT_EQ(s.font_, base) << c.text;
  }
  {
    FakeHtmlSurface s;  // a style change inside a rotation keeps both
    Render(s, "<R a=\"45\"><B>x</B>y");
    EXPECT_TRUE(s.Find("x")->font.style & kHtmlBold);
    EXPECT_FALSE(s.Find("y")->font.style & kHtmlBold);
  }
  FakeHtmlSurface huge;  // whole turns are dropped, so any angle fits in tenths
  Render(huge, "<R a=\"$7FFFFFFF\">x");
  EXPECT_EQ(huge.lastAngle, 0x7FFFFFFF % 360 * 10);
}

TEST(HtmlRender, ListsRulesAndIndents) {
  {
    FakeHtmlSurface s;
    const auto r = Render(s, "<UL><LI>a<LI>b<UL><LI>c</UL></UL>");
    ExpectPlacement(s, {{"\xB7", 1, 26}, {"a", 13, 26}, {"\xB7", 1, 39}, {"b", 13, 39}, {"o", 13, 52}, {"c", 25, 52}});
    EXPECT_EQ(s.texts[0].font.name, "Symbol");
    EXPECT_EQ(s.texts[1].font.name, "Arial");
    EXPECT_EQ(r.width, 30);
  }
  {
    FakeHtmlSurface s;  // </UL> outside a list switches underline off
    Render(s, "<U>a</UL>b");
    EXPECT_TRUE(s.Find("a")->font.style & kHtmlUnderline);
    EXPECT_FALSE(s.Find("b")->font.style & kHtmlUnderline);
  }
  {
    FakeHtmlSurface s;
    Render(s, "a<HR>b");
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_EQ(s.lines[0].x0, 1);
    EXPECT_EQ(s.lines[0].x1, 200);
    EXPECT_EQ(s.lines[0].y0, 14);
    EXPECT_EQ(s.lines[0].color, kHtmlClBlack);
    ExpectPlacement(s, {{"a", 1, 13}, {"b", 1, 26}});
  }
  {
    FakeHtmlSurface s;
    Render(s, "a<IND x=\"50\">b<IND x=\"5x\">c<IND x=\"2\">d");
    ExpectPlacement(s, {{"a", 1, 13}, {"b", 50, 13}, {"c", 56, 13}, {"d", 62, 13}});
  }
}

TEST(HtmlRender, TagsAndEntitiesAsTheLanguageReadsThem) {
  const struct {
    std::string text, drawn;
  } cases[] = {
      {"&lt;B&gt;x", "<B>x"},  {"ab<B", "ab"},  {"ab<", "ab"},     {"ab<BX", "ab"}, {"a<BRX>b", "ab"},
      {"a<Z>hide</Z>b", "ab"}, {"&amp;", "&&"}, {"a<FOO>b", "ab"}, {"a</>b", "ab"}, {"x<#n>", "x#n"},
  };
  for (const auto& c : cases) {
    FakeHtmlSurface s;
    Render(s, c.text);
    EXPECT_EQ(s.Drawn(), c.drawn) << c.text;
    for (const auto& t : s.texts) EXPECT_FALSE(t.font.style & kHtmlBold) << c.text;
  }
  FakeHtmlSurface s;
  const auto r = Render(s, "a<BRX>b");
  EXPECT_EQ(r.height, 26);
  FakeHtmlSurface amp;
  EXPECT_EQ(Render(amp, "&amp;").width, 6);  // "&&" shows one ampersand
}

TEST(HtmlRender, FontTagsSetAndRestoreFromTheBaseFont) {
  {
    FakeHtmlSurface s;
    Render(s, "<FONT COLOR=\"red\">a<FONT COLOR=\"blue\">b</FONT>c</FONT>");
    EXPECT_EQ(s.Find("a")->font.color, 0x0000FF);
    EXPECT_EQ(s.Find("b")->font.color, 0xFF0000);
    EXPECT_EQ(s.Find("c")->font.color, 0);
  }
  {
    FakeHtmlSurface s;
    Render(s, "<FONT FACE=Arial COLOR=red SIZE=3>x</FONT>y<FOOO COLOR=\"#00FF00\">z");
    EXPECT_EQ(s.Find("x")->font.name, "");
    EXPECT_EQ(s.Find("x")->font.color, 0);
    EXPECT_EQ(s.Find("x")->font.size, 12);
    EXPECT_EQ(s.Find("y")->font.name, "Arial");
    EXPECT_EQ(s.Find("y")->font.size, 8);
    EXPECT_EQ(s.Find("z")->font.color, 0x00FF00);
  }
  {
    FakeHtmlSurface s;  // sizes stay within what a font can be made with
    Render(s, "<FONT SIZE=\"99999\">a</FONT><FONT SIZE=\"-4\">b");
    EXPECT_EQ(s.Find("a")->font.size, 1000);
    EXPECT_EQ(s.Find("b")->font.size, 14);  // the quote ends the number, and its minus is lost
  }
  {
    FakeHtmlSurface s;
    Render(s, "<FONT FACE=\"Courier\" BGCOLOR=\"clYellow\">a</FONT>b<HI>c</HI>d<BLINK>e");
    EXPECT_EQ(s.Find("a")->font.name, "COURIER");
    EXPECT_EQ(s.Find("a")->brush, 0x00FFFF);
    EXPECT_EQ(s.Find("b")->brush, kHtmlClNone);
    EXPECT_EQ(s.Find("c")->brush, kHtmlClHighlight);
    EXPECT_EQ(s.Find("c")->font.color, kHtmlClHighlightText);
    EXPECT_EQ(s.Find("d")->brush, kHtmlClNone);
    EXPECT_EQ(s.Find("d")->font.color, 0);
    EXPECT_EQ(s.Find("e")->font.color, 0xFFFFFF);  // the initial brush colour
  }
  FakeHtmlSurface s;  // the canvas comes back as it was
  s.brush_ = 0x123456;
  const HtmlFont base = s.font_;
  Render(s, "<B><I><FONT SIZE=\"5\" COLOR=\"red\">x<A HREF=\"a\">y");
  EXPECT_EQ(s.font_, base);
  EXPECT_EQ(s.brush_, 0x123456);
  EXPECT_TRUE(s.transparent);
}

TEST(HtmlRender, ErrorUnderlineShadowAndHover) {
  {
    FakeHtmlSurface s;
    Render(s, "<E>ab</E>c");
    ASSERT_EQ(s.lines.size(), 7u);  // x from 0 to 14 in steps of 2
    EXPECT_EQ(s.lines[0].x0, 0);
    EXPECT_EQ(s.lines[0].y0, 14);
    EXPECT_EQ(s.lines[0].y1, 12);
    EXPECT_EQ(s.lines[1].y1, 14);
    EXPECT_EQ(s.lines.back().x1, 14);
    for (const auto& l : s.lines) EXPECT_EQ(l.color, kHtmlClRed);
  }
  {
    FakeHtmlSurface s;
    Render(s, "<SHAD>a</SHAD>b");
    ASSERT_EQ(s.texts.size(), 3u);
    EXPECT_EQ(s.texts[0].rect.left, 3);
    EXPECT_EQ(s.texts[0].rect.bottom, 15);
    EXPECT_EQ(s.texts[0].font.color, 0x808080);
    EXPECT_EQ(s.texts[1].rect.left, 1);
    EXPECT_EQ(s.texts[1].font.color, 0);
  }
  {
    FakeHtmlSurface s;
    HtmlRenderOptions o;
    o.hover = true;
    o.hoveredAnchor = 2;
    o.hoverColor = 0x00FF00;
    o.hoverFontColor = 0x0000FF;
    Render(s, "<A HREF=\"1\">a</A><A HREF=\"2\">b</A>c", kRect, o);
    EXPECT_EQ(s.Find("a")->font.color, o.urlColor);
    EXPECT_FALSE(s.Find("a")->font.style & kHtmlUnderline);
    EXPECT_EQ(s.Find("b")->font.color, 0x0000FF);
    EXPECT_TRUE(s.Find("b")->font.style & kHtmlUnderline);
    EXPECT_EQ(s.Find("b")->brush, 0x00FF00);
    EXPECT_EQ(s.Find("c")->brush, kHtmlClNone);
    EXPECT_FALSE(s.Find("c")->font.style & kHtmlUnderline);
  }
  FakeHtmlSurface s;
  Render(s, "<A HREF=\"x\">a</A>");
  EXPECT_EQ(s.Find("a")->font.color, 0xFF0000);
  EXPECT_TRUE(s.Find("a")->font.style & kHtmlUnderline);
}

TEST(HtmlRender, BackgroundsOfBodyAndParagraph) {
  {
    FakeHtmlSurface s;
    Render(s, "<BODY BGCOLOR=\"#FF0000\" BGCOLORTO=\"#0000FF\">x");
    ASSERT_EQ(s.fills.size(), 64u);
    EXPECT_EQ(s.fills[0].color, 0x0000FF);
    EXPECT_EQ(s.fills[0].rect, (HtmlRect{0, 0, 4, 100}));
    EXPECT_EQ(s.fills[63].rect.right, 200);
    EXPECT_EQ(s.fills[63].color, 0xFB0004);
    EXPECT_EQ(s.Find("x")->brush, kHtmlClNone);
  }
  {
    FakeHtmlSurface s;
    Render(s, "<BODY BGCOLOR=\"#FF0000\" BGCOLORTO=\"#0000FF\" DIR=\"V\">x");
    EXPECT_EQ(s.fills.at(0).rect, (HtmlRect{0, 0, 200, 2}));
  }
  {
    FakeHtmlSurface s;
    Render(s, "<BODY BGCOLOR=\"clLime\">x");
    ASSERT_EQ(s.fills.size(), 1u);
    EXPECT_EQ(s.fills[0].rect, (HtmlRect{-2, 0, 200, 100}));
    EXPECT_EQ(s.Find("x")->brush, 0x00FF00);
  }
  {
    FakeHtmlSurface s;
    static int tile;
    s.named["T"] = HtmlPicture{&tile, false, 80, 60, 0, 0};
    Render(s, "<BODY BACKGROUND=\"t\">");
    ASSERT_EQ(s.pictures.size(), 6u);
    EXPECT_EQ(s.pictures[5].dest, (HtmlRect{160, 60, 240, 120}));
  }
  {
    // A rectangle grown far past what can be seen (as auto-sizing grows it):
    // only the visible cells are drawn.
    FakeHtmlSurface s;
    static int dot;
    s.named["DOT"] = HtmlPicture{&dot, false, 1, 1, 0, 0};
    s.clip = HtmlRect{10, 20, 30, 25};
    Render(s, "<BODY BACKGROUND=\"dot\">", {0, 0, 65735, 65635});
    ASSERT_EQ(s.pictures.size(), 100u);
    EXPECT_EQ(s.pictures[0].dest, (HtmlRect{10, 20, 11, 21}));
  }
  FakeHtmlSurface s;
  Render(s, "<P BGCOLOR=\"#00FF00\">a<BR>b</P>c");
  ASSERT_EQ(s.fills.size(), 2u);
  EXPECT_EQ(s.fills[0].rect, (HtmlRect{0, 0, 200, 13}));
  EXPECT_EQ(s.fills[1].rect, (HtmlRect{0, 13, 200, 26}));
  EXPECT_EQ(s.Find("a")->brush, 0x00FF00);
  EXPECT_EQ(s.Find("c")->brush, kHtmlClNone);
}

}  // namespace
