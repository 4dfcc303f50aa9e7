// The tree view's glyphs, drawn pixel by pixel.
//
// - VT_CHECK_LIGHT, VT_CHECK_DARK, VT_TICK_LIGHT, VT_TICK_DARK, VT_FLAT: 8-bit
//   strips of 25 cells of 16 x 16, the background magenta (the mask colour,
//   taken from the top-left pixel), drawn in white, silver, grey and black so
//   that loading maps them to the system colours;
// - VT_XP: the same 25 cells in the themed look, 24-bit (loaded as it is);
// - VT_UTILITIES: 9 cells of 16 x 16, 8-bit;
// - VT_XPBUTTONPLUS, VT_XPBUTTONMINUS: 9 x 9 expand buttons, 24-bit;
// - VT_MOVEALL, VT_MOVEEW, VT_MOVENS: 32 x 32 panning pictures, 24-bit,
//   magenta where transparent;
// - cursors VT_MOVEALL, VT_MOVEEW, VT_MOVENS, VT_MOVEN, VT_MOVES, VT_MOVEE,
//   VT_MOVEW, VT_MOVENE, VT_MOVENW, VT_MOVESE, VT_MOVESW: 32 x 32 monochrome,
//   hot spot in the middle.
//
// Cell order of the check strips (the tree's check image indexes): 0 empty;
// 1-8 radio button unchecked normal, hot, pressed, disabled, then checked
// normal, hot, pressed, disabled; 9-20 check box unchecked, checked and mixed,
// each normal, hot, pressed, disabled; 21-24 push button normal, hot, pressed,
// disabled. Utility cells: 0 drop mark before, 1 drop mark after, 2 sort
// descending, 3 sort ascending, 4 and 5 the same for the themed header,
// 6-8 the hot bar's left, middle and right pieces (the bottom three rows).
#include "TreeArtwork.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteWriter.h"

namespace {

// Palette indexes.
enum : std::uint8_t {
  kMask,        // magenta
  kWhite,       // becomes the window colour
  kSilver,      // the button face
  kGrey,        // the button shadow
  kBlack,       // the button text
  kDarkGrey,    // 3-D dark edge
  kDarkBlue,    // the dark check mark
  kGreen,       // ticks
  kLightGreen,  // ticks, hot
  kHotFill,     // hot box interior
  kXPFrame,
  kXPTop,
  kXPGreen,
  kOrange,
  kXPBottom,
  kXPHot,
  kColours
};

constexpr std::uint32_t kPalette[kColours] = {
    0xFF00FF, 0xFFFFFF, 0xC0C0C0, 0x808080, 0x000000, 0x404040, 0x000080, 0x008000,
    0x00B000, 0xE0E8FF, 0x1C5180, 0xF4F4F0, 0x21A121, 0xE8A000, 0xDCDCD7, 0xF8B330,
};

class TPixels {
 public:
  TPixels(int width, int height)
      : width_(width), height_(height), px_(static_cast<std::size_t>(width) * height, kMask) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  void Set(int x, int y, std::uint8_t c) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) px_[static_cast<std::size_t>(y) * width_ + x] = c;
  }
  std::uint8_t At(int x, int y) const { return px_[static_cast<std::size_t>(y) * width_ + x]; }
  // Every pixel of the box [x0, x1] x [y0, y1] (inclusive) for which `inside` holds.
  void Fill(
      int x0, int y0, int x1, int y1, std::uint8_t c,
      const std::function<bool(int, int)>& inside = [](int, int) { return true; }) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (inside(x, y)) Set(x, y, c);
  }

 private:
  int width_, height_;
  std::vector<std::uint8_t> px_;
};

// --- Files ------------------------------------------------------------------------------------------

void InfoHeader(ByteWriter& out, int width, int height, int bits, std::uint32_t imageSize, std::uint32_t colours) {
  out.U32LE(40);
  out.U32LE(static_cast<std::uint32_t>(width));
  out.U32LE(static_cast<std::uint32_t>(height));
  out.U16LE(1);
  out.U16LE(static_cast<std::uint16_t>(bits));
  out.U32LE(0);
  out.U32LE(imageSize);
  out.U32LE(2835);
  out.U32LE(2835);
  out.U32LE(colours);
  out.U32LE(0);
}

// A BMP file, 8 bits per pixel with the palette, or 24 bits.
std::string Bmp(const TPixels& p, int bits) {
  const int w = p.Width(), h = p.Height();
  const std::size_t stride = ((static_cast<std::size_t>(w) * bits / 8) + 3) & ~std::size_t{3};
  const std::uint32_t colours = bits == 8 ? kColours : 0;
  const std::uint32_t bitsAt = 14 + 40 + colours * 4;
  std::string s = "BM";
  ByteWriter out(s);
  out.U32LE(bitsAt + static_cast<std::uint32_t>(stride * h));
  out.U32LE(0);
  out.U32LE(bitsAt);
  InfoHeader(out, w, h, bits, static_cast<std::uint32_t>(stride * h), colours);
  for (std::uint32_t i = 0; i < colours; ++i) out.U32LE(kPalette[i]);  // B, G, R, 0
  for (int y = h - 1; y >= 0; --y) {
    const std::size_t start = s.size();
    for (int x = 0; x < w; ++x) {
      if (bits == 8) {
        out.U8(p.At(x, y));
      } else {
        const std::uint32_t c = kPalette[p.At(x, y)];
        out.U8(static_cast<std::uint8_t>(c));
        out.U8(static_cast<std::uint8_t>(c >> 8));
        out.U8(static_cast<std::uint8_t>(c >> 16));
      }
    }
    out.Zeros(stride - (s.size() - start));
  }
  return s;
}

// A monochrome 32 x 32 cursor: the mask colour is transparent, white stays
// white and everything else is black.
std::string Cursor(const TPixels& p, int hotX, int hotY) {
  const int w = p.Width(), h = p.Height();
  const std::size_t stride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
  std::string image;
  ByteWriter img(image);
  InfoHeader(img, w, h * 2, 1, static_cast<std::uint32_t>(stride * h * 2), 2);
  img.U32LE(0x000000);
  img.U32LE(0xFFFFFF);
  std::string xorBits, andBits;
  for (int y = h - 1; y >= 0; --y) {
    std::string xr(stride, '\0'), ar(stride, '\0');
    for (int x = 0; x < w; ++x) {
      const std::uint8_t c = p.At(x, y);
      const char bit = static_cast<char>(0x80 >> (x % 8));
      if (c == kMask) ar[static_cast<std::size_t>(x / 8)] |= bit;
      if (c == kWhite) xr[static_cast<std::size_t>(x / 8)] |= bit;
    }
    xorBits += xr;
    andBits += ar;
  }
  image += xorBits + andBits;
  std::string s;
  ByteWriter out(s);
  out.U16LE(0);
  out.U16LE(2);  // cursor
  out.U16LE(1);
  out.U8(static_cast<std::uint8_t>(w));
  out.U8(static_cast<std::uint8_t>(h));
  out.U8(0);
  out.U8(0);
  out.U16LE(static_cast<std::uint16_t>(hotX));
  out.U16LE(static_cast<std::uint16_t>(hotY));
  out.U32LE(static_cast<std::uint32_t>(image.size()));
  out.U32LE(22);
  return s + image;
}

// --- Check cells ----------------------------------------------------------------------------------

enum class Look { Light, Dark, Flat, XP };
enum class Mark { None, Check, Tick, Mixed, Dot };
enum class State { Normal, Hot, Pressed, Disabled };

std::uint8_t Interior(Look look, State s) {
  if (look == Look::XP) return s == State::Pressed ? kXPBottom : s == State::Disabled ? kSilver : kXPTop;
  if (s == State::Hot) return kHotFill;
  if (s == State::Pressed || s == State::Disabled) return kSilver;
  return kWhite;
}

std::uint8_t MarkColour(Look look, Mark mark, bool tick, State s) {
  if (s == State::Disabled) return kGrey;
  if (look == Look::XP) return kXPGreen;
  if (mark == Mark::Mixed) return tick ? kGreen : kGrey;
  if (tick) return s == State::Hot ? kLightGreen : kGreen;
  return look == Look::Dark ? kDarkBlue : kBlack;
}

// The 13 x 13 box at (ox + 1, 1).
void Box(TPixels& p, int ox, Look look, State s) {
  const int x0 = ox + 1, x1 = ox + 13, y0 = 1, y1 = 13;
  auto ring = [&](int inset, std::uint8_t topLeft, std::uint8_t bottomRight) {
    for (int i = x0 + inset; i <= x1 - inset; ++i) {
      p.Set(i, y0 + inset, topLeft);
      p.Set(i, y1 - inset, bottomRight);
    }
    for (int j = y0 + inset; j <= y1 - inset; ++j) {
      p.Set(x0 + inset, j, topLeft);
      p.Set(x1 - inset, j, bottomRight);
    }
  };
  switch (look) {
    case Look::Light:
      ring(0, kGrey, kWhite);
      ring(1, kDarkGrey, kSilver);
      break;
    case Look::Dark:
      ring(0, kBlack, kBlack);
      ring(1, kGrey, kGrey);
      break;
    case Look::Flat:
      ring(0, kGrey, kGrey);
      ring(1, Interior(look, s), Interior(look, s));
      break;
    case Look::XP:
      ring(0, s == State::Hot ? kXPHot : kXPFrame, s == State::Hot ? kXPHot : kXPFrame);
      ring(1, Interior(look, s), kXPBottom);
      break;
  }
  p.Fill(x0 + 2, y0 + 2, x1 - 2, y1 - 2, Interior(look, s));
}

void CheckMark(TPixels& p, int ox, bool thick, std::uint8_t c) {
  // A 7 x 7 V from (4, 6) down to (6, 10) and up to (10, 4).
  const int tops[7] = {6, 7, 8, 7, 6, 5, 4};
  for (int i = 0; i < 7; ++i) {
    const int depth = thick ? 4 : 3;
    for (int j = 0; j < depth; ++j) p.Set(ox + 4 + i, tops[i] + j - (thick ? 1 : 0), c);
  }
}

// The 13 x 13 radio circle at (ox + 1, 1).
void Radio(TPixels& p, int ox, Look look, State s, bool checked, bool tick) {
  const double cx = ox + 7, cy = 7;
  const std::uint8_t fill = Interior(look, s);
  p.Fill(ox, 0, ox + 15, 15, fill, [&](int x, int y) { return std::hypot(x - cx, y - cy) < 5.0; });
  p.Fill(ox, 0, ox + 15, 15, kBlack, [&](int x, int y) {
    const double d = std::hypot(x - cx, y - cy);
    return d >= 5.0 && d < 6.5;
  });
  if (look == Look::XP) {
    p.Fill(ox, 0, ox + 15, 15, s == State::Hot ? kXPHot : kXPFrame, [&](int x, int y) {
      const double d = std::hypot(x - cx, y - cy);
      return d >= 5.0 && d < 6.5;
    });
  } else if (look != Look::Dark) {
    // Shadow on the upper left half of the ring, light on the lower right.
    p.Fill(ox, 0, ox + 15, 15, kGrey, [&](int x, int y) {
      const double d = std::hypot(x - cx, y - cy);
      return d >= 5.0 && d < 6.5 && (x - cx) + (y - cy) < 0;
    });
    if (look == Look::Light)
      p.Fill(ox, 0, ox + 15, 15, kWhite, [&](int x, int y) {
        const double d = std::hypot(x - cx, y - cy);
        return d >= 5.0 && d < 6.5 && (x - cx) + (y - cy) > 0;
      });
  }
  if (checked)
    p.Fill(ox, 0, ox + 15, 15, MarkColour(look, Mark::Dot, tick, s),
           [&](int x, int y) { return std::hypot(x - cx, y - cy) < 2.3; });
}

void Button(TPixels& p, int ox, Look look, State s) {
  const bool pressed = s == State::Pressed;
  const std::uint8_t face = look == Look::XP ? (pressed ? kXPBottom : kXPTop) : s == State::Hot ? kHotFill : kSilver;
  p.Fill(ox + 1, 1, ox + 13, 13, face);
  const std::uint8_t light = pressed ? kDarkGrey : kWhite, dark = pressed ? kWhite : kDarkGrey;
  const std::uint8_t frame = look == Look::XP ? (s == State::Hot ? kXPHot : kXPFrame) : 0;
  for (int i = 1; i <= 13; ++i) {
    p.Set(ox + i, 1, frame ? frame : light);
    p.Set(ox + 1, i, frame ? frame : light);
    p.Set(ox + i, 13, frame ? frame : dark);
    p.Set(ox + 13, i, frame ? frame : dark);
  }
  if (s == State::Disabled)
    for (int i = 2; i <= 12; ++i) {
      p.Set(ox + i, 12, kGrey);
      p.Set(ox + 12, i, kGrey);
    }
}

TPixels CheckStrip(Look look, bool tick) {
  TPixels p(25 * 16, 16);
  const State states[4] = {State::Normal, State::Hot, State::Pressed, State::Disabled};
  for (int checked = 0; checked < 2; ++checked)
    for (int s = 0; s < 4; ++s) Radio(p, (1 + checked * 4 + s) * 16, look, states[s], checked != 0, tick);
  const Mark marks[3] = {Mark::None, Mark::Check, Mark::Mixed};
  for (int m = 0; m < 3; ++m)
    for (int s = 0; s < 4; ++s) {
      const int ox = (9 + m * 4 + s) * 16;
      Box(p, ox, look, states[s]);
      const std::uint8_t c = MarkColour(look, marks[m], tick, states[s]);
      if (marks[m] == Mark::Check) CheckMark(p, ox, tick, c);
      if (marks[m] == Mark::Mixed) p.Fill(ox + 4, 4, ox + 10, 10, c);
    }
  for (int s = 0; s < 4; ++s) Button(p, (21 + s) * 16, look, states[s]);
  return p;
}

// --- Utilities, expand buttons, panning -------------------------------------------------------------

TPixels UtilityStrip() {
  TPixels p(9 * 16, 16);
  // 0, 1: drop marks, triangles pointing into the cell.
  p.Fill(0, 3, 7, 12, kBlack, [](int x, int y) { return x - 1 <= 4 - std::abs(y - 8) && x >= 1; });
  p.Fill(16 + 8, 3, 16 + 15, 12, kBlack, [](int x, int y) { return 30 - x <= 4 - std::abs(y - 8) && x <= 30; });
  // 2..5: sort glyphs, descending (down) and ascending (up), plain then themed.
  for (int i = 0; i < 4; ++i) {
    const int ox = (2 + i) * 16;
    const bool down = i % 2 == 0;
    const std::uint8_t c = i < 2 ? kGrey : kXPFrame;
    p.Fill(ox + 3, 5, ox + 12, 10, c, [&](int x, int y) {
      const int row = down ? y - 5 : 10 - y;  // 0 at the wide end
      return std::abs(x - (ox + 7)) <= 4 - row && row <= 4;
    });
  }
  // 6..8: the hot bar, three rows at the bottom.
  p.Fill(6 * 16 + 1, 13, 6 * 16 + 15, 15, kOrange, [](int x, int y) { return !(x == 97 && (y == 13 || y == 15)); });
  p.Fill(7 * 16, 13, 7 * 16 + 15, 15, kOrange);
  p.Fill(8 * 16, 13, 8 * 16 + 14, 15, kOrange, [](int x, int y) { return !(x == 142 && (y == 13 || y == 15)); });
  return p;
}

TPixels ExpandButton(bool plus) {
  TPixels p(9, 9);
  p.Fill(0, 0, 8, 8, kXPFrame);
  p.Fill(1, 1, 7, 7, kXPTop);
  p.Fill(1, 5, 7, 7, kXPBottom);
  p.Fill(2, 4, 6, 4, kBlack);
  if (plus) p.Fill(4, 2, 4, 6, kBlack);
  return p;
}

struct Directions {
  bool n, s, e, w, ne, nw, se, sw;
};

// A white arrowhead or disc outlined in black, on magenta.
void Outlined(TPixels& p, const std::function<bool(int, int)>& inside) {
  auto edge = [&](int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (inside(x + dx, y + dy)) return true;
    return false;
  };
  p.Fill(0, 0, 31, 31, kBlack, edge);
  p.Fill(0, 0, 31, 31, kWhite, inside);
}

TPixels Panning(const Directions& d) {
  TPixels p(32, 32);
  Outlined(p, [](int x, int y) { return std::hypot(x - 16, y - 16) < 3.5; });
  auto head = [&](bool on, const std::function<bool(int, int)>& inside) {
    if (on) Outlined(p, inside);
  };
  // Straight heads: apex 3 pixels from the edge, 5 deep.
  head(d.n, [](int x, int y) { return y >= 3 && y <= 8 && std::abs(x - 16) <= y - 3; });
  head(d.s, [](int x, int y) { return y <= 28 && y >= 23 && std::abs(x - 16) <= 28 - y; });
  head(d.w, [](int x, int y) { return x >= 3 && x <= 8 && std::abs(y - 16) <= x - 3; });
  head(d.e, [](int x, int y) { return x <= 28 && x >= 23 && std::abs(y - 16) <= 28 - x; });
  // Diagonal heads: a right triangle in each corner.
  head(d.nw, [](int x, int y) { return x >= 4 && y >= 4 && (x - 4) + (y - 4) <= 6; });
  head(d.ne, [](int x, int y) { return x <= 27 && y >= 4 && (27 - x) + (y - 4) <= 6; });
  head(d.sw, [](int x, int y) { return x >= 4 && y <= 27 && (x - 4) + (27 - y) <= 6; });
  head(d.se, [](int x, int y) { return x <= 27 && y <= 27 && (27 - x) + (27 - y) <= 6; });
  return p;
}

}  // namespace

bool WriteTreeArtwork(const std::string& dir, bool (*writeFile)(const std::string&, const std::string&)) {
  bool ok = true;
  struct Strip {
    const char* name;
    Look look;
    bool tick;
  } strips[] = {
      {"VT_CHECK_LIGHT", Look::Light, false}, {"VT_CHECK_DARK", Look::Dark, false},
      {"VT_TICK_LIGHT", Look::Light, true},   {"VT_TICK_DARK", Look::Dark, true},
      {"VT_FLAT", Look::Flat, false},         {"VT_XP", Look::XP, false},
  };
  for (const Strip& s : strips)
    ok &= writeFile(dir + s.name + ".bmp", Bmp(CheckStrip(s.look, s.tick), s.look == Look::XP ? 24 : 8));
  ok &= writeFile(dir + "VT_UTILITIES.bmp", Bmp(UtilityStrip(), 8));
  ok &= writeFile(dir + "VT_XPBUTTONPLUS.bmp", Bmp(ExpandButton(true), 24));
  ok &= writeFile(dir + "VT_XPBUTTONMINUS.bmp", Bmp(ExpandButton(false), 24));

  struct Pan {
    const char* name;
    Directions d;
    bool picture;
  } pans[] = {
      {"VT_MOVEALL", {true, true, true, true, false, false, false, false}, true},
      {"VT_MOVEEW", {false, false, true, true, false, false, false, false}, true},
      {"VT_MOVENS", {true, true, false, false, false, false, false, false}, true},
      {"VT_MOVEN", {true, false, false, false, false, false, false, false}, false},
      {"VT_MOVES", {false, true, false, false, false, false, false, false}, false},
      {"VT_MOVEE", {false, false, true, false, false, false, false, false}, false},
      {"VT_MOVEW", {false, false, false, true, false, false, false, false}, false},
      {"VT_MOVENE", {false, false, false, false, true, false, false, false}, false},
      {"VT_MOVENW", {false, false, false, false, false, true, false, false}, false},
      {"VT_MOVESE", {false, false, false, false, false, false, true, false}, false},
      {"VT_MOVESW", {false, false, false, false, false, false, false, true}, false},
  };
  for (const Pan& pan : pans) {
    const TPixels p = Panning(pan.d);
    ok &= writeFile(dir + pan.name + ".cur", Cursor(p, 16, 16));
    if (pan.picture) ok &= writeFile(dir + pan.name + ".bmp", Bmp(p, 24));
  }
  return ok;
}
