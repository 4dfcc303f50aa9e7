// The frame arithmetic of the animated image: how a strip of equally sized
// frames splits, which frame comes next, and the rules its frame properties
// follow when written. Plain data; the control (Animate) holds one under its
// image lock.
#pragma once

struct TFrameState {
  int NumGlyphs = 1;       // frames in the strip
  int GlyphNum = 0;        // the current frame, 0-based
  int InactiveGlyph = -1;  // the frame shown while not active; -1 none
  int FrameWidth = 0, FrameHeight = 0;
  bool Vertical = false;  // frames stacked top to bottom instead of side by side
};

struct TFrameRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  friend bool operator==(const TFrameRect&, const TFrameRect&) = default;
};

// NumGlyphs below 1 becomes 1; the frame size is the strip divided along its
// direction (a remainder is never drawn).
void ComputeFrameSize(TFrameState& s, int stripWidth, int stripHeight);
// A new strip: square frames when the strip's length is an exact multiple of
// its breadth, else one frame; GlyphNum goes back to 0.
void CountFramesFromStrip(TFrameState& s, int stripWidth, int stripHeight);

// The frame after the current one: the next, or 0 after the last (and from
// any frame out of range), skipping InactiveGlyph.
int NextFrame(const TFrameState& s);
// When not active, shows InactiveGlyph (when it names a frame). True when GlyphNum changed.
bool ShowInactiveFrame(TFrameState& s, bool active);

// Writers; each answers whether it stored anything.
// GlyphNum: only a different value within 0 .. NumGlyphs-1.
bool SetGlyphNum(TFrameState& s, int value, bool active);
// InactiveGlyph: negative becomes -1; outside loading a value not below NumGlyphs is ignored.
bool SetInactiveGlyph(TFrameState& s, int value, bool active, bool loading);
// NumGlyphs: always stored, then raised to at least 1 by the frame-size
// computation; an InactiveGlyph no longer below it becomes -1 with GlyphNum 0,
// and a GlyphNum beyond the strip goes back to 0.
void SetNumGlyphs(TFrameState& s, int value, bool active, int stripWidth, int stripHeight);

// The frame drawn: GlyphNum while active or without an inactive frame, else InactiveGlyph.
int FrameToDraw(const TFrameState& s, bool active);
// Where frame `index` lies in the strip.
TFrameRect FrameSource(const TFrameState& s, int index);
// Where the frame goes in a client area: all of it (stretch), centred, or at the top-left corner.
TFrameRect FrameDestination(const TFrameState& s, int clientWidth, int clientHeight, bool stretch, bool center);
