// The string tree's text renderings for the clipboard and drag and drop:
// plain 8-bit text, UTF-16 text, CSV, RTF and the HTML fragment inside the
// clipboard's HTML envelope. They read the tree through `TVTCellSource`
// (the rows to render, their cells and fonts, the visible columns and the
// tree's looks), so any tree that can answer those questions renders alike;
// the conversion of UTF-16 to the system's 8-bit code page is injected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A font as the renderings need it; colours are 0x00BBGGRR.
struct TVTRenderFont {
  std::u16string Name = u"Tahoma";
  int Size = 8;  // points
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  std::uint32_t Color = 0;
  friend bool operator==(const TVTRenderFont&, const TVTRenderFont&) = default;
};

// One visible column, in position order.
struct TVTRenderColumn {
  int Index = 0;
  std::u16string Caption;
  int Width = 50;
  int Alignment = 0;  // kAlignLeft, kAlignRight, kAlignCenter
  bool RightToLeft = false;
  bool ParentColor = false;  // column option bit 4: the cells use the tree's colour
  std::uint32_t Color = 0xFFFFFF;
};

// The tree's looks that the renderings write.
struct TVTRenderLooks {
  std::vector<TVTRenderColumn> Columns;  // empty: no columns
  int MainColumn = -1;                   // the index of the main column
  TVTRenderFont TreeFont;
  TVTRenderFont HeaderFont;
  std::uint32_t TreeColor = 0xFFFFFF;
  std::uint32_t ButtonFaceColor = 0xC0C0C0;
  int Margin = 4;
  bool HasBorder = false;
  int BorderWidth = 0;
  int LineStyle = 0;  // 2: solid tree lines, else dotted
  bool HorizontalGridLines = false;
  bool VerticalGridLines = false;
  int HeaderHeight = 17;
  int Indent = 18;
  int ClientWidth = 200;
  int PixelsPerInch = 96;
  int Alignment = 0;  // the tree's own (used without columns)
  bool RightToLeft = false;
};

// The rows to render and their cells. Rows come in tree order.
class TVTCellSource {
 public:
  virtual ~TVTCellSource() = default;
  virtual const TVTRenderLooks& Looks() const = 0;
  virtual std::size_t RowCount() const = 0;
  virtual int RowLevel(std::size_t row) const = 0;
  virtual int RowHeight(std::size_t row) const = 0;
  // The cell's text (column -1 without columns).
  virtual std::u16string CellText(std::size_t row, int column) = 0;
  // The paint-text event: `font` starts as the tree font and may be changed.
  virtual void PaintTextFont(std::size_t row, int column, TVTRenderFont& font) {
    (void)row;
    (void)column;
    (void)font;
  }
};

// UTF-16 to 8-bit text in the system's code page.
using TVTAnsiConversion = std::function<std::string(const std::u16string&)>;

// UTF-16 to UTF-8; a surrogate that is not part of a pair is dropped.
std::string VTWideToUtf8(const std::u16string& text);

// The tab- or separator-separated layout (lines end in CR LF): with columns a
// header line of captions, then one line per row; the main column takes
// max level + 1 fields (the level's separators before the text, the rest
// after it), so every cell stays under its caption. A separator longer than
// one character is repeated whole for each level. With `quote`, fields that
// hold the separator, a quote, CR or LF are quoted (quotes doubled), as CSV
// readers expect; without it texts are written raw.
std::u16string WideTextOfRows(TVTCellSource& source, const std::u16string& separator, bool quote = false);
// The same converted to the system's code page.
std::string TextOfRows(TVTCellSource& source, const std::u16string& separator, const TVTAnsiConversion& toAnsi,
                       bool quote = false);

// The HTML fragment (texts in UTF-8, with &, <, > and " escaped).
std::string HtmlOfRows(TVTCellSource& source, const std::u16string& caption = std::u16string());
// The clipboard's HTML envelope around a fragment: the five header numbers
// ("%.8d"), StartHTML 97, StartFragment 269, EndHTML = EndFragment + 32.
std::string HtmlClipboardEnvelope(const std::string& fragment);

// The RTF table of the rows.
std::string RichTextOfRows(TVTCellSource& source, const TVTAnsiConversion& toAnsi);

// A pixel distance in twips: pixels * 1440 / ppi, halves rounded to even.
long long PixelsToTwips(long long pixels, int pixelsPerInch);

// A list separator fit for the CSV format: the locale's, or "," when empty.
std::u16string CsvSeparator(const std::u16string& localeListSeparator);
