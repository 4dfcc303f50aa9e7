#include "VirtualTreeRenderings.h"

#include <algorithm>
#include <cstdio>

#include "VirtualTreeCore.h"

namespace {

int MaxLevel(TVTCellSource& source) {
  int level = 0;
  for (std::size_t row = 0; row < source.RowCount(); ++row) level = std::max(level, source.RowLevel(row));
  return level;
}

std::u16string Repeat(const std::u16string& text, int count) {
  std::u16string result;
  for (int i = 0; i < count; ++i) result += text;
  return result;
}

std::u16string Field(const std::u16string& text, const std::u16string& separator, bool quote) {
  if (!quote) return text;
  const bool needsQuotes = (!separator.empty() && text.find(separator) != std::u16string::npos) ||
                           text.find_first_of(u"\"\r\n") != std::u16string::npos;
  if (!needsQuotes) return text;
  std::u16string result = u"\"";
  for (char16_t c : text) {
    if (c == u'"') result += u'"';
    result += c;
  }
  result += u'"';
  return result;
}

std::string Int(long long value) {
  return std::to_string(value);
}

// "#RRGGBB" of a 0x00BBGGRR colour.
std::string HtmlColor(std::uint32_t color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%.2X%.2X%.2X", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  return text;
}

std::string HtmlEscape(const std::u16string& text) {
  std::string utf8 = VTWideToUtf8(text), result;
  result.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '&':
        result += "&amp;";
        break;
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '"':
        result += "&quot;";
        break;
      default:
        result += c;
    }
  }
  return result;
}

std::string FontStyles(const TVTRenderFont& font) {
  std::string result;
  if (font.Underline) result += " underline";
  if (font.Italic) result += " italic";
  if (font.Bold) result += " bold";
  return result + " " + Int(font.Size) + "pt " + VTWideToUtf8(font.Name) + ";";
}

// The alignment after mirroring for right-to-left.
int EffectiveAlignment(int alignment, bool rightToLeft) {
  if (rightToLeft) {
    if (alignment == kAlignLeft) return kAlignRight;
    if (alignment == kAlignRight) return kAlignLeft;
  }
  return alignment;
}

std::string HtmlDirectionAndAlignment(int alignment, bool rightToLeft) {
  std::string result = rightToLeft ? " dir=\"rtl\"" : "";
  switch (EffectiveAlignment(alignment, rightToLeft)) {
    case kAlignRight:
      return result + " align=right";
    case kAlignCenter:
      return result + " align=center";
    default:
      return result + " align=left";
  }
}

const char* RtfAlignment(int alignment, bool rightToLeft) {
  switch (EffectiveAlignment(alignment, rightToLeft)) {
    case kAlignRight:
      return "\\qr";
    case kAlignCenter:
      return "\\qc";
    default:
      return "";
  }
}

// The font and colour tables and the current text attributes of an RTF body.
class RtfWriter {
 public:
  explicit RtfWriter(const TVTAnsiConversion& toAnsi) : toAnsi_(toAnsi) {}

  void TextRun(const std::u16string& text, const TVTRenderFont& font) {
    if (text.empty()) return;
    if (font.Underline) body += "\\ul";
    if (font.Italic) body += "\\i";
    if (font.Bold) body += "\\b";
    auto face = std::find(fonts_.begin(), fonts_.end(), font.Name);
    const int faceIndex = static_cast<int>(face - fonts_.begin());
    if (face == fonts_.end()) fonts_.push_back(font.Name);
    if (face == fonts_.end() || faceIndex != currentFont_) {
      body += "\\f" + Int(faceIndex);
      currentFont_ = faceIndex;
    }
    auto color = std::find(colors_.begin(), colors_.end(), font.Color);
    const int colorIndex = static_cast<int>(color - colors_.begin());
    if (color == colors_.end()) colors_.push_back(font.Color);
    if (color == colors_.end() || colorIndex != currentColor_) {
      body += "\\cf" + Int(colorIndex + 1);
      currentColor_ = colorIndex;
    }
    if (font.Size != currentSize_) {
      body += "\\fs" + Int(2LL * font.Size);
      currentSize_ = font.Size;
    }
    body += " ";
    for (char16_t unit : text) body += "\\u" + Int(static_cast<std::int16_t>(unit)) + "\\'3f";
    if (font.Underline) body += "\\ul0";
    if (font.Italic) body += "\\i0";
    if (font.Bold) body += "\\b0";
  }

  std::string Document() const {
    std::string result = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1043{\\fonttbl";
    for (std::size_t i = 0; i < fonts_.size(); ++i)
      result += "{\\f" + Int(static_cast<long long>(i)) + " " + FaceName(fonts_[i]) + ";}";
    result += "}{\\colortbl;";
    for (std::uint32_t color : colors_)
      result += "\\red" + Int(color & 0xFF) + "\\green" + Int((color >> 8) & 0xFF) + "\\blue" +
                Int((color >> 16) & 0xFF) + ";";
    return result + "}" + body + "}";
  }

  std::string body;

 private:
  // A face name cannot close the table entry early: braces, backslashes and
  // semicolons are left out.
  std::string FaceName(const std::u16string& name) const {
    std::string result;
    for (char c : toAnsi_(name))
      if (c != '{' && c != '}' && c != '\\' && c != ';') result += c;
    return result;
  }

  const TVTAnsiConversion& toAnsi_;
  std::vector<std::u16string> fonts_;
  std::vector<std::uint32_t> colors_;
  int currentFont_ = -1;
  int currentColor_ = -1;
  int currentSize_ = -1;
};

// The cells a row is rendered in: the columns, or one cell of the tree's
// alignment and direction when there are none.
std::vector<TVTRenderColumn> RenderedCells(const TVTRenderLooks& looks, bool hasColumns) {
  std::vector<TVTRenderColumn> cells = looks.Columns;
  if (!hasColumns) {
    TVTRenderColumn single;
    single.Index = NoColumn;
    single.Alignment = looks.Alignment;
    single.RightToLeft = looks.RightToLeft;
    cells.push_back(single);
  }
  return cells;
}

}  // namespace

std::string VTWideToUtf8(const std::u16string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDFFF) {
      if (code > 0xDBFF || i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) continue;
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code < 0x80) {
      result += static_cast<char>(code);
    } else if (code < 0x800) {
      result += static_cast<char>(0xC0 | (code >> 6));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      result += static_cast<char>(0xE0 | (code >> 12));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      result += static_cast<char>(0xF0 | (code >> 18));
      result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return result;
}

long long PixelsToTwips(long long pixels, int pixelsPerInch) {
  const long long den = pixelsPerInch > 0 ? pixelsPerInch : 96;
  const long long num = pixels * 1440;
  long long q = num / den, r = num % den;
  if (r < 0) {  // floor division
    --q;
    r += den;
  }
  if (2 * r > den || (2 * r == den && (q & 1))) ++q;
  return q;
}

std::u16string CsvSeparator(const std::u16string& localeListSeparator) {
  return localeListSeparator.empty() ? std::u16string(u",") : localeListSeparator;
}

std::u16string WideTextOfRows(TVTCellSource& source, const std::u16string& separator, bool quote) {
  const TVTRenderLooks& looks = source.Looks();
  const int maxLevel = MaxLevel(source);
  const std::u16string indent = Repeat(separator, maxLevel);
  std::u16string result;
  const std::size_t columns = looks.Columns.size();
  if (columns > 0) {
    for (std::size_t i = 0; i < columns; ++i) {
      const TVTRenderColumn& column = looks.Columns[i];
      result += Field(column.Caption, separator, quote);
      // The main column's caption takes its max level + 1 fields also when it is the last column.
      if (column.Index == looks.MainColumn) result += indent;
      if (i + 1 < columns) result += separator;
    }
    result += u"\r\n";
  }
  for (std::size_t row = 0; row < source.RowCount(); ++row) {
    const int level = source.RowLevel(row);
    if (columns == 0) {
      result += Repeat(separator, level) + Field(source.CellText(row, NoColumn), separator, quote);
    } else {
      for (std::size_t i = 0; i < columns; ++i) {
        const TVTRenderColumn& column = looks.Columns[i];
        const std::u16string text = Field(source.CellText(row, column.Index), separator, quote);
        if (column.Index == looks.MainColumn)
          result += Repeat(separator, level) + text + Repeat(separator, maxLevel - level);
        else
          result += text;
        if (i + 1 < columns) result += separator;
      }
    }
    result += u"\r\n";
  }
  return result;
}

std::string TextOfRows(TVTCellSource& source, const std::u16string& separator, const TVTAnsiConversion& toAnsi,
                       bool quote) {
  return toAnsi(WideTextOfRows(source, separator, quote));
}

std::string HtmlOfRows(TVTCellSource& source, const std::u16string& caption) {
  const TVTRenderLooks& looks = source.Looks();
  const int maxLevel = MaxLevel(source);
  const bool hasColumns = !looks.Columns.empty();
  const std::string padding = "padding-left:" + Int(looks.Margin) + "px;padding-right:" + Int(looks.Margin) + "px;";
  std::string attributes = " ";
  if (!caption.empty()) attributes += "caption=\"" + HtmlEscape(caption) + "\"";
  if (looks.HasBorder) attributes += "border=\"" + Int(looks.BorderWidth + 1) + "\" frame=box";

  std::string html = "<style type=\"text/css\">\r\n";
  html += ".default{font:" + FontStyles(looks.TreeFont) + "color:" + HtmlColor(looks.TreeFont.Color) + ";}\r\n";
  html += ".header{font:" + FontStyles(looks.HeaderFont) + "color:" + HtmlColor(looks.HeaderFont.Color) + ";}\r\n";
  const std::string lineStyle = looks.LineStyle == 2 ? "solid;" : "dotted;";
  if (looks.HorizontalGridLines)
    html += ".noborder{border-style:" + lineStyle + " border-bottom:1;border-left:0;border-right:0; border-top:0;";
  else
    html += ".noborder{border-style:none;";
  html += padding + "}\r\n";
  html += ".normalborder {border-top:none; border-left:none; ";
  html += looks.VerticalGridLines ? "border-right:1 " + lineStyle : std::string("border-right:none;");
  html += looks.HorizontalGridLines ? "border-bottom:1 " + lineStyle : std::string("border-bottom:none;");
  html += padding + "}</style>\r\n";
  html += "<table class=\"default\" bgcolor=" + HtmlColor(looks.TreeColor) + attributes +
          " cellspacing=\"0\" cellpadding=" + Int(looks.Margin) + ">\r\n";

  if (hasColumns) {
    html += "<tr class=\"header\" style=\"" + padding + "\">\r\n";
    for (const TVTRenderColumn& column : looks.Columns) {
      html += "<th height=\"" + Int(looks.HeaderHeight) + "px\"" +
              HtmlDirectionAndAlignment(column.Alignment, column.RightToLeft);
      if (maxLevel > 0 && column.Index == looks.MainColumn) html += " colspan=\"" + Int(maxLevel + 1) + "\"";
      html += " bgcolor=" + HtmlColor(looks.ButtonFaceColor) + " width=\"" + Int(column.Width) + "px\">" +
              HtmlEscape(column.Caption) + "</th>";
    }
    html += "\r\n</tr>\r\n";
  }

  const std::vector<TVTRenderColumn> cells = RenderedCells(looks, hasColumns);
  for (std::size_t row = 0; row < source.RowCount(); ++row) {
    const int level = source.RowLevel(row);
    const std::string height = Int(source.RowHeight(row));
    html += " <tr class=\"default\">\r\n";
    for (const TVTRenderColumn& column : cells) {
      TVTRenderFont font = looks.TreeFont;
      source.PaintTextFont(row, column.Index, font);
      const bool isMain = !hasColumns || column.Index == looks.MainColumn;
      if (isMain) {
        for (int i = 0; i < level; ++i) {
          if (!hasColumns || column.ParentColor)
            html += i == 0 ? " <td height=\"" + height + "px\">&nbsp;</td>" : std::string(" <td>&nbsp;</td>");
          else
            html += "<td class=\"noborder\" width=\"" + Int(looks.Indent) + "\" height=\"" + height +
                    "px\" bgcolor=" + HtmlColor(column.Color) + ">&nbsp;</td>";
        }
      }
      if (!(font == looks.TreeFont))
        html += " <td class=\"normalborder\"  style=\"{font:" + FontStyles(font) + "color:" + HtmlColor(font.Color) +
                ";}\" height=\"" + height;
      else
        html += " <td class=\"normalborder\"  height=\"" + height;
      html += "px\"" + HtmlDirectionAndAlignment(column.Alignment, column.RightToLeft);
      if (hasColumns && isMain && level < maxLevel) html += " colspan=\"" + Int(maxLevel - level + 1) + "\"";
      if (hasColumns && !column.ParentColor) html += " bgcolor=" + HtmlColor(column.Color);
      html += '>';
      html += HtmlEscape(source.CellText(row, column.Index));
      html += "</td>";
    }
    html += "\r\n </tr>\r\n";
  }
  html += "</table>";
  return html;
}

std::string HtmlClipboardEnvelope(const std::string& fragment) {
  static const char* const kHead =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">"
      "<html><head><META http-equiv=Content-Type content=\"text/html; charset=utf-8\"></head><body>"
      "<!--StartFragment-->";
  static const char* const kTail = "<!--EndFragment--></body></html>";
  const long long startFragment = 269;
  const long long endFragment = startFragment + static_cast<long long>(fragment.size());
  char header[160];
  std::snprintf(header, sizeof header,
                "Version:1.0\r\nStartHTML:%.8lld\r\nEndHTML:%.8lld\r\nStartFragment:%.8lld\r\nEndFragment:%.8lld\r\n",
                97LL, endFragment + 32, startFragment, endFragment);
  return header + std::string(kHead) + fragment + kTail;
}

std::string RichTextOfRows(TVTCellSource& source, const TVTAnsiConversion& toAnsi) {
  const TVTRenderLooks& looks = source.Looks();
  const bool hasColumns = !looks.Columns.empty();
  RtfWriter rtf(toAnsi);
  rtf.body = "\\uc1\\trowd\\trgaph70";
  if (hasColumns) {
    long long sum = 0;
    for (const TVTRenderColumn& column : looks.Columns) {
      sum += column.Width;
      rtf.body += "\\cellx" + Int(PixelsToTwips(sum, looks.PixelsPerInch));
    }
    rtf.body += "\\pard\\intbl";
    for (const TVTRenderColumn& column : looks.Columns) {
      rtf.body += RtfAlignment(column.Alignment, column.RightToLeft);
      rtf.TextRun(column.Caption, looks.HeaderFont);
      rtf.body += "\\cell";
    }
    rtf.body += "\\row";
  } else {
    rtf.body += "\\cellx" + Int(PixelsToTwips(looks.ClientWidth, looks.PixelsPerInch));
  }
  const std::vector<TVTRenderColumn> cells = RenderedCells(looks, hasColumns);
  for (std::size_t row = 0; row < source.RowCount(); ++row) {
    const int level = source.RowLevel(row);
    for (const TVTRenderColumn& column : cells) {
      rtf.body += "\\pard\\intbl";
      rtf.body += RtfAlignment(column.Alignment, column.RightToLeft);
      TVTRenderFont font = looks.TreeFont;
      source.PaintTextFont(row, column.Index, font);
      const bool isMain = !hasColumns || column.Index == looks.MainColumn;
      if (isMain && level >= 1) {
        for (int i = 0; i < level; ++i) rtf.body += "\\tab";
        rtf.body += " ";
      }
      rtf.TextRun(source.CellText(row, column.Index), font);
      rtf.body += "\\cell";
    }
    rtf.body += "\\row";
  }
  rtf.body += "\\pard\\par";
  return rtf.Document();
}
