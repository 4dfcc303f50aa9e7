// The shadow label: its shadow, disabled look, auto-size, focus control and
// the mouse-leave that waits for the end of a drag.
#include "QVCtrls.h"

#include <gtest/gtest.h>

#include "Forms.h"
#include "StdCtrls.h"

namespace {

// What the label paints, read back pixel by pixel.
struct TPainted {
  int w, h;
  std::vector<COLORREF> px;
  COLORREF At(int x, int y) const { return px[static_cast<std::size_t>(y * w + x)]; }
};

TPainted Paint(TControl* c) {
  TPainted out{c->GetWidth(), c->GetHeight(), {}};
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, out.w, out.h);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  c->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) out.px.push_back(GetPixel(dc, x, y));
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return out;
}

struct LabelTest : ::testing::Test {
  void SetUp() override {
    InitForms();
    form.reset(TCustomForm::CreateNew<TForm>(Application));
    form->SetBounds(100, 100, 300, 200);
    label = New<TQvLabel>(form.get());
    label->SetParent(form.get());
    label->GetFont()->SetName("Arial");
    label->GetFont()->SetHeight(-19);
    label->GetFont()->SetStyle(TFontStyles{fsBold});
    label->SetCaption("Wizard");
  }
  TOwned<TForm> form;
  TQvLabel* label = nullptr;
};

TEST_F(LabelTest, ADisabledLabelWithoutShadowShowsAHighlightOnePixelRightAndDownOfGreyText) {
  label->SetShadowSize(0);
  label->SetEnabled(false);
  const TPainted p = Paint(label);
  const COLORREF grey = GetSysColor(COLOR_GRAYTEXT), light = GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int greys = 0, lights = 0;
  for (int y = 1; y < p.h; ++y)
    for (int x = 1; x < p.w; ++x) {
      if (p.At(x, y) == grey) ++greys;
      if (p.At(x, y) != light) continue;
      ++lights;
      // Text edges may be smoothed: the pixel up and left is text, never the background.
      EXPECT_NE(p.At(x - 1, y - 1), face) << "a highlight pixel at " << x << "," << y << " shadows the text";
    }
  EXPECT_GT(greys, 20);
  EXPECT_GT(lights, 5);

  label->SetEnabled(true);  // enabled, size 0: the caption twice in place, no shadow
  const TPainted q = Paint(label);
  for (COLORREF c : q.px) EXPECT_NE(c, light);
}

TEST_F(LabelTest, AutoSizeCountsTheShadowAndKeepsARightJustifiedEdge) {
  label->SetShadowSize(0);
  const int w0 = label->GetWidth(), h0 = label->GetHeight();
  EXPECT_GT(w0, 40);
  label->SetShadowPos(spRightBottom);
  label->SetShadowSize(2);
  EXPECT_EQ(label->GetWidth(), w0 + 2);
  EXPECT_EQ(label->GetHeight(), h0 + 2);

  label->SetAlignment(taRightJustify);
  label->SetLeft(50);
  const int right = label->GetLeft() + label->GetWidth();
  label->SetCaption("Wizard of phones");
  EXPECT_GT(label->GetWidth(), w0 + 2);
  EXPECT_EQ(label->GetLeft() + label->GetWidth(), right) << "the right edge stays";

  label->SetShadowSize(0);
  label->SetCaption(" ");
  const int blank = label->GetWidth();
  for (const char* caption : {"", "&"}) {
    label->SetCaption(caption);
    EXPECT_EQ(label->GetWidth(), blank) << "\"" << caption << "\" measures one blank";
    EXPECT_EQ(label->GetHeight(), h0);
  }
}

TEST_F(LabelTest, TheAcceleratorFocusesTheFocusControlAndShowFocusFramesTheCaption) {
  auto* edit = New<TButton>(form.get());  // any control that takes focus
  edit->SetParent(form.get());
  edit->SetBounds(10, 100, 100, 24);
  auto* other = New<TButton>(form.get());
  other->SetParent(form.get());
  other->SetBounds(150, 100, 80, 24);
  label->SetCaption("&Name");
  label->SetFocusControl(edit);
  form->Show();
  other->SetFocus();
  EXPECT_EQ(label->Perform(CM_DIALOGCHAR, 'x'), 0);
  EXPECT_FALSE(edit->Focused());
  EXPECT_EQ(label->Perform(CM_DIALOGCHAR, 'n'), 1);
  EXPECT_TRUE(edit->Focused());

  const TPainted plain = Paint(label);
  label->SetShowFocus(true);
  const TPainted framed = Paint(label);
  int changed = 0;
  for (std::size_t i = 0; i < plain.px.size(); ++i) changed += plain.px[i] != framed.px[i];
  EXPECT_GT(changed, 10) << "the focus rectangle";

  edit->Free();  // the label forgets it
  EXPECT_EQ(label->GetFocusControl(), nullptr);
}

struct Leaves : TObject {
  int enters = 0, leaves = 0;
  void Enter(TObject*) { ++enters; }
  void Leave(TObject*) { ++leaves; }
};

TEST_F(LabelTest, AMouseLeaveDuringALeftButtonDragWaitsForTheRelease) {
  Leaves sink;
  label->OnMouseEnter = TNotifyEvent::Bind<&Leaves::Enter>(&sink);
  label->OnMouseLeave = TNotifyEvent::Bind<&Leaves::Leave>(&sink);
  form->Show();
  SetActiveWindow(form->Handle());
  SetCursorPos(0, 0);  // away from the label
  ASSERT_TRUE(IsWindow(form->Handle()));
  label->Perform(CM_MOUSEENTER);
  ASSERT_EQ(sink.enters, 1);
  ASSERT_TRUE(label->MouseInControl());
  label->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  label->Perform(CM_MOUSELEAVE);
  EXPECT_EQ(sink.leaves, 0) << "dragging";
  label->Perform(WM_LBUTTONUP, 0, MAKELPARAM(400, 400));
  EXPECT_EQ(sink.leaves, 1) << "the release finds the mouse elsewhere";
  EXPECT_FALSE(label->MouseInControl());
  label->Perform(CM_MOUSELEAVE);
  EXPECT_EQ(sink.leaves, 1);
}

}  // namespace
