// pellory_artwork: draws the wizard's pictures into a folder.
//
//   pellory_artwork OUTDIR
//
// Writes page1.bmp .. page4.bmp (200 x 312, 24-bit; the picture column of the
// wizard pages), phone0.bmp and phone1.bmp (48 x 48, 24-bit, magenta
// $FF00FF where transparent; an unconnected and a connected phone),
// wait.bmp (a strip of 15 frames of 32 x 32, magenta where transparent)
// Pellory.ico (16, 32 and 48 pixels, 32-bit with alpha), the component
// library's cursors handcur.cur (a pointing hand, hot spot at the finger tip)
// and dragcur.cur (an arrow carrying a sheet), 32 x 32, 32-bit with alpha, and
// the tree view's "VT_" strips and cursors (TreeArtwork.h).
//
// Shapes are drawn on a canvas four times finer than the picture and
// averaged down, which smooths their edges.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ByteWriter.h"
#include "TreeArtwork.h"

namespace {

constexpr int kScale = 4;
constexpr double kPi = 3.14159265358979323846;

struct TRgb {
  double R = 0, G = 0, B = 0;
};

TRgb Rgb(int r, int g, int b) {
  return {r / 255.0, g / 255.0, b / 255.0};
}
TRgb Mix(TRgb a, TRgb b, double t) {
  return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t};
}

// A premultiplied RGBA canvas at kScale times the picture's size.
class TCanvas {
 public:
  TCanvas(int width, int height)
      : width_(width), height_(height), px_(static_cast<std::size_t>(width) * kScale * height * kScale * 4, 0.0) {}

  int Width() const { return width_; }
  int Height() const { return height_; }

  // Paints every fine pixel whose centre (in picture coordinates) is inside the shape.
  void Fill(const std::function<bool(double, double)>& inside, const std::function<TRgb(double, double)>& colour,
            double alpha = 1.0, double x0 = -1e9, double y0 = -1e9, double x1 = 1e9, double y1 = 1e9) {
    int w = width_ * kScale, h = height_ * kScale;
    auto fine = [](double v, int limit) { return static_cast<int>(std::clamp(v * kScale, 0.0, double(limit))); };
    int fx0 = std::max(0, fine(std::floor(x0), w) - 1), fy0 = std::max(0, fine(std::floor(y0), h) - 1);
    int fx1 = std::min(w, fine(std::ceil(x1), w) + 1), fy1 = std::min(h, fine(std::ceil(y1), h) + 1);
    for (int fy = fy0; fy < fy1; ++fy) {
      double y = (fy + 0.5) / kScale;
      for (int fx = fx0; fx < fx1; ++fx) {
        double x = (fx + 0.5) / kScale;
        if (!inside(x, y)) continue;
        TRgb c = colour(x, y);
        double* p = &px_[(static_cast<std::size_t>(fy) * w + fx) * 4];
        p[0] = c.R * alpha + p[0] * (1 - alpha);
        p[1] = c.G * alpha + p[1] * (1 - alpha);
        p[2] = c.B * alpha + p[2] * (1 - alpha);
        p[3] = alpha + p[3] * (1 - alpha);
      }
    }
  }

  // The picture: averaged colour (premultiplied) and coverage per pixel.
  void Resolve(int x, int y, TRgb& colour, double& coverage) const {
    int w = width_ * kScale;
    double s[4] = {0, 0, 0, 0};
    for (int dy = 0; dy < kScale; ++dy)
      for (int dx = 0; dx < kScale; ++dx) {
        const double* p = &px_[(static_cast<std::size_t>(y * kScale + dy) * w + x * kScale + dx) * 4];
        for (int i = 0; i < 4; ++i) s[i] += p[i];
      }
    double n = kScale * kScale;
    coverage = s[3] / n;
    colour = coverage > 0 ? TRgb{s[0] / n / coverage, s[1] / n / coverage, s[2] / n / coverage} : TRgb{};
  }

 private:
  int width_, height_;
  std::vector<double> px_;
};

// --- Shapes ---------------------------------------------------------------------------------------

std::function<TRgb(double, double)> Solid(TRgb c) {
  return [c](double, double) { return c; };
}

void RoundRect(TCanvas& cv, double x0, double y0, double x1, double y1, double r, TRgb c, double alpha = 1.0) {
  cv.Fill(
      [=](double x, double y) {
        if (x < x0 || x > x1 || y < y0 || y > y1) return false;
        double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
      },
      Solid(c), alpha, x0, y0, x1, y1);
}

void RoundRectGradient(TCanvas& cv, double x0, double y0, double x1, double y1, double r, TRgb top, TRgb bottom) {
  cv.Fill(
      [=](double x, double y) {
        if (x < x0 || x > x1 || y < y0 || y > y1) return false;
        double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
      },
      [=](double, double y) { return Mix(top, bottom, (y - y0) / (y1 - y0)); }, 1.0, x0, y0, x1, y1);
}

void Circle(TCanvas& cv, double cx, double cy, double r, TRgb c, double alpha = 1.0) {
  cv.Fill([=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; }, Solid(c), alpha,
          cx - r, cy - r, cx + r, cy + r);
}

// A ring between radii r0 and r1, limited to the angles a0..a1 (radians, 0 = right, clockwise on screen).
void Arc(TCanvas& cv, double cx, double cy, double r0, double r1, double a0, double a1, TRgb c, double alpha = 1.0) {
  cv.Fill(
      [=](double x, double y) {
        double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d2 < r0 * r0 || d2 > r1 * r1) return false;
        double a = std::atan2(y - cy, x - cx);
        return a >= a0 && a <= a1;
      },
      Solid(c), alpha, cx - r1, cy - r1, cx + r1, cy + r1);
}

// A line of width w with round ends.
void Line(TCanvas& cv, double x0, double y0, double x1, double y1, double w, TRgb c, double alpha = 1.0) {
  double r = w / 2;
  cv.Fill(
      [=](double x, double y) {
        double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0) : 0.0;
        double px = x0 + t * dx - x, py = y0 + t * dy - y;
        return px * px + py * py <= r * r;
      },
      Solid(c), alpha, std::min(x0, x1) - r, std::min(y0, y1) - r, std::max(x0, x1) + r, std::max(y0, y1) + r);
}

using TPoints = std::vector<std::pair<double, double>>;

void Polyline(TCanvas& cv, const TPoints& pts, double w, TRgb c, double alpha = 1.0) {
  for (std::size_t i = 1; i < pts.size(); ++i)
    Line(cv, pts[i - 1].first, pts[i - 1].second, pts[i].first, pts[i].second, w, c, alpha);
}

// A cubic curve as a polyline.
TPoints Bezier(std::pair<double, double> a, std::pair<double, double> b, std::pair<double, double> c,
               std::pair<double, double> d, int steps = 48) {
  TPoints pts;
  for (int i = 0; i <= steps; ++i) {
    double t = static_cast<double>(i) / steps, u = 1 - t;
    pts.emplace_back(u * u * u * a.first + 3 * u * u * t * b.first + 3 * u * t * t * c.first + t * t * t * d.first,
                     u * u * u * a.second + 3 * u * u * t * b.second + 3 * u * t * t * c.second + t * t * t * d.second);
  }
  return pts;
}

// --- Motifs ---------------------------------------------------------------------------------------

const TRgb kWhite = Rgb(255, 255, 255);
const TRgb kBody = Rgb(52, 60, 74);
const TRgb kBodyLight = Rgb(96, 108, 128);
const TRgb kScreenOn = Rgb(150, 220, 120);
const TRgb kScreenOnLight = Rgb(206, 244, 176);
const TRgb kScreenOff = Rgb(128, 146, 140);
const TRgb kScreenOffLight = Rgb(170, 186, 180);
const TRgb kKey = Rgb(200, 208, 220);
const TRgb kGreen = Rgb(46, 170, 72);
const TRgb kRed = Rgb(226, 54, 54);
const TRgb kBtBlue = Rgb(0, 100, 200);

// A candy-bar phone whose body spans x..x+w, y..y+h.
void Phone(TCanvas& cv, double x, double y, double w, double h, bool on) {
  double r = w * 0.22;
  RoundRect(cv, x + w * 0.04, y + h * 0.03, x + w * 1.04, y + h * 1.02, r, Rgb(0, 0, 0), 0.25);  // shadow
  RoundRectGradient(cv, x, y, x + w, y + h, r, kBodyLight, kBody);
  // earpiece
  RoundRect(cv, x + w * 0.36, y + h * 0.055, x + w * 0.64, y + h * 0.075, h * 0.01, Rgb(24, 28, 36));
  // screen
  double sx0 = x + w * 0.14, sy0 = y + h * 0.11, sx1 = x + w * 0.86, sy1 = y + h * 0.45;
  RoundRect(cv, sx0 - w * 0.03, sy0 - w * 0.03, sx1 + w * 0.03, sy1 + w * 0.03, w * 0.06, Rgb(30, 34, 44));
  RoundRectGradient(cv, sx0, sy0, sx1, sy1, w * 0.04, on ? kScreenOnLight : kScreenOffLight,
                    on ? kScreenOn : kScreenOff);
  if (on) {  // signal bars
    double bw = (sx1 - sx0) * 0.07;
    for (int i = 0; i < 4; ++i) {
      double bx = sx0 + (sx1 - sx0) * 0.1 + i * bw * 1.6;
      double bh = (sy1 - sy0) * (0.12 + 0.08 * i);
      RoundRect(cv, bx, sy0 + (sy1 - sy0) * 0.45 - bh, bx + bw, sy0 + (sy1 - sy0) * 0.45, bw * 0.3, Rgb(40, 90, 40));
    }
  }
  // navigation key
  RoundRect(cv, x + w * 0.3, y + h * 0.5, x + w * 0.7, y + h * 0.57, h * 0.03, kKey);
  // keypad 3 x 4
  double kw = w * 0.2, kh = h * 0.055;
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 3; ++col) {
      double kx = x + w * 0.15 + col * w * 0.25, ky = y + h * 0.62 + row * h * 0.085;
      RoundRect(cv, kx, ky, kx + kw, ky + kh, kh * 0.45, kKey);
    }
}

// The Bluetooth rune in a rounded badge centred on cx, cy with height h.
void BluetoothMark(TCanvas& cv, double cx, double cy, double h) {
  double w = h * 0.7;
  RoundRect(cv, cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2, w / 2, kBtBlue);
  double s = h * 0.3, lw = h * 0.075;
  double xr = cx + s * 0.55, xl = cx - s * 0.6;
  Polyline(cv, {{cx, cy - s * 1.15}, {cx, cy + s * 1.15}}, lw, kWhite);
  Polyline(cv, {{xl, cy - s * 0.55}, {xr, cy + s * 0.55}, {cx, cy + s * 1.15}}, lw, kWhite);
  Polyline(cv, {{xl, cy + s * 0.55}, {xr, cy - s * 0.55}, {cx, cy - s * 1.15}}, lw, kWhite);
}

// Infrared waves spreading to the right of cx, cy.
void InfraredBeam(TCanvas& cv, double cx, double cy, double size, TRgb c) {
  Circle(cv, cx, cy, size * 0.12, c);
  for (int i = 1; i <= 3; ++i) {
    double r = size * (0.12 + 0.22 * i);
    Arc(cv, cx, cy, r, r + size * 0.09, -kPi / 4, kPi / 4, c, 1.0 - 0.2 * (i - 1));
  }
}

// A round badge with a check mark.
void CheckBadge(TCanvas& cv, double cx, double cy, double r) {
  Circle(cv, cx + r * 0.06, cy + r * 0.08, r, Rgb(0, 0, 0), 0.2);
  Circle(cv, cx, cy, r, kWhite);
  Circle(cv, cx, cy, r * 0.86, kGreen);
  Polyline(cv, {{cx - r * 0.45, cy + r * 0.02}, {cx - r * 0.12, cy + r * 0.36}, {cx + r * 0.48, cy - r * 0.34}},
           r * 0.2, kWhite);
}

// A serial plug (D-sub shell) facing up, centred on cx, top at y.
void SerialPlug(TCanvas& cv, double cx, double y, double w) {
  double h = w * 0.55;
  RoundRect(cv, cx - w / 2, y, cx + w / 2, y + h, w * 0.12, Rgb(168, 176, 188));
  RoundRect(cv, cx - w * 0.38, y + h * 0.16, cx + w * 0.38, y + h * 0.62, w * 0.1, Rgb(60, 66, 78));
  for (int i = 0; i < 5; ++i) Circle(cv, cx - w * 0.26 + i * w * 0.13, y + h * 0.3, w * 0.035, Rgb(230, 200, 90));
  for (int i = 0; i < 4; ++i) Circle(cv, cx - w * 0.195 + i * w * 0.13, y + h * 0.48, w * 0.035, Rgb(230, 200, 90));
  RoundRect(cv, cx - w * 0.22, y + h * 0.7, cx + w * 0.22, y + h * 1.35, w * 0.06, Rgb(40, 44, 52));
}

// A desktop monitor with its screen at x..x+w.
void Monitor(TCanvas& cv, double x, double y, double w) {
  double h = w * 0.72;
  RoundRect(cv, x + w * 0.03, y + h * 0.04, x + w * 1.03, y + h * 1.04, w * 0.06, Rgb(0, 0, 0), 0.25);
  RoundRectGradient(cv, x, y, x + w, y + h, w * 0.06, Rgb(220, 226, 236), Rgb(170, 178, 192));
  RoundRectGradient(cv, x + w * 0.07, y + w * 0.07, x + w * 0.93, y + h - w * 0.07, w * 0.02, Rgb(90, 170, 240),
                    Rgb(30, 90, 180));
  RoundRect(cv, x + w * 0.4, y + h, x + w * 0.6, y + h * 1.2, 0, Rgb(150, 158, 172));
  RoundRect(cv, x + w * 0.22, y + h * 1.18, x + w * 0.78, y + h * 1.28, w * 0.04, Rgb(170, 178, 192));
}

// The picture column's background: a vertical gradient with soft light circles.
void PageBackground(TCanvas& cv, TRgb top, TRgb bottom) {
  double h = cv.Height();
  cv.Fill([](double, double) { return true; }, [=](double, double y) { return Mix(top, bottom, y / h); });
  Circle(cv, 30, 40, 90, kWhite, 0.07);
  Circle(cv, 190, 250, 110, kWhite, 0.06);
  Circle(cv, 160, 20, 40, kWhite, 0.08);
  // a light band at the bottom
  cv.Fill([=](double, double y) { return y > h - 48; }, Solid(kWhite), 0.08);
}

// --- Files ----------------------------------------------------------------------------------------

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

// A 24-bit bottom-up DIB (header and pixels, no file header). With `key`, pixels
// less than half covered become the key colour and edges blend into `edge`.
std::string Dib24(const TCanvas& cv, const TRgb* key, TRgb edge) {
  int w = cv.Width(), h = cv.Height();
  std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~static_cast<std::size_t>(3);
  std::string s;
  ByteWriter out(s);
  out.U32LE(40);
  out.U32LE(static_cast<std::uint32_t>(w));
  out.U32LE(static_cast<std::uint32_t>(h));
  out.U16LE(1);
  out.U16LE(24);
  out.U32LE(0);
  out.U32LE(static_cast<std::uint32_t>(stride * static_cast<std::size_t>(h)));
  out.U32LE(2835);
  out.U32LE(2835);
  out.U32LE(0);
  out.U32LE(0);
  for (int y = h - 1; y >= 0; --y) {
    std::size_t start = s.size();
    for (int x = 0; x < w; ++x) {
      TRgb c;
      double cover;
      cv.Resolve(x, y, c, cover);
      if (key) {
        if (cover < 0.5)
          c = *key;
        else
          c = Mix(edge, c, std::min(1.0, (cover - 0.5) * 2 + 0.5));
      } else {
        c = Mix(edge, c, cover);
      }
      out.U8(Byte(c.B));
      out.U8(Byte(c.G));
      out.U8(Byte(c.R));
    }
    out.Zeros(stride - (s.size() - start));
  }
  return s;
}

std::string BmpFile(const std::string& dib) {
  std::string s = "BM";
  ByteWriter out(s);
  out.U32LE(static_cast<std::uint32_t>(14 + dib.size()));
  out.U32LE(0);
  out.U32LE(14 + 40);
  out.Bytes(dib);
  return s;
}

// An icon image: 32-bit BGRA bottom-up with a doubled height, then the AND mask.
std::string IconImage(const TCanvas& cv) {
  int w = cv.Width(), h = cv.Height();
  std::size_t maskStride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
  std::string s;
  ByteWriter out(s);
  out.U32LE(40);
  out.U32LE(static_cast<std::uint32_t>(w));
  out.U32LE(static_cast<std::uint32_t>(h * 2));
  out.U16LE(1);
  out.U16LE(32);
  out.U32LE(0);
  out.U32LE(static_cast<std::uint32_t>(static_cast<std::size_t>(w * h * 4) + maskStride * static_cast<std::size_t>(h)));
  for (int i = 0; i < 4; ++i) out.U32LE(0);
  std::string mask;
  for (int y = h - 1; y >= 0; --y) {
    std::string row(maskStride, '\0');
    for (int x = 0; x < w; ++x) {
      TRgb c;
      double cover;
      cv.Resolve(x, y, c, cover);
      out.U8(Byte(c.B));
      out.U8(Byte(c.G));
      out.U8(Byte(c.R));
      out.U8(Byte(cover));
      if (cover < 0.5) row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    }
    mask += row;
  }
  return s + mask;
}

std::string IcoFile(const std::vector<const TCanvas*>& images) {
  std::string head, body;
  ByteWriter out(head);
  out.U16LE(0);
  out.U16LE(1);
  out.U16LE(static_cast<std::uint16_t>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (const TCanvas* cv : images) {
    std::string img = IconImage(*cv);
    out.U8(static_cast<std::uint8_t>(cv->Width() >= 256 ? 0 : cv->Width()));
    out.U8(static_cast<std::uint8_t>(cv->Height() >= 256 ? 0 : cv->Height()));
    out.U8(0);  // colours
    out.U8(0);  // reserved
    out.U16LE(1);
    out.U16LE(32);
    out.U32LE(static_cast<std::uint32_t>(img.size()));
    out.U32LE(offset);
    offset += static_cast<std::uint32_t>(img.size());
    body += img;
  }
  return head + body;
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  f.close();
  if (!f) {
    std::fprintf(stderr, "pellory_artwork: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

// --- Pictures -------------------------------------------------------------------------------------

const TRgb kMagenta = Rgb(255, 0, 255);
const TRgb kBtnFace = Rgb(212, 208, 200);

// Welcome: a phone and a computer joined by a link.
void Page1(TCanvas& cv) {
  PageBackground(cv, Rgb(28, 76, 156), Rgb(120, 180, 236));
  Monitor(cv, 96, 60, 84);
  Polyline(cv, Bezier({72, 190}, {72, 250}, {138, 250}, {138, 150}), 5, Rgb(30, 34, 44));
  Phone(cv, 26, 112, 64, 150, true);
  Circle(cv, 138, 150, 5, Rgb(30, 34, 44));
}

// Connection type: a phone with the three ways to reach it.
void Page2(TCanvas& cv) {
  PageBackground(cv, Rgb(24, 110, 130), Rgb(120, 200, 210));
  Phone(cv, 24, 70, 70, 164, true);
  // cable from the phone's base
  Polyline(cv, Bezier({59, 234}, {59, 290}, {130, 280}, {150, 250}), 5, Rgb(30, 34, 44));
  RoundRect(cv, 140, 236, 166, 254, 4, Rgb(60, 66, 78));
  // infrared
  InfraredBeam(cv, 118, 150, 60, kRed);
  // Bluetooth
  BluetoothMark(cv, 156, 76, 48);
}

// Cable and connection: a phone on its cable to the PC's serial plug.
void Page3(TCanvas& cv) {
  PageBackground(cv, Rgb(70, 60, 150), Rgb(160, 150, 226));
  Phone(cv, 20, 36, 66, 156, false);
  // the cable leaves the phone's base, loops and ends in the plug
  TPoints cable = Bezier({53, 192}, {53, 270}, {150, 270}, {146, 150});
  Polyline(cv, cable, 7, Rgb(20, 22, 30));
  Polyline(cv, cable, 3, Rgb(70, 76, 90));
  RoundRect(cv, 44, 188, 62, 204, 3, Rgb(40, 44, 52));
  // plug at the top end of the cable
  SerialPlug(cv, 146, 96, 56);
  InfraredBeam(cv, 100, 70, 36, Rgb(255, 220, 90));
}

// Finish: the connected phone with a check mark.
void Page4(TCanvas& cv) {
  PageBackground(cv, Rgb(20, 116, 70), Rgb(130, 210, 150));
  Phone(cv, 50, 64, 80, 186, true);
  CheckBadge(cv, 140, 210, 34);
}

void PhoneIcon(TCanvas& cv, bool on) {
  double s = cv.Width() / 48.0;
  Phone(cv, 12 * s, 2 * s, 22 * s, 44 * s, on);
  if (on) {
    CheckBadge(cv, 36 * s, 36 * s, 10 * s);
  } else {
    Circle(cv, 36 * s, 36 * s, 10 * s, kWhite);
    Circle(cv, 36 * s, 36 * s, 8.6 * s, Rgb(150, 156, 166));
    Line(cv, 32 * s, 32 * s, 40 * s, 40 * s, 2.4 * s, kWhite);
    Line(cv, 40 * s, 32 * s, 32 * s, 40 * s, 2.4 * s, kWhite);
  }
}

// The program icon: a phone with a Bluetooth-blue link badge.
void ProgramIcon(TCanvas& cv) {
  double s = cv.Width() / 48.0;
  if (cv.Width() <= 16) {
    Phone(cv, 4, 0.5, 8, 15, true);
    return;
  }
  Phone(cv, 8 * s, 2 * s, 22 * s, 44 * s, true);
  Circle(cv, 34 * s, 34 * s, 12 * s, kWhite);
  Circle(cv, 34 * s, 34 * s, 10.4 * s, Rgb(30, 110, 210));
  // two linked rings
  Arc(cv, 30.5 * s, 34 * s, 2.6 * s, 4.4 * s, -kPi, kPi, kWhite);
  Arc(cv, 37.5 * s, 34 * s, 2.6 * s, 4.4 * s, -kPi, kPi, kWhite);
}

// The waiting animation: 15 frames of a ring of dots with a bright one running round.
void WaitStrip(TCanvas& cv) {
  const int frames = 15;
  for (int f = 0; f < frames; ++f) {
    double cx = f * 32 + 16, cy = 16;
    for (int d = 0; d < frames; ++d) {
      double a = 2 * kPi * d / frames - kPi / 2;
      int age = (f - d + frames) % frames;  // 0: the bright dot
      double t = std::max(0.0, 1.0 - age / 6.0);
      Circle(cv, cx + std::cos(a) * 11.5, cy + std::sin(a) * 11.5, 2.1 + 0.9 * t,
             Mix(Rgb(176, 188, 208), Rgb(20, 90, 200), t));
    }
  }
}

// A cursor file of one 32-bit image with its hot spot.
std::string CurFile(const TCanvas& cv, int hotX, int hotY) {
  std::string head;
  ByteWriter out(head);
  out.U16LE(0);
  out.U16LE(2);  // a cursor
  out.U16LE(1);
  const std::string img = IconImage(cv);
  out.U8(static_cast<std::uint8_t>(cv.Width()));
  out.U8(static_cast<std::uint8_t>(cv.Height()));
  out.U8(0);
  out.U8(0);
  out.U16LE(static_cast<std::uint16_t>(hotX));
  out.U16LE(static_cast<std::uint16_t>(hotY));
  out.U32LE(static_cast<std::uint32_t>(img.size()));
  out.U32LE(6 + 16);
  return head + img;
}

// A white shape with a black outline: the shape drawn black, then white one pixel inside.
void OutlinedRect(TCanvas& cv, double x0, double y0, double x1, double y1, double r) {
  RoundRect(cv, x0, y0, x1, y1, r, Rgb(0, 0, 0));
  RoundRect(cv, x0 + 1, y0 + 1, x1 - 1, y1 - 1, std::max(0.0, r - 1), Rgb(255, 255, 255));
}

void HandCursor(TCanvas& cv) {
  OutlinedRect(cv, 7, 0, 12, 17, 2.5);  // the pointing finger
  for (int f = 0; f < 3; ++f) OutlinedRect(cv, 11 + f * 4.0, 7, 16 + f * 4.0, 18, 2.5);
  OutlinedRect(cv, 2, 12, 9, 18, 3);   // the thumb
  OutlinedRect(cv, 5, 14, 24, 28, 4);  // the palm
  RoundRect(cv, 8, 1, 11, 16, 1.5, Rgb(255, 255, 255));
}

void DragCursor(TCanvas& cv) {
  OutlinedRect(cv, 10, 14, 26, 30, 1);  // the sheet
  cv.Fill([](double x, double y) { return y >= 0 && y <= 17 && x >= 0 && x <= y * 0.65; },
          [](double, double) { return Rgb(0, 0, 0); });
  cv.Fill([](double x, double y) { return y >= 2 && y <= 15 && x >= 1 && x <= (y - 1) * 0.55; },
          [](double, double) { return Rgb(255, 255, 255); });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pellory_artwork OUTDIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  bool ok = true;
  void (*pages[])(TCanvas&) = {Page1, Page2, Page3, Page4};
  for (int i = 0; i < 4; ++i) {
    TCanvas cv(200, 312);
    pages[i](cv);
    ok &= WriteFile(dir + "page" + std::to_string(i + 1) + ".bmp", BmpFile(Dib24(cv, nullptr, kWhite)));
  }
  for (int on = 0; on < 2; ++on) {
    TCanvas cv(48, 48);
    PhoneIcon(cv, on != 0);
    ok &= WriteFile(dir + "phone" + std::to_string(on) + ".bmp", BmpFile(Dib24(cv, &kMagenta, kBtnFace)));
  }
  {
    TCanvas cv(15 * 32, 32);
    WaitStrip(cv);
    ok &= WriteFile(dir + "wait.bmp", BmpFile(Dib24(cv, &kMagenta, kBtnFace)));
  }
  {
    TCanvas i16(16, 16), i32(32, 32), i48(48, 48);
    ProgramIcon(i16);
    ProgramIcon(i32);
    ProgramIcon(i48);
    ok &= WriteFile(dir + "Pellory.ico", IcoFile({&i48, &i32, &i16}));
  }
  ok &= WriteTreeArtwork(dir, WriteFile);
  {
    TCanvas hand(32, 32), drag(32, 32);
    HandCursor(hand);
    DragCursor(drag);
    ok &= WriteFile(dir + "handcur.cur", CurFile(hand, 9, 0));
    ok &= WriteFile(dir + "dragcur.cur", CurFile(drag, 0, 0));
  }
  return ok ? 0 : 1;
}
