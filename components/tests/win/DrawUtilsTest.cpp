// The drawing routines: transparent stretching, the parent's background
// behind a graphic control, the active-window check, the not-implemented
// report and the cursors.
#include "DrawUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "Forms.h"
#include "QvCursors.h"

namespace {

constexpr TColor kMagenta = 0xFF00FF, kGreen = 0x00FF00;

// A bitmap of `w` x `h` with every pixel set by `colour(x, y)`.
template <typename F>
TOwned<TBitmap> MakeBitmap(int w, int h, int bitCount, F colour) {
  TDib dib(w, h, bitCount);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) dib.SetPixel(x, y, static_cast<std::uint32_t>(static_cast<std::int32_t>(colour(x, y))));
  TOwned<TBitmap> b(New<TBitmap>());
  b->SetDib(std::move(dib));
  return b;
}

// A 32-bit destination filled with one colour.
TOwned<TBitmap> Background(int w, int h, TColor colour) {
  return MakeBitmap(w, h, 32, [colour](int, int) { return colour; });
}

TColor At(TBitmap* b, int x, int y) {
  return b->Canvas()->Pixel(x, y);
}

// A 4 x 4 source: top row red, the rest blue, the bottom-left pixel magenta.
TOwned<TBitmap> Source() {
  return MakeBitmap(4, 4, 24, [](int x, int y) -> TColor {
    if (x == 0 && y == 3) return kMagenta;
    return y == 0 ? clRed : clBlue;
  });
}

TEST(DrawUtilsTest, TransparentStretchLeavesOutTheGivenColour) {
  struct Case {
    const char* name;
    TColor transparent;
    TColor topLeft, bottomLeft;  // what lands where the source's (0,0) and (0,3) go
  };
  const Case cases[] = {
      {"clNone draws opaque", clNone, clRed, kMagenta},
      {"clDefault leaves out the bottom-left colour", clDefault, clRed, kGreen},
      {"a given colour", clRed, kGreen, kMagenta},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto src = Source();
    auto dst = Background(20, 20, kGreen);
    DrawBitmapTransparent(dst->Canvas(), src.get(), c.transparent, 2, 2, 4, 4, 0, 0, 4, 4);
    EXPECT_EQ(At(dst.get(), 2, 2), c.topLeft);
    EXPECT_EQ(At(dst.get(), 2, 5), c.bottomLeft);
    EXPECT_EQ(At(dst.get(), 4, 4), clBlue);
    EXPECT_EQ(At(dst.get(), 1, 1), kGreen) << "outside the destination";
    EXPECT_EQ(At(dst.get(), 6, 6), kGreen);
  }
}

TEST(DrawUtilsTest, SizesBelowOneTakeTheBitmapsAndStretchingScales) {
  auto src = Source();
  {
    auto dst = Background(20, 20, kGreen);
    DrawBitmapTransparent(dst->Canvas(), src.get(), clNone, 3, 3, 0, 0, 0, 0, 4, 4);
    EXPECT_EQ(At(dst.get(), 3, 3), clRed);
    EXPECT_EQ(At(dst.get(), 6, 6), clBlue);
    EXPECT_EQ(At(dst.get(), 7, 7), kGreen) << "a 0 x 0 destination draws at the source size";
  }
  {
    auto dst = Background(20, 20, kGreen);
    const RECT empty{1, 1, 1, 1};  // width 0: the whole bitmap
    DrawBitmapRectTransparent(dst->Canvas(), 0, 0, 8, 8, empty, src.get(), clDefault);
    EXPECT_EQ(At(dst.get(), 0, 0), clRed);
    EXPECT_EQ(At(dst.get(), 7, 1), clRed) << "each source row is two rows high";
    EXPECT_EQ(At(dst.get(), 7, 2), clBlue);
    EXPECT_EQ(At(dst.get(), 1, 7), kGreen) << "the magenta corner (2 x 2) is left out";
    EXPECT_EQ(At(dst.get(), 2, 7), clBlue);
    EXPECT_EQ(At(dst.get(), 8, 8), kGreen);
  }
  {
    auto dst = Background(20, 20, kGreen);
    const RECT part{1, 2, 3, 4};  // 2 x 2 of blue
    DrawBitmapRectTransparent(dst->Canvas(), 5, 5, 2, 2, part, src.get(), clNone);
    EXPECT_EQ(At(dst.get(), 5, 5), clBlue);
    EXPECT_EQ(At(dst.get(), 6, 6), clBlue);
    EXPECT_EQ(At(dst.get(), 7, 7), kGreen);
  }
}

TEST(DrawUtilsTest, AMonochromeBitmapLeavesOutWhiteWhateverColourIsGiven) {
  // Left half black, right half white.
  auto src = MakeBitmap(4, 4, 1, [](int x, int) { return x < 2 ? clBlack : clWhite; });
  ASSERT_TRUE(src->GetMonochrome());
  for (TColor given : {clDefault, clBlack, clRed}) {
    SCOPED_TRACE(static_cast<int>(given));
    auto dst = Background(10, 10, kGreen);
    DrawBitmapTransparent(dst->Canvas(), src.get(), given, 0, 0, 4, 4, 0, 0, 0, 0);
    EXPECT_EQ(At(dst.get(), 0, 0), clBlack);
    EXPECT_EQ(At(dst.get(), 3, 3), kGreen);
  }
}

// Work contexts kept from one drawing to the next draw exactly what new ones
// draw: through changes of size, source part, colour, destination format and
// the source's pixels (a kept set holds nothing of an earlier drawing).
TEST(DrawUtilsTest, KeptWorkContextsDrawAsNewOnes) {
  struct Step {
    const char* name;
    int destBits, left, top, width, height;
    RECT part;
    TColor transparent;
    bool repaintSource;  // the source's pixels change before this step
  };
  const Step steps[] = {
      {"first", 32, 2, 2, 4, 4, {0, 0, 4, 4}, clDefault, false},
      {"the same again", 32, 2, 2, 4, 4, {0, 0, 4, 4}, clDefault, false},
      {"new pixels, same sizes", 32, 2, 2, 4, 4, {0, 0, 4, 4}, clDefault, true},
      {"another part", 32, 1, 3, 4, 4, {0, 0, 2, 2}, clRed, false},
      {"stretched", 32, 0, 0, 9, 7, {1, 0, 4, 3}, clBlue, false},
      {"a 24-bit destination", 24, 2, 2, 4, 4, {0, 0, 4, 4}, clDefault, false},
      {"a 16-bit destination", 16, 2, 2, 8, 8, {0, 0, 4, 4}, clRed, true},
      {"back to 32 bits", 32, 2, 2, 4, 4, {0, 0, 4, 4}, clDefault, false},
  };
  auto src = Source();
  TMaskScratch kept;
  int paint = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.repaintSource) {
      ++paint;
      TDib dib(4, 4, 24);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) dib.SetPixel(x, y, (x + y + paint) % 3 == 0 ? 0xFF00FFu : 0x102030u * (x + paint));
      src->SetDib(std::move(dib));
    }
    auto pattern = [](int x, int y) -> TColor { return (x + y) % 2 ? kGreen : TColor(0x808080); };
    auto withKept = MakeBitmap(12, 12, step.destBits, pattern);
    auto withNew = MakeBitmap(12, 12, step.destBits, pattern);
    DrawBitmapRectTransparent(withKept->Canvas(), step.left, step.top, step.width, step.height, step.part, src.get(),
                              step.transparent, &kept);
    DrawBitmapRectTransparent(withNew->Canvas(), step.left, step.top, step.width, step.height, step.part, src.get(),
                              step.transparent);
    int differing = 0, changed = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) {
        differing += At(withKept.get(), x, y) != At(withNew.get(), x, y);
        changed += At(withNew.get(), x, y) != pattern(x, y);
      }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(changed, 0) << "the step draws something";
  }
}

// A graphic control that fills itself with one colour.
class TFill : public TGraphicControl {
 public:
  TFill(TComponent* owner, TColor c) : TGraphicControl(owner) { SetColor(c); }
  void Paint(HDC dc) override {
    RECT r = ClientRect();
    FillRectColor(dc, r, GetColor());
  }
  int paints = 0;
};

// A panel that paints a pattern: blue columns on yellow, 10 pixels each.
class TPatternPanel : public TCustomControl {
 public:
  explicit TPatternPanel(TComponent* owner) : TCustomControl(owner) {}
  static TColor PatternAt(int x) { return (x / 10) % 2 ? clBlue : clYellow; }

 protected:
  void Paint(HDC dc) override {
    for (int x = 0; x < GetWidth(); x += 10) {
      RECT r{x, 0, x + 10, GetHeight()};
      FillRectColor(dc, r, PatternAt(x));
    }
  }
};

TEST(DrawUtilsTest, ParentBackgroundShowsTheParentAndTheEarlierOverlappingSiblingsOnly) {
  InitForms();
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(Application));
  auto* panel = New<TPatternPanel>(form.get());
  panel->SetBounds(0, 0, 100, 60);
  panel->SetParent(form.get());
  auto* red = New<TFill>(form.get(), clRed);  // earlier, overlapping the control's left part

  red->SetBounds(0, 0, 25, 60);
  red->SetParent(panel);
  auto* control = New<TFill>(form.get(), clBlack);
  control->SetBounds(20, 10, 40, 30);
  control->SetParent(panel);
  auto* green = New<TFill>(form.get(), kGreen);  // later, overlapping the right part

  green->SetBounds(50, 0, 30, 60);
  green->SetParent(panel);

  auto canvas = Background(40, 30, clBlack);
  PaintParentBackground(control, canvas->Canvas());
  EXPECT_EQ(At(canvas.get(), 0, 0), clRed) << "the earlier sibling at parent x 20..24";
  EXPECT_EQ(At(canvas.get(), 4, 29), clRed);
  for (int x : {5, 15, 25, 35})
    EXPECT_EQ(At(canvas.get(), x, 5), TPatternPanel::PatternAt(x + 20)) << "parent x " << x + 20 << ", never green";
  EXPECT_FALSE(panel->ControlState.Contains(csPaintCopy));
  EXPECT_FALSE(red->ControlState.Contains(csPaintCopy));

  // The first control of its parent gets the parent only.
  auto first = Background(25, 60, clBlack);
  PaintParentBackground(red, first->Canvas());
  EXPECT_EQ(At(first.get(), 5, 5), clYellow);
  EXPECT_EQ(At(first.get(), 15, 5), clBlue);
  EXPECT_EQ(At(first.get(), 22, 30), clYellow) << "not the later black control";

  // No parent: nothing is painted.
  auto* orphan = New<TFill>(form.get(), clRed);
  auto none = Background(5, 5, kGreen);
  PaintParentBackground(orphan, none->Canvas());
  PaintParentBackground(nullptr, none->Canvas());
  EXPECT_EQ(At(none.get(), 2, 2), kGreen);
}

TEST(DrawUtilsTest, ActiveWindowBelongsToTheThreadThatMadeIt) {
  InitForms();
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(Application));
  form->SetBounds(0, 0, 200, 100);
  form->Show();
  // The X server's focus events for the earlier tests' windows arrive when they like and may take the activation
  // away again: activate until it holds, then ask without pumping messages in between.
  for (int i = 0; i < 100 && GetActiveWindow() != form->Handle(); ++i) {
    SetForegroundWindow(form->Handle());
    SetActiveWindow(form->Handle());
    Application->ProcessMessages();
    if (GetActiveWindow() != form->Handle()) Sleep(20);
  }
  ASSERT_EQ(GetActiveWindow(), form->Handle());
  EXPECT_TRUE(IsActiveWindowOwnThread());
  std::atomic<int> other{-1};
  std::thread([&] { other = IsActiveWindowOwnThread() ? 1 : 0; }).join();
  EXPECT_EQ(other, 0) << "another thread has no active window of its own";
}

BOOL CALLBACK FindInformationBox(HWND w, LPARAM p) {
  char cls[16] = {}, text[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, text, sizeof text);
  if (std::string(cls) != "#32770" || std::string(text) != "Information") return TRUE;
  *reinterpret_cast<HWND*>(p) = w;
  return FALSE;
}

BOOL CALLBACK FindImplementedText(HWND child, LPARAM p) {
  char text[128] = {};
  GetWindowTextA(child, text, sizeof text);
  if (std::string(text).find("implemented") != std::string::npos) *reinterpret_cast<std::string*>(p) = text;
  return TRUE;
}

TEST(DrawUtilsTest, NotImplementedShowsTheResourceTextAndAbortsSilently) {
  InitForms();
  EXPECT_EQ(LoadStr(61257), "Function not yet implemented") << "the string table carries it";
  Screen->SetCursor(crHourGlass);
  const DWORD mainThread = GetCurrentThreadId();
  std::string shown;
  std::thread closer([&] {
    HWND box = nullptr;
    for (int i = 0; i < 500 && !box; ++i) {
      EnumThreadWindows(mainThread, &FindInformationBox, reinterpret_cast<LPARAM>(&box));
      if (!box) Sleep(10);
    }
    if (!box) return;
    EnumChildWindows(box, &FindImplementedText, reinterpret_cast<LPARAM>(&shown));
    SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  });
  EXPECT_THROW(ReportNotImplemented(), EAbort);
  closer.join();
  EXPECT_EQ(shown, "Function not yet implemented");
  EXPECT_EQ(Screen->Cursor(), crDefault);
}

TEST(DrawUtilsTest, ZeroedBlocksAndTheCursors) {
  EXPECT_EQ(AllocZeroedBlock(-1), nullptr);
  EXPECT_EQ(AllocZeroedBlock(0), nullptr);
  void* block = AllocZeroedBlock(64);
  ASSERT_NE(block, nullptr);
  const unsigned char zeros[64] = {};
  EXPECT_TRUE(SameBytes(block, zeros, 64));
  ReleaseBlock(block);
  EXPECT_EQ(block, nullptr);
  ReleaseBlock(block);  // nothing to free

  InitForms();
  InitQvCursors();
  HCURSOR hand = Screen->Cursors(crQvHand), drag = Screen->Cursors(crQvDrag);
  EXPECT_NE(hand, nullptr);
  EXPECT_NE(drag, nullptr);
  EXPECT_NE(hand, drag);
  EXPECT_EQ(hand, LoadCursorA(GetModuleHandleA(nullptr), "QV_HANDCUR"));
}

}  // namespace
