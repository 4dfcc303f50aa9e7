// The text, CSV, HTML and RTF renderings of a tree's rows. The CSV, HTML and
// RTF are read back by independent parsers (Python scripts in scripts/).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "VirtualTreeCore.h"
#include "VirtualTreeRenderings.h"

namespace {

struct Row {
  int level;
  std::vector<std::u16string> cells;  // by column index
};

class FixedSource : public TVTCellSource {
 public:
  TVTRenderLooks looks;
  std::vector<Row> rows;
  bool boldSecondColumn = false;
  const TVTRenderLooks& Looks() const override { return looks; }
  std::size_t RowCount() const override { return rows.size(); }
  int RowLevel(std::size_t row) const override { return rows[row].level; }
  int RowHeight(std::size_t) const override { return 18; }
  std::u16string CellText(std::size_t row, int column) override {
    return rows[row].cells[column < 0 ? 0 : static_cast<std::size_t>(column)];
  }
  void PaintTextFont(std::size_t, int column, TVTRenderFont& font) override {
    if (boldSecondColumn && column == 1) font.Bold = true;
  }
};

// Three levels, three columns shown in the order 0, 2, 1; texts with the
// separator, quotes, CR LF, markup characters, é and U+1F600.
FixedSource ThreeLevelTree() {
  FixedSource s;
  s.looks.MainColumn = 0;
  s.looks.Columns = {{0, u"Name", 100, kAlignLeft, false, false, 0xFFFFFF},
                     {2, u"Note <&>", 60, kAlignCenter, false, true, 0xFFFFFF},
                     {1, u"Va;lue \"q\"", 75, kAlignRight, true, false, 0xEEEEEE}};
  s.rows = {{0, {u"Root; one", u"say \"hi\"", u"a<&>b"}},
            {1, {u"line\r\nbreak", u"caf\u00e9", u"\U0001F600 smile"}},
            {2, {u"deep", u"", u"x"}},
            {0, {u"last", u"\u8000\uffff", u"y"}}};
  return s;
}

std::string Utf8Conversion(const std::u16string& text) {
  return VTWideToUtf8(text);
}

#ifndef _WIN32
std::string Utf8(const std::u16string& text) {
  return VTWideToUtf8(text);
}

std::string Json(const std::u16string& text) {
  std::string result = "\"";
  for (unsigned char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      result += '\\';
      result += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      result += escape;
    } else {
      result += static_cast<char>(c);
    }
  }
  return result + "\"";
}

std::string Json(const std::vector<std::u16string>& list) {
  std::string result = "[";
  for (std::size_t i = 0; i < list.size(); ++i) result += (i ? "," : "") + Json(list[i]);
  return result + "]";
}

std::string Json(const std::vector<std::vector<std::u16string>>& rows) {
  std::string result = "[";
  for (std::size_t i = 0; i < rows.size(); ++i) result += (i ? "," : "") + Json(rows[i]);
  return result + "]";
}

std::string Scratch(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/vt-renderings-" + std::to_string(::getpid()) + "-" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Runs a checking script over a rendering; true when it accepts it.
bool ScriptAccepts(const char* script, const std::string& rendering, const std::string& expectedJson,
                   const std::string& extra) {
  const std::string renderingPath = Scratch(std::string(script) + ".out");
  const std::string expectedPath = Scratch(std::string(script) + ".json");
  WriteFile(renderingPath, rendering);
  WriteFile(expectedPath, expectedJson);
  const std::string command = std::string("python3 '") + PELLORY_TREEVIEW_SCRIPTS + "/" + script + "' '" +
                              renderingPath + "' '" + expectedPath + "' '" + extra + "'";
  const int status = std::system(command.c_str());
  std::remove(renderingPath.c_str());
  std::remove(expectedPath.c_str());
  return status == 0;
}

// The cells as a reader expects them: the main column spread over
// max level + 1 fields.
std::vector<std::vector<std::u16string>> ExpectedFields(const FixedSource& s, int maxLevel) {
  std::vector<std::vector<std::u16string>> rows;
  std::vector<std::u16string> header;
  for (const auto& column : s.looks.Columns) {
    header.push_back(column.Caption);
    if (column.Index == s.looks.MainColumn)
      for (int i = 0; i < maxLevel; ++i) header.push_back(u"");
  }
  rows.push_back(header);
  for (const Row& row : s.rows) {
    std::vector<std::u16string> fields;
    for (const auto& column : s.looks.Columns) {
      if (column.Index == s.looks.MainColumn) {
        for (int i = 0; i < row.level; ++i) fields.push_back(u"");
        fields.push_back(row.cells[static_cast<std::size_t>(column.Index)]);
        for (int i = row.level; i < maxLevel; ++i) fields.push_back(u"");
      } else {
        fields.push_back(row.cells[static_cast<std::size_t>(column.Index)]);
      }
    }
    rows.push_back(fields);
  }
  return rows;
}

TEST(Renderings, CsvReadsBackIntoTheCells) {
  for (const char16_t* separator : {u";", u","}) {
    FixedSource s = ThreeLevelTree();
    const std::string csv = TextOfRows(s, separator, Utf8Conversion, true);
    EXPECT_TRUE(ScriptAccepts("check-csv", csv, Json(ExpectedFields(s, 2)), Utf8(separator))) << csv;
  }
}

TEST(Renderings, HtmlEnvelopeCutsTheFragmentAndTheParserFindsTheCells) {
  FixedSource s = ThreeLevelTree();
  s.boldSecondColumn = true;
  s.looks.HasBorder = true;
  s.looks.BorderWidth = 1;
  const std::string html = HtmlClipboardEnvelope(HtmlOfRows(s, u"A \"caption\" <b>"));
  std::vector<std::u16string> cells;
  for (const auto& column : s.looks.Columns) cells.push_back(column.Caption);
  for (const Row& row : s.rows)
    for (const auto& column : s.looks.Columns) cells.push_back(row.cells[static_cast<std::size_t>(column.Index)]);
  // The parser sees CR LF inside a cell as it is.
  EXPECT_TRUE(ScriptAccepts("check-html", html, Json(cells), "")) << html;
}

TEST(Renderings, RtfParsesIntoOneCellPerColumnAndDecodesTheTexts) {
  FixedSource s = ThreeLevelTree();
  std::vector<std::vector<std::u16string>> rows;
  std::vector<std::u16string> header;
  for (const auto& column : s.looks.Columns) header.push_back(column.Caption);
  rows.push_back(header);
  for (const Row& row : s.rows) {
    std::vector<std::u16string> cells;
    for (const auto& column : s.looks.Columns) cells.push_back(row.cells[static_cast<std::size_t>(column.Index)]);
    rows.push_back(cells);
  }
  const std::string rtf = RichTextOfRows(s, Utf8Conversion);
  EXPECT_TRUE(ScriptAccepts("check-rtf", rtf, Json(rows), "3")) << rtf;
  EXPECT_NE(rtf.find("\\u-32768\\'3f\\u-1\\'3f"), std::string::npos);
}

TEST(Renderings, TreeWithoutColumnsGivesOneCellPerNodeToEveryParser) {
  FixedSource s = ThreeLevelTree();
  s.looks.Columns.clear();
  std::vector<std::vector<std::u16string>> csvRows, rtfRows;
  std::vector<std::u16string> htmlCells;
  for (const Row& row : s.rows) {
    std::vector<std::u16string> fields(static_cast<std::size_t>(row.level), u"");
    fields.push_back(row.cells[0]);
    csvRows.push_back(fields);
    rtfRows.push_back({row.cells[0]});
    htmlCells.push_back(row.cells[0]);
  }
  EXPECT_TRUE(ScriptAccepts("check-csv", TextOfRows(s, u",", Utf8Conversion, true), Json(csvRows), ","));
  EXPECT_TRUE(ScriptAccepts("check-rtf", RichTextOfRows(s, Utf8Conversion), Json(rtfRows), "1"));
  EXPECT_TRUE(ScriptAccepts("check-html", HtmlClipboardEnvelope(HtmlOfRows(s)), Json(htmlCells), ""));
}
#endif

TEST(Renderings, TabTextKeepsCellsUnderTheirCaptionsAndStaysRaw) {
  FixedSource s = ThreeLevelTree();
  const std::u16string text = WideTextOfRows(s, u"\t");
  EXPECT_EQ(text,
            u"Name\t\t\tNote <&>\tVa;lue \"q\"\r\n"
            u"Root; one\t\t\ta<&>b\tsay \"hi\"\r\n"
            u"\tline\r\nbreak\t\t\U0001F600 smile\tcaf\u00e9\r\n"
            u"\t\tdeep\tx\t\r\n"
            u"last\t\t\ty\t\u8000\uffff\r\n");
  // The 8-bit text is the same layout through the injected conversion.
  EXPECT_EQ(TextOfRows(s, u"\t", [](const std::u16string& t) { return std::string(t.size(), 'a'); }),
            std::string(text.size(), 'a'));
}

TEST(Renderings, LongSeparatorIsRepeatedWholePerLevel) {
  FixedSource s;
  s.rows = {{0, {u"a"}}, {2, {u"b"}}};
  EXPECT_EQ(WideTextOfRows(s, u"; "), u"a\r\n; ; b\r\n");
  s.looks.MainColumn = 0;
  s.looks.Columns = {{0, u"N", 10, 0, false, false, 0}, {1, u"M", 10, 0, false, false, 0}};
  s.rows = {{0, {u"a", u"1"}}, {1, {u"b", u"2"}}};
  EXPECT_EQ(WideTextOfRows(s, u"::"), u"N::::M\r\na::::1\r\n::b::2\r\n");
}

TEST(Renderings, MaxLevelZeroHasNoIndentationFieldsTabsOrSpans) {
  FixedSource s = ThreeLevelTree();
  for (Row& row : s.rows) row.level = 0;
  EXPECT_EQ(WideTextOfRows(s, u",").substr(0, 30), u"Name,Note <&>,Va;lue \"q\"\r\nRoot");
  EXPECT_EQ(RichTextOfRows(s, Utf8Conversion).find("\\tab"), std::string::npos);
  const std::string html = HtmlOfRows(s);
  EXPECT_EQ(html.find("colspan"), std::string::npos);
  EXPECT_EQ(html.find("&nbsp;"), std::string::npos);
}

TEST(Renderings, DeepestNodeGetsNoTrailingFieldsNorColspan) {
  FixedSource s;
  s.looks.MainColumn = 0;
  s.looks.Columns = {{0, u"N", 10, 0, false, true, 0}};
  s.rows = {{0, {u"a"}}, {1, {u"b"}}};
  EXPECT_EQ(WideTextOfRows(s, u","), u"N,\r\na,\r\n,b\r\n");  // the caption spans the level fields
  const std::string html = HtmlOfRows(s);
  EXPECT_NE(html.find("colspan=\"2\">a</td>"), std::string::npos) << html;
  EXPECT_NE(html.find("align=left>b</td>"), std::string::npos) << html;
}

TEST(Renderings, HtmlEscapesTextsAndCaptions) {
  FixedSource s;
  s.rows = {{0, {u"<a href=\"x\">&amp;</a>"}}};
  const std::string html = HtmlOfRows(s, u"\"><script>");
  EXPECT_NE(html.find("&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt;"), std::string::npos) << html;
  EXPECT_NE(html.find("caption=\"&quot;&gt;&lt;script&gt;\""), std::string::npos) << html;
  EXPECT_EQ(html.find("<script>"), std::string::npos);
}

TEST(Renderings, HtmlEnvelopeNumbers) {
  const std::string fragment = "<table></table>";
  const std::string html = HtmlClipboardEnvelope(fragment);
  EXPECT_EQ(html.substr(0, 97),
            "Version:1.0\r\nStartHTML:00000097\r\nEndHTML:00000316\r\nStartFragment:00000269\r\n"
            "EndFragment:00000284\r\n");
  EXPECT_EQ(html.size(), 316u);
  EXPECT_EQ(html.substr(269, fragment.size()), fragment);
}

TEST(Renderings, Utf8DropsLoneSurrogates) {
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {{u"A\u00e9\u20ac", "A\xC3\xA9\xE2\x82\xAC"}, {u"\U0001F600", "\xF0\x9F\x98\x80"},
                        {std::u16string{0xD83D, u'x'}, "x"},         {std::u16string{u'x', 0xDE00}, "x"},
                        {std::u16string{0xDE00, 0xD83D}, ""},        {std::u16string{0xD83D}, ""}};
  for (const Case& c : cases) EXPECT_EQ(VTWideToUtf8(c.in), c.out);
}

TEST(Renderings, TwipsRoundHalvesToEven) {
  struct Case {
    long long pixels;
    int ppi;
    long long twips;
  };
  // 1440 / 120 = 12 exact; 1 px at 192 ppi = 7.5 -> 8; 3 px = 22.5 -> 22; 5 px at 96 = 75.
  const Case cases[] = {{1, 120, 12}, {1, 192, 8}, {3, 192, 22}, {5, 96, 75}, {1, 1000, 1}, {1, 2880, 0}};
  for (const Case& c : cases) EXPECT_EQ(PixelsToTwips(c.pixels, c.ppi), c.twips) << c.pixels << "@" << c.ppi;
}

TEST(Renderings, RtfTablesAndRunAttributes) {
  FixedSource s;
  s.looks.TreeFont.Name = u"Arial";
  s.looks.TreeFont.Size = 10;
  s.looks.TreeFont.Color = 0x0000FF;
  s.looks.ClientWidth = 150;
  s.boldSecondColumn = false;
  s.rows = {{0, {u"A"}}, {1, {u""}}};
  EXPECT_EQ(
      RichTextOfRows(s, Utf8Conversion),
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1043{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
      "\\uc1\\trowd\\trgaph70\\cellx2250\\pard\\intbl\\f0\\cf1\\fs20 \\u65\\'3f\\cell\\row"
      "\\pard\\intbl\\tab \\cell\\row\\pard\\par}");
}

TEST(Renderings, CsvSeparatorFallsBackToComma) {
  EXPECT_EQ(CsvSeparator(u""), u",");
  EXPECT_EQ(CsvSeparator(u";"), u";");
}

}  // namespace
