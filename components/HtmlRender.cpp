#include "HtmlRender.h"

#include <algorithm>

namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}

int MulDiv96(int value, int dpi) {
  return static_cast<int>((static_cast<long long>(value) * dpi + 48) / 96);
}

// The value between the two double quotes after the first `letter` (case ignored) from `from` on.
std::string ValueAfterLetter(std::string_view tag, char letter, std::size_t from) {
  for (std::size_t i = from; i < tag.size(); ++i)
    if (Upper(tag[i]) == letter) {
      const std::size_t open = tag.find('"', i + 1);
      if (open == std::string_view::npos) return {};
      const std::size_t close = tag.find('"', open + 1);
      if (close == std::string_view::npos) return {};
      return std::string(tag.substr(open + 1, close - open - 1));
    }
  return {};
}

HtmlColor ColorOrNone(std::string_view value) {
  return value.empty() ? kHtmlClNone : HtmlColorValue(value);
}

enum class Pass { Measure, Second };

// The tag state that both passes of a line start from.
struct TagState {
  bool inAnchor = false;
  std::string href;
  int anchorCount = 0, listLevel = 0, imageCount = 0;
  bool hidden = false, shadow = false, sub = false, sup = false;
  bool anchorPending = false;
};

class Renderer {
 public:
  Renderer(HtmlSurface& s, const HtmlRect& rect, const HtmlRenderOptions& o) : s_(s), rect_(rect), o_(o) {}

  HtmlRenderResult Run(std::string_view input);

 private:
  void RenderLine(Pass pass, std::string& text, std::string* consumed, HtmlRect line);
  // Handles the tag at the front of `text`; false when the pass stops before it.
  bool Tag(Pass pass, std::string& text, std::string* consumed);
  void FillBandGradient(const HtmlRect& r, HtmlColor from, HtmlColor to, bool horizontal);
  void SetFontColor(HtmlColor c) {
    HtmlFont f = s_.Font();
    f.color = c;
    s_.SetFont(f);
  }
  void SetStyle(unsigned bit, bool on) {
    HtmlFont f = s_.Font();
    f.style = on ? (f.style | bit) : (f.style & ~bit);
    s_.SetFont(f);
  }
  unsigned RunFlags(bool measure) const {
    unsigned flags = kHtmlRunFlags | (o_.wordWrap ? 0u : kDtEndEllipsis);
    return measure ? (flags | kDtCalcRect) : (flags & ~kDtExternalLeading);
  }

  HtmlSurface& s_;
  HtmlRect rect_;
  const HtmlRenderOptions& o_;
  HtmlRenderResult out_;

  HtmlFont baseFont_;
  HtmlColor initialBrush_ = kHtmlClNone;
  int gh_ = 0;
  TagState st_;
  bool error_ = false, paraBg_ = false;
  int align_ = 0, indent_ = 0;
  HtmlColor savedFontBg_ = kHtmlClNone, savedParaBg_ = kHtmlClNone, savedHiBrush_ = kHtmlClNone,
            savedHoverBrush_ = kHtmlClNone, savedHiFont_ = kHtmlClNone;
  int hitImage_ = -1;
  int lineNo_ = 0, anchorLine_ = -1, anchorLeft_ = 0, anchorTop_ = 0;

  // The line being laid out.
  int lineHeight_ = 0, subExtra_ = 0, supExtra_ = 0, raise_ = 0;
  // The pass in progress.
  HtmlRect line_, draw_;
  int width_ = 0, trailing_ = 0, items_ = 0;
  std::string lineText_;
  bool lineEnd_ = false, stop_ = false, anchorTextHit_ = false, imageHit_ = false;
};

HtmlRenderResult Renderer::Run(std::string_view input) {
  baseFont_ = s_.Font();
  initialBrush_ = s_.BrushColor();
  s_.SetBrushColor(kHtmlClNone);
  s_.SetTransparentBackground();
  gh_ = s_.TextExtent("gh").cy;

  std::string text = PrepareHtmlText(input);
  HtmlRect lineRect = rect_;
  lineRect.left += 1;
  HtmlFont measureFont = baseFont_, drawFont = baseFont_;

  while (!text.empty()) {
    s_.SetFont(measureFont);
    st_.sub = st_.sup = false;
    subExtra_ = supExtra_ = raise_ = 0;
    lineHeight_ = s_.TextExtent("gh").cy;
    const TagState start = st_;

    std::string consumed;
    const std::size_t before = text.size();
    RenderLine(Pass::Measure, text, &consumed, lineRect);
    if (text.size() == before) text.clear();  // nothing taken: never loop on the same text
    measureFont = s_.Font();
    st_ = start;

    HtmlRect draw = lineRect;
    draw.bottom = draw.top + lineHeight_ + subExtra_ + supExtra_;
    const int lineWidth = width_;
    if (align_ == 1) {
      if (draw.right - lineWidth > draw.left) draw.left = draw.right - lineWidth;
    } else if (align_ == 2) {
      const int room = draw.right - draw.left - lineWidth;
      if (room > 0) draw.left += room / 2;
    }
    draw.left += indent_;

    s_.SetFont(drawFont);
    RenderLine(Pass::Second, consumed, nullptr, draw);
    drawFont = s_.Font();

    const int bottom = line_.bottom;
    if ((anchorTextHit_ && bottom - raise_ - gh_ < o_.y && o_.y < bottom - raise_) || imageHit_) out_.hit = true;

    const int advance = lineHeight_ + subExtra_ + supExtra_;
    lineRect.top += advance;
    out_.height += advance;
    ++lineNo_;
    if (lineRect.top + gh_ > rect_.bottom) text.clear();
  }
  if (out_.height == 0) out_.height = gh_;
  s_.SetBrushColor(initialBrush_);
  s_.SetFont(baseFont_);
  return out_;
}

void Renderer::RenderLine(Pass pass, std::string& text, std::string* consumed, HtmlRect line) {
  const bool paint = pass == Pass::Second && !o_.hitTestOnly;
  const bool measuring = pass == Pass::Measure || o_.hitTestOnly;
  line.bottom -= subExtra_;
  line_ = line;
  draw_ = line;
  width_ = trailing_ = items_ = 0;
  lineText_.clear();
  lineEnd_ = stop_ = anchorTextHit_ = imageHit_ = false;
  const int lineWidth = line.right - line.left;
  if (paraBg_ && paint)
    s_.FillRect(HtmlRect{rect_.left, line.top, rect_.right, line.top + lineHeight_}, s_.BrushColor());

  while (!text.empty() && !lineEnd_ && !stop_) {
    if (text[0] != '<') {
      const std::size_t lt = text.find('<');
      std::size_t length;
      if (!o_.wordWrap) {
        length = lt == std::string::npos ? text.size() : lt;
      } else {
        const std::size_t blank = text.find(' ');
        if (lt != std::string::npos && (blank == std::string::npos || lt < blank))
          length = lt;
        else
          length = blank == std::string::npos ? text.size() : blank + 1;
      }
      const std::string run = ApplyRunEntities(std::string_view(text).substr(0, length));
      if (!run.empty()) {
        const int h = s_.TextExtent(run).cy;
        lineHeight_ = std::max(lineHeight_, h);
        if (st_.sub) subExtra_ = std::max(subExtra_, h / 4);
        if (st_.sup) supExtra_ = std::max(supExtra_, h / 4);
      }
      if (st_.hidden) {
        text.erase(0, length);
        continue;
      }
      const int runStart = width_;
      int runWidth = 0;
      if (measuring) {
        runWidth = s_.MeasureText(run, line, RunFlags(true)).cx;
        width_ += runWidth;
        const int dx = o_.x - line.left;
        if (st_.inAnchor && dx >= runStart && dx <= width_) {
          anchorTextHit_ = true;
          if (draw_.top < o_.y) {
            out_.anchor = st_.href;
            st_.anchorPending = true;
          }
        }
      }
      if (paint) {
        HtmlRect r = draw_;
        if (st_.sup) r.bottom -= supExtra_;
        if (st_.sub) r.bottom += subExtra_;
        r.bottom -= raise_;
        if (st_.shadow) {
          const HtmlColor color = s_.Font().color;
          SetFontColor(o_.shadowColor);
          s_.DrawRun(run,
                     HtmlRect{r.left + o_.shadowOffset, r.top + o_.shadowOffset, r.right + o_.shadowOffset,
                              r.bottom + o_.shadowOffset},
                     RunFlags(false));
          SetFontColor(color);
        }
        s_.DrawRun(run, r, RunFlags(false));
        runWidth = s_.MeasureText(run, r, RunFlags(true)).cx;
        width_ += runWidth;
        if (error_) {
          const int right = r.left + runWidth;
          int x = r.left & ~1;
          int y = (x % 4 == 0) ? r.bottom + 1 : r.bottom - 1;
          while (x < right) {
            const int ny = y == r.bottom + 1 ? r.bottom - 1 : r.bottom + 1;
            s_.DrawLine(x, y, x + 2, ny, kHtmlClRed);
            x += 2;
            y = ny;
          }
        }
      }
      draw_.left += runWidth;
      draw_.right = line.right;
      draw_.top = line.top;
      draw_.bottom = line.bottom;

      const bool hadText = !lineText_.empty();
      const bool fits =
          pass == Pass::Second || width_ < lineWidth || runWidth >= lineWidth || (hadText && lineText_.back() != ' ');
      lineText_ += run;
      if (fits || !o_.wordWrap) {
        if (consumed) consumed->append(text, 0, length);
        text.erase(0, length);
        if (!fits && pass == Pass::Measure && hadText) text.clear();
        trailing_ = (!run.empty() && run.back() == ' ') ? s_.MeasureText(" ", line, RunFlags(true)).cx : 0;
      } else {
        width_ -= runWidth;
        lineEnd_ = true;
        break;
      }
    }
    if (!text.empty() && text[0] == '<' && !lineEnd_ && !stop_) {
      if (!Tag(pass, text, consumed)) stop_ = true;
    }
  }
  width_ -= trailing_;
  out_.width = std::max(out_.width, width_);
}

void Renderer::FillBandGradient(const HtmlRect& r, HtmlColor from, HtmlColor to, bool horizontal) {
  const auto bands = GradientBands(s_.ColorToRGB(from), s_.ColorToRGB(to), horizontal ? r.left : r.top,
                                   horizontal ? r.right : r.bottom, 64);
  for (const auto& b : bands) {
    const HtmlRect band =
        horizontal ? HtmlRect{b.start, r.top, b.end, r.bottom} : HtmlRect{r.left, b.start, r.right, b.end};
    s_.FillRect(band, static_cast<HtmlColor>(b.color));
  }
}

bool Renderer::Tag(Pass pass, std::string& text, std::string* consumed) {
  const bool paint = pass == Pass::Second && !o_.hitTestOnly;
  const bool measuring = pass == Pass::Measure || o_.hitTestOnly;
  if (text.size() <= 2) {
    text.clear();
    return true;
  }
  const std::size_t close = text.find('>');
  const std::string_view tag =
      close == std::string::npos ? std::string_view(text) : std::string_view(text).substr(0, close + 1);
  const std::string_view inner = close == std::string::npos ? tag : tag.substr(0, close);
  auto attrs = [&](std::size_t from) { return from < inner.size() ? UpperText(inner.substr(from)) : std::string(); };
  const char c1 = Upper(text[1]), c2 = Upper(text[2]);
  const char c3 = text.size() > 3 ? Upper(text[3]) : '\0';

  if (c1 == '/') {
    if (text.size() > 3) switch (c2) {
        case 'A': {
          const bool styledClose = !o_.hover || st_.anchorCount == o_.hoveredAnchor;
          if (styledClose && paint) {
            SetStyle(kHtmlUnderline, false);
            if (o_.hoverColor != kHtmlClNone) s_.SetBrushColor(savedHoverBrush_);
          }
          SetFontColor(baseFont_.color);
          st_.inAnchor = false;
          if (st_.anchorPending) {
            const bool sameLine = anchorLine_ == lineNo_;
            out_.anchorRect = HtmlRect{sameLine ? anchorLeft_ : line_.left, sameLine ? anchorTop_ : line_.top,
                                       line_.left + width_, line_.bottom};
            out_.anchorNumber = st_.anchorCount;
            st_.anchorPending = false;
          }
          break;
        }
        case 'B':
          if (c3 == '>')
            SetStyle(kHtmlBold, false);
          else
            SetFontColor(baseFont_.color);
          break;
        case 'E':
          if (paint) error_ = false;
          break;
        case 'F': {
          HtmlFont f = s_.Font();
          f.name = baseFont_.name;
          f.size = baseFont_.size;
          if (paint) f.color = baseFont_.color;
          s_.SetFont(f);
          if (paint) s_.SetBrushColor(savedFontBg_);
          break;
        }
        case 'H':
          if (paint) {
            SetFontColor(savedHiFont_);
            s_.SetBrushColor(savedHiBrush_);
          }
          break;
        case 'I':
          SetStyle(kHtmlItalic, false);
          break;
        case 'L':
          lineEnd_ = true;
          break;
        case 'P':
          lineEnd_ = true;
          if (paint) {
            s_.SetBrushColor(savedParaBg_);
            paraBg_ = false;
          }
          break;
        case 'R':
          if (s_.Font().angle != 0) {
            HtmlFont f = s_.Font();
            f.angle = 0;
            s_.SetFont(f);
          }
          break;
        case 'S':
          if (c3 == 'U')
            st_.sub = st_.sup = false;
          else if (c3 == 'H')
            st_.shadow = false;
          else
            SetStyle(kHtmlStrikeOut, false);
          break;
        case 'U':
          if (c3 == '>')
            SetStyle(kHtmlUnderline, false);
          else if (st_.listLevel > 0)
            --st_.listLevel;
          else
            SetStyle(kHtmlUnderline, false);
          break;
        case 'Z':
          st_.hidden = false;
          break;
        default:
          break;
      }
  } else {
    switch (c1) {
      case 'A': {
        ++st_.anchorCount;
        const bool hovered = st_.anchorCount == o_.hoveredAnchor;
        if ((!o_.hover || hovered) && paint) {
          SetStyle(kHtmlUnderline, true);
          if (o_.hoverColor != kHtmlClNone) {
            savedHoverBrush_ = s_.BrushColor();
            s_.SetBrushColor(o_.hoverColor);
          }
          if (o_.hoverFontColor != kHtmlClNone) SetFontColor(o_.hoverFontColor);
        }
        if (o_.hoverFontColor == kHtmlClNone || !hovered || !o_.hover) SetFontColor(o_.urlColor);
        st_.href.clear();
        const std::size_t open = tag.find('"');
        if (open != std::string_view::npos) {
          const std::size_t end = tag.find('"', open + 1);
          if (end != std::string_view::npos) st_.href = std::string(tag.substr(open + 1, end - open - 1));
        }
        st_.inAnchor = true;
        anchorLine_ = lineNo_;
        anchorLeft_ = line_.left + width_;
        anchorTop_ = line_.top;
        break;
      }
      case 'B':
        if (c2 == '>') {
          SetStyle(kHtmlBold, true);
        } else if (c2 == 'L') {
          SetFontColor(initialBrush_);
        } else if (c2 == 'R') {
          lineEnd_ = true;
        } else if (c2 == 'O' && paint) {
          const std::string a = attrs(5);
          const std::string background = TagAttribute(a, "BACKGROUND");
          if (!background.empty()) {
            HtmlPicture pic;
            if (background.find(':') == std::string::npos)
              pic = s_.NamedPicture(background);
            else if (background.find("://") != std::string::npos)
              pic = s_.LocatedPicture(background);
            if (pic.handle && !pic.empty && pic.width > 0 && pic.height > 0) {
              // Only the cells that meet the visible part of the rectangle.
              const HtmlRect clip = s_.ClipBounds();
              const int y0 = rect_.top + std::max(0, (clip.top - rect_.top) / pic.height) * pic.height;
              const int x0 = rect_.left + std::max(0, (clip.left - rect_.left) / pic.width) * pic.width;
              const int y1 = std::min(rect_.bottom, clip.bottom), x1 = std::min(rect_.right, clip.right);
              for (int y = y0; y < y1; y += pic.height)
                for (int x = x0; x < x1; x += pic.width)
                  s_.DrawPicture(pic, HtmlRect{x, y, x + pic.width, y + pic.height}, false, rect_);
            }
          }
          if (TagHasAttribute(a, "BGCOLOR")) {
            const HtmlColor from = ColorOrNone(TagAttribute(a, "BGCOLOR"));
            if (TagHasAttribute(a, "BGCOLORTO")) {
              const std::string dir = TagAttribute(a, "DIR");
              FillBandGradient(rect_, from, ColorOrNone(TagAttribute(a, "BGCOLORTO")), dir.empty() || dir == "H");
              s_.SetBrushColor(kHtmlClNone);
            } else {
              savedFontBg_ = s_.BrushColor();
              s_.SetBrushColor(from);
              s_.FillRect(HtmlRect{rect_.left - 2, rect_.top, rect_.right, rect_.bottom}, from);
            }
          }
        }
        break;
      case 'E':
        if (paint) error_ = true;
        break;
      case 'F':
        if (close != std::string::npos) {
          const std::string a = attrs(5);
          HtmlFont f = s_.Font();
          if (TagHasAttribute(a, "FACE")) f.name = TagAttribute(a, "FACE");
          const std::string color = TagAttribute(a, " COLOR");
          if (!color.empty()) f.color = HtmlColorValue(color);
          // Sizes from the text are kept within what a font can be made with.
          if (TagHasAttribute(a, "SIZE")) f.size = std::clamp(FontSizePoints(TagSizeValue(a)), 0, 1000);
          s_.SetFont(f);
          if (TagHasAttribute(a, "BGCOLOR") && paint) {
            savedFontBg_ = s_.BrushColor();
            const std::string bg = TagAttribute(a, "BGCOLOR");
            if (!bg.empty()) s_.SetBrushColor(HtmlColorValue(bg));
          }
        }
        break;
      case 'H':
        if (c2 == 'I') {
          if (paint) {
            savedHiFont_ = s_.Font().color;
            savedHiBrush_ = s_.BrushColor();
            s_.SetBrushColor(kHtmlClHighlight);
            SetFontColor(kHtmlClHighlightText);
          }
        } else if (c2 == 'R') {
          lineEnd_ = true;
          if (paint) s_.DrawLine(line_.left, draw_.bottom + 1, line_.right, draw_.bottom + 1, kHtmlClBlack);
        }
        break;
      case 'I':
        if (c2 == '>') {
          SetStyle(kHtmlItalic, true);
        } else if (c2 == 'N') {
          int n;
          if (HtmlWholeNumber(ValueAfterLetter(tag, 'X', 2), n) && n > width_) {
            width_ = n;
            draw_.left = rect_.left + n;
          }
        } else if (c2 == 'M') {
          ++st_.imageCount;
          const std::string a = attrs(2);
          std::string src = TagAttribute(inner.size() > 2 ? inner.substr(2) : std::string_view(), "SRC");
          if (st_.imageCount == hitImage_ && TagHasAttribute(a, "ALT")) src = TagAttribute(a, "ALT");
          const int w = HtmlNumber(TagAttribute(a, "WIDTH")), h = HtmlNumber(TagAttribute(a, "HEIGHT"));
          const int x = draw_.left, top = line_.top;
          int iw = 0, ih = 0;
          enum { None, ListImage, ShellIcon } kind = None;
          int listIndex = 0;
          bool large = false;
          HtmlPicture pic;
          if (FindNoCase(src, "IDX:") != std::string::npos) {
            src.erase(0, std::min<std::size_t>(4, src.size()));
            listIndex = HtmlNumber(src);
            int count, lw, lh;
            if (s_.ImageListSize(count, lw, lh) && listIndex >= 0 && listIndex < count) {
              iw = MulDiv96(lw, s_.PixelsPerInchX());
              ih = MulDiv96(lh, s_.PixelsPerInchY());
              kind = ListImage;
            }
          }
          if (FindNoCase(src, "SSYS:") != std::string::npos || FindNoCase(src, "LSYS:") != std::string::npos) {
            large = FindNoCase(src, "LSYS:") != std::string::npos && FindNoCase(src, "SSYS:") == std::string::npos;
            src.erase(0, std::min<std::size_t>(5, src.size()));
            int sw, sh;
            if (s_.ShellIconSize(large, sw, sh)) {
              iw = MulDiv96(sw, s_.PixelsPerInchX());
              ih = MulDiv96(sh, s_.PixelsPerInchY());
              kind = ShellIcon;
            }
          }
          if (src.find(':') == std::string::npos)
            pic = s_.NamedPicture(src);
          else if (src.find("://") != std::string::npos)
            pic = s_.LocatedPicture(src);
          const bool natural = w < 1 || h < 1;
          if (pic.handle && !pic.empty) {
            iw = MulDiv96(natural ? pic.width : w, s_.PixelsPerInchX());
            ih = MulDiv96(natural ? pic.height : h, s_.PixelsPerInchY());
          }
          if (measuring && st_.inAnchor && line_.left + width_ < o_.x && o_.x < line_.left + width_ + iw &&
              draw_.top < o_.y && o_.y < draw_.top + ih) {
            imageHit_ = true;
            out_.anchor = st_.href;
            hitImage_ = st_.imageCount;
          }
          if (pass == Pass::Measure && iw < line_.right - line_.left && width_ + iw > line_.right - line_.left)
            return false;
          if (paint) {
            if (kind == ListImage) s_.DrawListImage(listIndex, x, top);
            if (kind == ShellIcon) s_.DrawShellIcon(src, large, x, top);
            if (pic.handle && !pic.empty) {
              if (natural)
                s_.DrawPicture(
                    pic,
                    HtmlRect{x + pic.frameLeft, top + pic.frameTop, x + pic.frameLeft + iw, top + pic.frameTop + ih},
                    false, rect_);
              else
                s_.DrawPicture(pic, HtmlRect{x, top, x + w, top + h}, true, rect_);
            }
          }
          width_ += iw;
          draw_.left += iw;
          lineHeight_ = std::max(lineHeight_, ih);
          if (TagHasAttribute(a, "ALIGN")) {
            // A line lower than one text height raises nothing.
            const int spare = std::max(0, lineHeight_ - gh_);
            if (a.find("\"TOP") != std::string::npos)
              raise_ = spare;
            else if (a.find("\"MIDDLE") != std::string::npos)
              raise_ = spare / 2;
          }
        }
        break;
      case 'L': {
        if (++items_ > 1) return false;
        width_ += st_.listLevel * 12;
        draw_.left += (st_.listLevel - 1) * 12;
        if (paint && !st_.hidden) {
          HtmlFont f = s_.Font();
          const std::string name = f.name;
          f.name = "Symbol";
          s_.SetFont(f);
          s_.DrawRun(st_.listLevel % 2 ? "\xB7" : "o", draw_, RunFlags(false));
          f = s_.Font();
          f.name = name;
          s_.SetFont(f);
        }
        draw_.left += 12;
        break;
      }
      case 'P':
        if (close != std::string::npos) {
          const std::string a = attrs(2);
          if (TagHasAttribute(a, "ALIGN")) {
            const std::string v = TagAttribute(a, "ALIGN");
            if (v.find("RIGHT") != std::string::npos) align_ = 1;
            if (v.find("LEFT") != std::string::npos) align_ = 0;
            if (v.find("CENTER") != std::string::npos) align_ = 2;
          }
          if (TagHasAttribute(a, "INDENT")) indent_ = HtmlNumber(TagAttribute(a, "INDENT"));
          if (TagHasAttribute(a, "BGCOLOR") && paint) {
            paraBg_ = true;
            const HtmlColor from = ColorOrNone(TagAttribute(a, "BGCOLOR"));
            const HtmlRect band{rect_.left, line_.top, rect_.right, line_.top + lineHeight_};
            if (TagHasAttribute(a, "BGCOLORTO")) {
              FillBandGradient(band, from, ColorOrNone(TagAttribute(a, "BGCOLORTO")), true);
              s_.SetBrushColor(kHtmlClNone);
            } else {
              savedParaBg_ = s_.BrushColor();
              s_.SetBrushColor(from);
              s_.FillRect(band, from);
            }
          }
        }
        break;
      case 'R': {
        // The turn is part of the font, so each pass of a line starts with the
        // rotation its text had and style changes keep it. Whole turns are
        // dropped, so that any angle fits in tenths of a degree.
        HtmlFont f = s_.Font();
        f.angle = static_cast<int>(static_cast<long long>(HtmlNumber(ValueAfterLetter(tag, 'A', 2))) % 360 * 10);
        s_.SetFont(f);
        break;
      }
      case 'S':
        if (c2 == '>')
          SetStyle(kHtmlStrikeOut, true);
        else if (c2 == 'H')
          st_.shadow = true;
        else if (UpperText(tag.substr(0, std::min<std::size_t>(5, tag.size()))) == "<SUB>")
          st_.sub = true;
        else if (UpperText(tag.substr(0, std::min<std::size_t>(5, tag.size()))) == "<SUP>")
          st_.sup = true;
        break;
      case 'U':
        if (c2 == '>') {
          SetStyle(kHtmlUnderline, true);
        } else {
          ++st_.listLevel;
          lineEnd_ = true;
        }
        break;
      case 'Z':
        st_.hidden = true;
        break;
      default:
        break;
    }
  }
  if (close == std::string::npos) {
    if (consumed) consumed->append(text);
    text.clear();
  } else {
    if (consumed) consumed->append(text, 0, close + 1);
    text.erase(0, close + 1);
  }
  return true;
}

}  // namespace

HtmlRenderResult RenderHtml(HtmlSurface& surface, std::string_view text, const HtmlRect& rect,
                            const HtmlRenderOptions& options) {
  Renderer renderer(surface, rect, options);
  return renderer.Run(text);
}
