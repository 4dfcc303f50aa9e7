// A text surface with fixed advances for the layout tests and the fuzz
// target: every character is 6 pixels wide (7 in bold), a text is its font
// size + 5 pixels high, "&" follows the prefix rules when measured and drawn.
// It records what is drawn.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "HtmlRender.h"

class FakeHtmlSurface : public HtmlSurface {
 public:
  struct Text {
    std::string text;
    HtmlRect rect;
    unsigned flags;
    HtmlFont font;
    HtmlColor brush;
    bool rotated;
  };
  struct Fill {
    HtmlRect rect;
    HtmlColor color;
  };
  struct Line {
    int x0, y0, x1, y1;
    HtmlColor color;
  };
  struct PictureDraw {
    void* handle;
    HtmlRect dest;
    bool stretch;
  };

  FakeHtmlSurface() {
    font_.name = "Arial";
    font_.size = 8;
    font_.color = 0x000000;
  }

  static int CharWidth(const HtmlFont& f) { return (f.style & kHtmlBold) ? 7 : 6; }
  static int Height(const HtmlFont& f) { return (f.size > 0 ? f.size : 8) + 5; }  // size 0: the default
  // The number of characters shown with prefix processing.
  static int Shown(std::string_view text) {
    int n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '&') {
        if (i + 1 < text.size() && text[i + 1] == '&')
          ++i;
        else
          continue;
      }
      ++n;
    }
    return n;
  }

  HtmlFont Font() override { return font_; }
  // Like the canvas surface, a font with an angle is drawn turned, and the
  // angle is part of the font the renderer reads back and sets again.
  void SetFont(const HtmlFont& font) override {
    if (font.angle != 0) lastAngle = font.angle;
    font_ = font;
  }
  HtmlColor BrushColor() override { return brush_; }
  void SetBrushColor(HtmlColor color) override { brush_ = color; }
  void SetTransparentBackground() override { transparent = true; }
  HtmlRect ClipBounds() override { return clip; }
  HtmlSize TextExtent(std::string_view text) override {
    ++measures;
    return {static_cast<int>(text.size()) * CharWidth(font_), Height(font_)};
  }
  HtmlSize MeasureText(std::string_view text, const HtmlRect&, unsigned flags) override {
    ++measures;
    lastMeasureFlags = flags;
    return {Shown(text) * CharWidth(font_), Height(font_)};
  }
  void DrawRun(std::string_view text, const HtmlRect& rect, unsigned flags) override {
    texts.push_back({std::string(text), rect, flags, font_, brush_, font_.angle != 0});
  }
  void FillRect(const HtmlRect& rect, HtmlColor color) override {
    if (color != kHtmlClNone) fills.push_back({rect, color});
  }
  void DrawLine(int x0, int y0, int x1, int y1, HtmlColor color) override { lines.push_back({x0, y0, x1, y1, color}); }
  std::uint32_t ColorToRGB(HtmlColor color) override {
    if (static_cast<std::uint32_t>(color) & 0x80000000u) return 0x808080;
    return static_cast<std::uint32_t>(color) & 0xFFFFFF;
  }
  int PixelsPerInchX() override { return dpi; }
  int PixelsPerInchY() override { return dpi; }
  HtmlPicture NamedPicture(std::string_view name) override {
    std::string key;
    for (char c : name) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto it = named.find(key);
    return it == named.end() ? HtmlPicture{} : it->second;
  }
  HtmlPicture LocatedPicture(std::string_view location) override {
    located.emplace_back(location);
    auto it = byLocation.find(std::string(location));
    return it == byLocation.end() ? HtmlPicture{} : it->second;
  }
  void DrawPicture(const HtmlPicture& picture, const HtmlRect& dest, bool stretch, const HtmlRect&) override {
    pictures.push_back({picture.handle, dest, stretch});
  }
  bool ImageListSize(int& count, int& width, int& height) override {
    if (listCount < 0) return false;
    count = listCount;
    width = height = 16;
    return true;
  }
  void DrawListImage(int index, int x, int y) override { listImages.push_back({index, x, y}); }
  bool ShellIconSize(bool large, int& width, int& height) override {
    width = height = large ? 32 : 16;
    return true;
  }
  void DrawShellIcon(std::string_view source, bool large, int x, int y) override {
    shellIcons.push_back({std::string(source), large, x, y});
  }

  // The drawn texts joined, for quick checks.
  std::string Drawn() const {
    std::string s;
    for (const auto& t : texts) s += t.text;
    return s;
  }
  const Text* Find(std::string_view text) const {
    for (const auto& t : texts)
      if (t.text == text) return &t;
    return nullptr;
  }

  HtmlFont font_;
  HtmlColor brush_ = 0xFFFFFF;
  bool transparent = false;
  HtmlRect clip{-100000, -100000, 100000, 100000};
  int dpi = 96;
  int lastAngle = 0;
  long measures = 0;
  unsigned lastMeasureFlags = 0;
  int listCount = -1;
  std::map<std::string, HtmlPicture> named, byLocation;
  std::vector<std::string> located;
  std::vector<Text> texts;
  std::vector<Fill> fills;
  std::vector<Line> lines;
  std::vector<PictureDraw> pictures;
  struct ListImage {
    int index, x, y;
  };
  std::vector<ListImage> listImages;
  struct ShellIcon {
    std::string source;
    bool large;
    int x, y;
  };
  std::vector<ShellIcon> shellIcons;
};
