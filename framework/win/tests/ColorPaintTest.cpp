// Colours: controls paint their Color; ParentColor follows the parent's.
#include <gtest/gtest.h>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

// The colour a control paints at (x, y) of its own area.
COLORREF PaintedAt(TControl* control, int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, control->GetWidth(), control->GetHeight());
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
  const COLORREF c = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return c;
}

TEST(ColorPaintTest, ControlsPaintTheirColourAndChildrenMayFollowTheParent) {
  InitForms();
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(Application));
  auto* panel = New<TPanel>(form.get());
  panel->SetParent(form.get());
  panel->SetBevelOuter(bvNone);
  panel->SetBounds(0, 0, 100, 50);
  auto* label = New<TLabel>(form.get());
  label->SetAutoSize(false);
  label->SetBounds(0, 0, 40, 20);
  label->SetCaption("");
  label->SetParentColor(true);
  label->SetParent(panel);
  form->Show();

  struct Case {
    TColor panelColor;
    COLORREF expected;
  };
  const Case cases[] = {
      {clRed, RGB(255, 0, 0)},
      {clBtnFace, GetSysColor(COLOR_BTNFACE)},
      {static_cast<std::int32_t>(0x00336699), RGB(0x99, 0x66, 0x33)},
  };
  for (const Case& c : cases) {
    panel->SetColor(c.panelColor);
    EXPECT_EQ(panel->GetColor(), c.panelColor);
    EXPECT_EQ(label->GetColor(), c.panelColor) << "ParentColor follows the parent";
    EXPECT_EQ(PaintedAt(panel, 60, 30), c.expected);
    EXPECT_EQ(PaintedAt(label, 5, 5), c.expected);
  }
  label->SetColor(clBlue);  // its own colour ends ParentColor
  EXPECT_FALSE(label->GetParentColor());
  panel->SetColor(clRed);
  EXPECT_EQ(label->GetColor(), clBlue);
  EXPECT_EQ(PaintedAt(label, 5, 5), RGB(0, 0, 255));
  label->SetTransparent(true);
  EXPECT_NE(PaintedAt(label, 5, 5), RGB(0, 0, 255)) << "a transparent label leaves its background";
}

}  // namespace
