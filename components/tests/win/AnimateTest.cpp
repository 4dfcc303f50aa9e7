// The animated image: a strip read from form text stepping on a panel, its
// pixels, auto-sizing, when it does not step, and freeing running animations.
#include "Animate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ExtCtrls.h"
#include "Filer.h"
#include "FormFromText.h"
#include "Forms.h"
#include "ObjectConvert.h"
#include "PumpingWait.h"

namespace {

constexpr TColor kMagenta = 0xFF00FF, kPanel = 0x00FF00;
constexpr int kFrames = 15, kSize = 32;

TColor FrameColour(int f) {
  return static_cast<std::int32_t>(RGB(10 + f * 15, 200 - f * 10, 40 + f * 12));
}

// 15 frames of 32 x 32 side by side, each its own colour with a 4-pixel magenta border.
TDib Strip() {
  TDib dib(kFrames * kSize, kSize, 24);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kFrames * kSize; ++x) {
      const int fx = x % kSize;
      const bool border = fx < 4 || fx >= kSize - 4 || y < 4 || y >= kSize - 4;
      dib.SetPixel(x, y,
                   static_cast<std::uint32_t>(static_cast<std::int32_t>(border ? kMagenta : FrameColour(x / kSize))));
    }
  return dib;
}

// The strip as form text binary data: a u32 size, then the BMP file.
std::string GlyphData() {
  const std::string bmp = Strip().SaveToBmp();
  std::string raw(4, '\0');
  const std::uint32_t n = static_cast<std::uint32_t>(bmp.size());
  for (int i = 0; i < 4; ++i) raw[static_cast<std::size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
  raw += bmp;
  std::string hex = "{";
  char buf[3];
  for (unsigned char c : raw) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    hex += buf;
  }
  return hex + "}";
}

class TAnimForm : public TForm {
  FW_CLASS(TAnimForm, TForm)
 public:
  explicit TAnimForm(TComponent* owner) : TForm(owner) {}
  TPanel* Panel = nullptr;
  TAnimatedImage* Anim = nullptr;
  std::vector<int> frames;
  std::atomic<int> changes{0};
  std::atomic<bool> freed{false};
  void AnimFrameChanged(TObject*) {
    ++changes;
    if (freed) ADD_FAILURE() << "OnFrameChanged after Free";
    if (frames.size() < 64) frames.push_back(Anim->GetGlyphNum());
  }
};

// clang-format off
FW_BEGIN_CLASS(TAnimForm)
  FW_FIELD(Panel)
  FW_FIELD(Anim)
  FW_METHOD(AnimFrameChanged)
FW_END_CLASS
// clang-format on

std::string FormText(bool async) {
  return std::string(
             "object AnimForm: TAnimForm\r\n"
             "  Left = 0\r\n  Top = 0\r\n  Width = 240\r\n  Height = 160\r\n"
             "  object Panel: TPanel\r\n"
             "    Left = 0\r\n    Top = 0\r\n    Width = 200\r\n    Height = 100\r\n"
             "    BevelOuter = bvNone\r\n    Color = clLime\r\n"
             "    object Anim: TAnimatedImage\r\n"
             "      Left = 20\r\n      Top = 10\r\n      Width = 50\r\n      Height = 50\r\n"
             "      Active = True\r\n") +
         (async ? "      AsyncDrawing = True\r\n" : "") + "      Glyph.Data = " + GlyphData() +
         "\r\n"
         "      InactiveGlyph = 3\r\n      Interval = 30\r\n"
         "      OnFrameChanged = AnimFrameChanged\r\n"
         "    end\r\n  end\r\nend\r\n";
}

TAnimForm* ReadForm(bool async) {
  RegisterAnimateClasses();
  return ReadFormText<TAnimForm>(FormText(async));
}

COLORREF WindowPixel(TWinControl* w, int x, int y) {
  HDC dc = GetDC(w->Handle());
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(w->Handle(), dc);
  return c;
}

TEST(AnimateTest, AStripReadFromFormTextStepsPastTheInactiveFrameAndShowsThroughItsBorder) {
  InitForms();
  TOwned<TAnimForm> form(ReadForm(false));
  TAnimatedImage* anim = form->Anim;
  ASSERT_NE(anim, nullptr);
  EXPECT_TRUE(anim->GetActive());
  EXPECT_EQ(anim->GetNumGlyphs(), kFrames);
  EXPECT_EQ(anim->GetInactiveGlyph(), 3);
  EXPECT_EQ(anim->GetTransparentColor(), kMagenta) << "the strip's bottom-left colour";
  EXPECT_EQ(anim->GetWidth(), kSize) << "auto-sized to the frame";
  EXPECT_EQ(anim->GetHeight(), kSize);
  form->Show();
  for (int i = 0; i < 400 && form->frames.size() < 20; ++i) PumpingWait(10);
  ASSERT_GE(form->frames.size(), 20u);
  for (std::size_t i = 1; i < form->frames.size(); ++i) {
    const int prev = form->frames[i - 1], cur = form->frames[i];
    EXPECT_NE(cur, 3) << "the inactive frame never shows while active";
    EXPECT_EQ(cur, prev == 14 ? 0 : prev == 2 ? 4 : prev + 1) << "after " << prev;
  }

  anim->SetActive(false);
  EXPECT_EQ(anim->GetGlyphNum(), 3);
  anim->Repaint();
  PumpingWait(20);
  EXPECT_EQ(WindowPixel(form->Panel, 20 + 16, 10 + 16), static_cast<COLORREF>(FrameColour(3)))
      << "frame 3's colour in the middle";
  EXPECT_EQ(WindowPixel(form->Panel, 20 + 1, 10 + 1), static_cast<COLORREF>(kPanel))
      << "the panel shows at the transparent border";
  const int shown = form->changes;
  PumpingWait(150);
  EXPECT_EQ(form->changes, shown) << "inactive: no steps";
}

TEST(AnimateTest, AHiddenImageOrAHandlelessParentDoesNotStep) {
  InitForms();
  for (bool hidden : {true, false}) {
    SCOPED_TRACE(hidden ? "hidden" : "no parent window");
    TOwned<TAnimForm> form(ReadForm(false));
    if (hidden) {
      form->Show();
      form->Anim->Hide();
    }
    const int before = form->changes;
    PumpingWait(200);
    EXPECT_EQ(form->changes, before);
    EXPECT_FALSE(form->Panel->HandleAllocated() && !hidden);
  }
}

TEST(AnimateTest, AutoSizeTakesTheFrameSizeAlongWhatTheAlignmentLeavesFree) {
  InitForms();
  struct Case {
    TAlign align;
    int width, height;  // of the image, 32 x 32 frames; 0: the panel's client width or height
  };
  const Case cases[] = {
      {alNone, 32, 32}, {alLeft, 32, 0}, {alRight, 32, 0}, {alTop, 0, 32}, {alBottom, 0, 32}, {alClient, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.align));
    TOwned<TForm> form(TCustomForm::CreateNew<TForm>(Application));
    auto* panel = New<TPanel>(form.get());
    panel->SetBevelOuter(bvNone);
    panel->SetBounds(0, 0, 200, 100);
    panel->SetParent(form.get());
    auto* anim = New<TAnimatedImage>(form.get());
    anim->SetParent(panel);
    TOwned<TBitmap> strip(New<TBitmap>());
    strip->SetDib(Strip());
    anim->SetGlyph(strip.get());
    anim->SetAlign(c.align);
    EXPECT_EQ(anim->GetWidth(), c.width ? c.width : panel->ClientWidth());
    EXPECT_EQ(anim->GetHeight(), c.height ? c.height : panel->ClientHeight());
    EXPECT_GT(panel->ClientHeight(), 32);
    int w = 5, h = 7;
    EXPECT_TRUE(anim->CanAutoSize(w, h));
    const bool takesWidth = c.align == alNone || c.align == alLeft || c.align == alRight;
    const bool takesHeight = c.align == alNone || c.align == alTop || c.align == alBottom;
    EXPECT_EQ(w, takesWidth ? 32 : 5);
    EXPECT_EQ(h, takesHeight ? 32 : 7);
  }
  // Writers through the control: out-of-range frames and the frame-count rules.
  TOwned<TAnimatedImage> anim(New<TAnimatedImage>(nullptr));
  TOwned<TBitmap> strip(New<TBitmap>());
  strip->SetDib(Strip());
  anim->SetGlyph(strip.get());
  anim->SetGlyphNum(15);
  EXPECT_EQ(anim->GetGlyphNum(), 0);
  anim->SetInactiveGlyph(-5);
  EXPECT_EQ(anim->GetInactiveGlyph(), -1);
  anim->SetGlyphNum(12);
  anim->SetNumGlyphs(5);
  EXPECT_EQ(anim->GetGlyphNum(), 0) << "brought back into the shorter strip";
  anim->SetNumGlyphs(0);
  EXPECT_EQ(anim->GetNumGlyphs(), 1);
}

// The off-screen context and the work contexts are kept from paint to paint:
// each paint still shows the current frame at the current size.
TEST(AnimateTest, EachPaintShowsTheCurrentFrameAtTheCurrentSize) {
  InitForms();
  TOwned<TAnimatedImage> anim(New<TAnimatedImage>(nullptr));
  TOwned<TBitmap> strip(New<TBitmap>());
  strip->SetDib(Strip());
  anim->SetGlyph(strip.get());
  anim->SetNumGlyphs(kFrames);
  anim->SetAutoSize(false);
  anim->SetColor(clBlue);
  struct Step {
    int width, height, frame;
  };
  const Step steps[] = {{32, 32, 1}, {32, 32, 2}, {64, 48, 2}, {64, 48, 7}, {16, 16, 7}, {32, 32, 14}};
  for (const Step& step : steps) {
    SCOPED_TRACE(std::to_string(step.width) + " x " + std::to_string(step.height) + ", frame " +
                 std::to_string(step.frame));
    anim->SetBounds(0, 0, step.width, step.height);
    anim->SetGlyphNum(step.frame);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, step.width, step.height);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    anim->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
    // Stretched: the middle is the frame's colour, the transparent border the control's.
    EXPECT_EQ(GetPixel(dc, step.width / 2, step.height / 2), static_cast<COLORREF>(FrameColour(step.frame)));
    EXPECT_EQ(GetPixel(dc, step.width - 1, step.height - 1), static_cast<COLORREF>(clBlue));
    EXPECT_EQ(GetPixel(dc, 0, 0), static_cast<COLORREF>(clBlue));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
}

// Paints the image on the main thread, again and again for `ms` milliseconds.
void RepaintFor(TAnimatedImage* anim, unsigned ms) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, anim->GetWidth(), anim->GetHeight());
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  const DWORD end = GetTickCount() + ms;
  while (static_cast<int>(end - GetTickCount()) > 0) {
    anim->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
    PumpingWait(0);
  }
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

TEST(AnimateTest, RunningAnimationsAreCreatedAndFreedAgainAndAgain) {
  InitForms();
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "asynchronous drawing, repainted non-stop" : "synchronous");
    int total = 0;
    for (int round = 0; round < 100; ++round) {
      TAnimForm* form = ReadForm(async);
      form->Anim->SetInterval(1);
      // The windows are made but not shown: showing and freeing a hundred
      // forms in a row is not what is tested here.
      form->Panel->HandleNeeded();
      if (async)
        RepaintFor(form->Anim, 12);
      else
        PumpingWait(8);
      total += form->changes;
      form->freed = true;  // set before Free: nothing may fire from here on
      form->Free();
      PumpingWait(1);
    }
    EXPECT_GT(total, 0) << "the animations ran";
  }
}

}  // namespace

// The animated image's switch makes a plain bitmap's Draw hold the bitmap's
// own canvas lock, so a timer thread that paints into the bitmap under that
// lock is never read half-painted: with the switch, Draw waits for the lock;
// without it, Draw goes ahead.
TEST(AnimateLockedDraw, ThePatchMakesABitmapsDrawWaitForItsCanvasLock) {
  TOwned<TBitmap> source(New<TBitmap>());
  source->SetWidth(8);
  source->SetHeight(8);
  TOwned<TBitmap> target(New<TBitmap>());
  target->SetWidth(8);
  target->SetHeight(8);
  const RECT r{0, 0, 8, 8};
  const bool before = LockedBitmapDraw();
  for (bool locked : {false, true}) {
    SetLockedBitmapDraw(false);
    if (locked) PatchBitmapDraw();
    std::atomic<bool> held{false}, released{false}, go{false};
    std::thread painter([&] {
      source->Canvas()->Lock();
      held = true;
      // Released when told, after a short hold with the switch on, or after a
      // bound so that a Draw that waits wrongly cannot hang the test.
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(locked ? 200 : 10000);
      while (!go && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      released = true;
      source->Canvas()->Unlock();
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    target->Canvas()->StretchDraw(r, source.get());
    const bool drewAfterRelease = released;
    go = true;
    painter.join();
    EXPECT_EQ(drewAfterRelease, locked) << (locked ? "with" : "without") << " the switch";
  }
  SetLockedBitmapDraw(before);
}
