#include "AnimateFrames.h"

void ComputeFrameSize(TFrameState& s, int stripWidth, int stripHeight) {
  if (s.NumGlyphs < 1) s.NumGlyphs = 1;
  if (s.Vertical) {
    s.FrameWidth = stripWidth;
    s.FrameHeight = stripHeight / s.NumGlyphs;
  } else {
    s.FrameHeight = stripHeight;
    s.FrameWidth = stripWidth / s.NumGlyphs;
  }
}

void CountFramesFromStrip(TFrameState& s, int stripWidth, int stripHeight) {
  s.NumGlyphs = 1;
  s.GlyphNum = 0;
  s.FrameWidth = s.FrameHeight = 0;
  if (!s.Vertical && stripHeight > 0 && stripWidth % stripHeight == 0)
    s.NumGlyphs = stripWidth / stripHeight;
  else if (s.Vertical && stripWidth > 0 && stripHeight % stripWidth == 0)
    s.NumGlyphs = stripHeight / stripWidth;
  ComputeFrameSize(s, stripWidth, stripHeight);
}

int NextFrame(const TFrameState& s) {
  auto step = [&s](int g) { return g < 0 || g >= s.NumGlyphs - 1 ? 0 : g + 1; };
  int g = step(s.GlyphNum);
  if (g == s.InactiveGlyph && s.NumGlyphs > 1) g = step(g);
  return g;
}

bool ShowInactiveFrame(TFrameState& s, bool active) {
  if (active || s.InactiveGlyph < 0 || s.InactiveGlyph >= s.NumGlyphs || s.GlyphNum == s.InactiveGlyph) return false;
  s.GlyphNum = s.InactiveGlyph;
  return true;
}

bool SetGlyphNum(TFrameState& s, int value, bool active) {
  if (value == s.GlyphNum || value < 0 || value >= s.NumGlyphs) return false;
  s.GlyphNum = value;
  ShowInactiveFrame(s, active);
  return true;
}

bool SetInactiveGlyph(TFrameState& s, int value, bool active, bool loading) {
  if (value < 0) value = -1;
  if (value == s.InactiveGlyph || (!loading && value >= s.NumGlyphs)) return false;
  s.InactiveGlyph = value;
  ShowInactiveFrame(s, active);
  return true;
}

void SetNumGlyphs(TFrameState& s, int value, bool active, int stripWidth, int stripHeight) {
  s.NumGlyphs = value;
  if (s.InactiveGlyph >= s.NumGlyphs) {
    s.InactiveGlyph = -1;
    s.GlyphNum = 0;
  } else {
    ShowInactiveFrame(s, active);
  }
  ComputeFrameSize(s, stripWidth, stripHeight);
  if (s.GlyphNum < 0 || s.GlyphNum >= s.NumGlyphs) s.GlyphNum = 0;
}

int FrameToDraw(const TFrameState& s, bool active) {
  if (active || s.InactiveGlyph < 0 || s.InactiveGlyph >= s.NumGlyphs) return s.GlyphNum;
  return s.InactiveGlyph;
}

TFrameRect FrameSource(const TFrameState& s, int index) {
  if (s.Vertical) return {0, index * s.FrameHeight, s.FrameWidth, s.FrameHeight};
  return {index * s.FrameWidth, 0, s.FrameWidth, s.FrameHeight};
}

TFrameRect FrameDestination(const TFrameState& s, int clientWidth, int clientHeight, bool stretch, bool center) {
  if (stretch) return {0, 0, clientWidth, clientHeight};
  if (center)
    return {(clientWidth - s.FrameWidth) / 2, (clientHeight - s.FrameHeight) / 2, s.FrameWidth, s.FrameHeight};
  return {0, 0, s.FrameWidth, s.FrameHeight};
}
