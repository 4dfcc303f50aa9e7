// The Unicode edit and label on real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../RecordingWidePlatform.h"
#include "Forms.h"
#include "ObjectConvert.h"
#include "PumpingWait.h"
#include "Streams.h"
#include "UcxControls.h"
#include "UcxGraphics.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "Win32WidePlatform.h"

namespace {

const WideString kWait = u"\u0416\u0434\u0438\u0442\u0435";  // "Ждите"

// An editor of another component: a field and a window style of its own, and
// the characters its framework side saw.
class TProbeEdit : public TUcxCustomEdit {
  FW_CLASS(TProbeEdit, TUcxCustomEdit)
 public:
  explicit TProbeEdit(TComponent* owner) : TUcxCustomEdit(owner) {}
  int Extra = 0;
  std::vector<WPARAM> chars;
  int textChanges = 0;
  void Dispatch(TMessage& msg) override {
    if (msg.Msg == WM_CHAR) chars.push_back(msg.WParam);
    if (msg.Msg == CM_TEXTCHANGED) ++textChanges;
    inherited::Dispatch(msg);
  }

 protected:
  void CreateParams(TCreateParams& params) override {
    inherited::CreateParams(params);
    params.Style |= ES_CENTER;
  }
};

class TProbeLabel : public TUcxLabel {
  FW_CLASS(TProbeLabel, TUcxLabel)
 public:
  explicit TProbeLabel(TComponent* owner) : TUcxLabel(owner) {}
  int textChanges = 0;
  void Dispatch(TMessage& msg) override {
    if (msg.Msg == CM_TEXTCHANGED) ++textChanges;
    inherited::Dispatch(msg);
  }
};

class TStreamForm : public TForm {
  FW_CLASS(TStreamForm, TForm)
 public:
  explicit TStreamForm(TComponent* owner) : TForm(owner) {}
  TUcxLabel* Label1 = nullptr;
  TProbeEdit* Edit1 = nullptr;
};

}  // namespace

FW_BEGIN_CLASS(TProbeEdit)
  FW_PROP(Extra, Extra, Extra)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TProbeLabel)
FW_BEGIN_CLASS(TStreamForm)
  FW_FIELD(Label1)
  FW_FIELD(Edit1)
FW_END_CLASS

namespace {

class UnicodeControls : public ::testing::Test {
 protected:
  Win32WidePlatform platform_;
  WidePlatformScope scope_{&platform_, true, true};
  TOwned<TForm> form_;

  void SetUp() override {
    InitUcxSysUtils();
    InitUcxSystem();
    ASSERT_TRUE(IsUnicodePlatform);
    InitForms();
    RegisterClasses({&TUcxLabel::StaticClass(), &TProbeEdit::StaticClass(), &TStreamForm::StaticClass()});
    form_.reset(TCustomForm::CreateNew<TForm>(Application));
    form_->SetBounds(0, 0, 400, 300);
  }
  void TearDown() override {
    form_.reset();
    DoneUcxSystem();
  }

  template <class T>
  T* Add(int top) {
    auto* c = New<T>(form_.get());
    c->SetBounds(10, top, 200, 24);
    c->SetParent(form_.get());
    return c;
  }
};

// Paints a graphic control into a bitmap filled with `background` and calls `look`(dc) on it.
template <class F>
void Painted(TControl* control, F&& look) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, control->GetWidth(), control->GetHeight());
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
  look(dc);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

struct Box {
  int count = 0, maxX = -1, maxY = -1;
};
Box ColourBox(HDC dc, int w, int h, COLORREF colour) {
  Box b;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (GetPixel(dc, x, y) == colour) {
        ++b.count;
        b.maxX = std::max(b.maxX, x);
        b.maxY = std::max(b.maxY, y);
      }
  return b;
}

std::string WriteRoot(TComponent* root) {
  TOwned<TStringStream> out(New<TStringStream>(""));
  TOwned<TWriter> writer(New<TWriter>(*out));
  writer->WriteDescendent(root, nullptr);
  return out->DataString();
}

TEST_F(UnicodeControls, AFormStreamWithAWideLabelAndAnEditDescendantLoads) {
  std::string binary;
  {
    TOwned<TStreamForm> source(TCustomForm::CreateNew<TStreamForm>(nullptr));
    source->SetName("StreamForm");
    auto* label = New<TUcxLabel>(source.get());
    label->SetName("Label1");
    label->SetParent(source.get());
    label->SetWideCaption(kWait);
    auto* edit = New<TProbeEdit>(source.get());
    edit->SetName("Edit1");
    edit->SetParent(source.get());
    edit->Extra = 7;
    label->SetFocusControl(edit);
    binary = WriteRoot(source.get());
  }
  const std::string text = ObjectBinaryToText(binary);
  EXPECT_NE(text.find("Caption_UTF7 = '+BBYENAQ4BEIENQ'"), std::string::npos) << text;

  TOwned<TStreamForm> form(TCustomForm::CreateNew<TStreamForm>(nullptr));
  ReadComponentData(binary.data(), binary.size(), form.get());
  ASSERT_NE(form->Label1, nullptr);
  ASSERT_NE(form->Edit1, nullptr);
  EXPECT_EQ(form->Label1->GetWideCaption(), kWait);
  EXPECT_EQ(form->Edit1->Extra, 7);
  EXPECT_EQ(form->Label1->GetFocusControl(), form->Edit1);
  HWND edit = form->Edit1->Handle();
  EXPECT_TRUE(IsWindowUnicode(edit));
  EXPECT_TRUE(GetWindowLongPtrW(edit, GWL_STYLE) & ES_CENTER);
}

TEST_F(UnicodeControls, TheLabelDrawsAndMeasuresItsWideCaption) {
  auto* label = Add<TUcxLabel>(10);
  label->SetColor(clBlack);
  label->GetFont()->SetColor(clWhite);
  label->SetWideCaption(kWait);
  HDC screen = GetDC(nullptr);
  SIZE extent;
  WideCanvasTextExtent(screen, label->GetFont(), kWait, extent);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(label->GetWidth(), extent.cx);
  EXPECT_EQ(label->GetHeight(), extent.cy);
  Painted(label, [&](HDC dc) {
    EXPECT_GT(ColourBox(dc, label->GetWidth(), label->GetHeight(), RGB(255, 255, 255)).count, 10);
  });

  // Disabled: highlight one pixel right and down, shadow in place.
  label->SetEnabled(false);
  Painted(label, [&](HDC dc) {
    const Box light = ColourBox(dc, label->GetWidth(), label->GetHeight(), ColorToRGB(clBtnHighlight));
    const Box shadow = ColourBox(dc, label->GetWidth(), label->GetHeight(), ColorToRGB(clBtnShadow));
    ASSERT_GT(light.count, 0);
    ASSERT_GT(shadow.count, 0);
    EXPECT_EQ(light.maxX, shadow.maxX + 1);
    EXPECT_EQ(light.maxY, shadow.maxY + 1);
  });

  // An empty caption (or a lone "&" with ShowAccelChar) measures one line.
  for (const WideString& caption : {WideString(), WideString(u"&")}) {
    label->SetWideCaption(caption);
    EXPECT_EQ(label->GetHeight(), extent.cy);
    EXPECT_GT(label->GetWidth(), 0);
  }
}

// Right to left mirrors the alignment: a left-justified caption is drawn at the
// right edge, and a label that takes its parent's mode follows the form.
TEST_F(UnicodeControls, TheLabelDrawsItsCaptionInItsReadingOrder) {
  auto* label = Add<TUcxLabel>(10);
  label->SetAutoSize(false);
  label->SetBounds(10, 10, 200, 24);
  label->SetColor(clBlack);
  label->GetFont()->SetColor(clWhite);
  label->SetWideCaption(u"AB");
  int leftToRight = 0;
  Painted(label, [&](HDC dc) { leftToRight = ColourBox(dc, 200, 24, RGB(255, 255, 255)).maxX; });
  ASSERT_GT(leftToRight, 0);
  EXPECT_LT(leftToRight, 100);

  label->SetBiDiMode(bdRightToLeft);
  EXPECT_FALSE(label->GetParentBiDiMode());
  Painted(label, [&](HDC dc) { EXPECT_GT(ColourBox(dc, 200, 24, RGB(255, 255, 255)).maxX, 190); });

  label->SetParentBiDiMode(true);
  EXPECT_EQ(label->GetBiDiMode(), bdLeftToRight);
  form_->SetBiDiMode(bdRightToLeft);
  EXPECT_EQ(label->GetBiDiMode(), bdRightToLeft);
  Painted(label, [&](HDC dc) { EXPECT_GT(ColourBox(dc, 200, 24, RGB(255, 255, 255)).maxX, 190); });
}

TEST_F(UnicodeControls, TheEditsWindowIsUnicodeAndItsCharactersPassThePackedFrameworkSide) {
  auto* edit = Add<TProbeEdit>(40);
  HWND wnd = edit->Handle();
  ASSERT_TRUE(IsWindowUnicode(wnd));
  EXPECT_EQ(edit->GetWideText(), u"");
  // A child window made without an identifier has its own handle as one.
  EXPECT_EQ(GetWindowLongPtrW(wnd, GWLP_ID), reinterpret_cast<LONG_PTR>(wnd));

  SendMessageW(wnd, WM_CHAR, 0x4E2D, 1);
  ASSERT_EQ(edit->chars.size(), 1u);
  EXPECT_EQ(edit->chars[0] & 0xFFFF, 255u);
  EXPECT_EQ(edit->GetWideText(), u"\u4E2D");
  SendMessageW(wnd, WM_CHAR, 'A', 1);
  ASSERT_EQ(edit->chars.size(), 2u);
  EXPECT_EQ(edit->chars[1], static_cast<WPARAM>('A'));
  // Junk in the high word: the character in the low word counts.
  PostMessageW(wnd, WM_CHAR, static_cast<WPARAM>(0xABCD0042u), 1);
  Application->ProcessMessages();
  EXPECT_EQ(edit->GetWideText(), u"\u4E2DAB");
  ASSERT_EQ(edit->chars.size(), 3u);
  EXPECT_EQ(edit->chars[2], static_cast<WPARAM>('B'));
  // The framework's own text messages get the system's ANSI conversion.
  EXPECT_EQ(edit->GetText(), "?AB");
}

TEST_F(UnicodeControls, SelectionCountsUtf16UnitsAndTheTextSurvivesANewWindow) {
  auto* edit = Add<TProbeEdit>(40);
  WideControlSetText(edit, u"a\U0001D11Eb");
  EXPECT_EQ(edit->GetWideText(), u"a\U0001D11Eb");  // before the window: the holder
  edit->HandleNeeded();
  edit->SetSelStart(1);
  edit->SetSelLength(2);
  EXPECT_EQ(edit->GetSelStart(), 1);
  EXPECT_EQ(edit->GetSelLength(), 2);
  EXPECT_EQ(edit->GetSelText(), u"\U0001D11E");
  edit->SetSelText(u"\u0416");
  EXPECT_EQ(edit->GetWideText(), u"a\u0416b");

  WideControlSetText(edit, kWait);
  HWND before = edit->WindowHandle();
  edit->RecreateWnd();
  edit->HandleNeeded();
  EXPECT_NE(edit->WindowHandle(), before);
  EXPECT_TRUE(IsWindowUnicode(edit->WindowHandle()));
  EXPECT_EQ(edit->GetWideText(), kWait);
  edit->DestroyHandle();
  EXPECT_EQ(edit->GetWideText(), kWait);
  edit->HandleNeeded();
  EXPECT_EQ(edit->GetWideText(), kWait);
}

TEST_F(UnicodeControls, WidePasswordCharacter) {
  auto* edit = Add<TProbeEdit>(40);
  HWND wnd = edit->Handle();
  edit->SetWidePasswordChar(0x25CF);
  EXPECT_EQ(SendMessageW(wnd, EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
  EXPECT_EQ(edit->GetPasswordChar(), '*');
  EXPECT_EQ(edit->GetWidePasswordChar(), 0x25CF);
  edit->SetPasswordChar('#');
  EXPECT_EQ(edit->GetWidePasswordChar(), u'#');
  EXPECT_EQ(SendMessageW(wnd, EM_GETPASSWORDCHAR, 0, 0), '#');
  // A new window takes the wide character again.
  edit->SetWidePasswordChar(0x25CF);
  edit->RecreateWnd();
  EXPECT_EQ(SendMessageW(edit->Handle(), EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
}

TEST_F(UnicodeControls, SettingTheSameWideCaptionTwiceChangesTheTextOnce) {
  auto* label = Add<TProbeLabel>(10);
  auto* edit = Add<TProbeEdit>(40);
  edit->HandleNeeded();
  label->textChanges = edit->textChanges = 0;
  for (int i = 0; i < 2; ++i) {
    WideControlSetText(label, kWait);
    WideControlSetText(edit, kWait);
  }
  EXPECT_EQ(label->textChanges, 1);
  EXPECT_EQ(edit->textChanges, 1);
}

TEST_F(UnicodeControls, ALabelsHolderFollowsAnAnsiChange) {
  auto* label = Add<TUcxLabel>(10);
  EXPECT_EQ(FindWideCaptionHolder(label, false), nullptr);
  label->SetWideCaption(kWait);
  ASSERT_NE(FindWideCaptionHolder(label, false), nullptr);
  EXPECT_EQ(label->GetWideCaption(), kWait);
  EXPECT_EQ(label->GetCaption(), "?????");
  label->SetCaption("Caf\xE9");
  EXPECT_EQ(label->GetWideCaption(), u"Caf\u00E9");
  // The wide hint shadows the ANSI one the same way.
  label->SetWideHint(kWait + u"|long");
  EXPECT_EQ(label->GetWideHint(), kWait + u"|long");
  EXPECT_EQ(label->GetHint(), "?????|long");
}

TEST_F(UnicodeControls, TheLabelsAcceleratorFocusesItsFocusControl) {
  auto* label = Add<TUcxLabel>(10);
  auto* edit = Add<TProbeEdit>(40);
  auto* other = Add<TProbeEdit>(70);
  label->SetFocusControl(edit);
  form_->Show();
  struct {
    WideString caption;
    WPARAM key;
    LRESULT result;
  } const cases[] = {
      {u"&\u0416\u0443\u043A", 0x0436, 1},  // above 255: as it is, case ignored
      {u"&Next", 'n', 1},
      {u"&Next", 'x', 0},
      {u"Fish && Chips", '&', 0},
  };
  for (const auto& c : cases) {
    other->SetFocus();
    ASSERT_TRUE(other->Focused());
    label->SetWideCaption(c.caption);
    EXPECT_EQ(label->Perform(CM_DIALOGCHAR, c.key), c.result);
    EXPECT_EQ(edit->Focused(), c.result == 1);
  }
  edit->Free();  // the label lets go of it
  EXPECT_EQ(label->GetFocusControl(), nullptr);
  EXPECT_EQ(label->Perform(CM_DIALOGCHAR, 'n'), 0);
}

}  // namespace

namespace {

TEST_F(UnicodeControls, AWideHintShowsInAUnicodeHintWindow) {
  auto* label = Add<TUcxLabel>(10);
  auto* edit = Add<TProbeEdit>(60);
  label->SetWideCaption(u"label");
  form_->SetShowHint(true);
  form_->Show();
  Application->HintPause = 1;
  struct {
    TControl* control;
    WideString hint, shown;
  } const cases[] = {
      {label, kWait + u"|long", kWait},
      {edit, u"\u4E2D|x", u"\u4E2D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control->ClassName());
    Application->CancelHint();
    SendMessageA(form_->WindowHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(390, 290));  // off every control
    WideControlSetHint(c.control, c.hint);
    const POINT at = c.control->ClientToScreen(POINT{3, 3});
    SetCursorPos(at.x, at.y);
    if (c.control == label)
      SendMessageA(form_->WindowHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(label->GetLeft() + 3, label->GetTop() + 3));
    else
      SendMessageW(edit->WindowHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    PumpingWaitUntil(5000, [] { return Application->HintWindow() && Application->HintWindow()->GetVisible(); });
    THintWindow* hint = Application->HintWindow();
    ASSERT_NE(hint, nullptr);
    ASSERT_TRUE(hint->GetVisible());
    EXPECT_TRUE(hint->Is<TUcxCustomHintWindow>());
    EXPECT_TRUE(IsWindowUnicode(hint->WindowHandle()));
    wchar_t text[64] = {};
    GetWindowTextW(hint->WindowHandle(), text, 64);
    EXPECT_EQ(WideString(reinterpret_cast<const char16_t*>(text)), c.shown);
    // Only the marks the layer made count; other data is never read.
    THintInfo forged{c.control, POINT{}, "x", POINT{}, 100};
    forged.HintWindowClass = &TUcxCustomHintWindow::StaticClass();
    forged.HintData = &forged;
    EXPECT_FALSE(IsLayerHintMarker(&forged));
    EXPECT_FALSE(IsLayerHintMarker(reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x10))));
    EXPECT_FALSE(IsLayerHintMarker(hint));
  }
  Application->CancelHint();
}

}  // namespace

// The hint window draws its wide text in the colour of the screen's hint
// font, not its own font's.
TEST_F(UnicodeControls, TheHintWindowPaintsInTheHintFontsColour) {
  TOwned<TUcxCustomHintWindow> hint(New<TUcxCustomHintWindow>(nullptr));
  hint->SetBounds(0, 0, 120, 30);
  hint->SetColor(0xFFFFFF);
  hint->GetFont()->SetColor(0xFF0000);  // blue
  const TColor before = Screen->HintFont()->GetColor();
  Screen->HintFont()->SetColor(0x0000FF);  // red
  WideControlSetText(hint.get(), u"\u0416\u0416\u0416\u0416");
  for (TBiDiMode mode : {bdLeftToRight, bdRightToLeft}) {
    hint->SetBiDiMode(mode);
    Painted(hint.get(), [&](HDC dc) {
      int reddish = 0, bluish = 0;  // smoothed text edges count too
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x) {
          const COLORREF c = GetPixel(dc, x, y);
          if (GetRValue(c) > GetBValue(c) + 60) ++reddish;
          if (GetBValue(c) > GetRValue(c) + 60) ++bluish;
        }
      EXPECT_GT(reddish, 0) << mode;
      EXPECT_EQ(bluish, 0) << mode;
    });
  }
  Screen->HintFont()->SetColor(before);
}

// Right to left the hint reads right to left: the trailing neutral marks of a
// Latin text go to its left, as DrawTextW puts them with the reading-order flag.
TEST_F(UnicodeControls, TheHintWindowDrawsInItsReadingOrder) {
  TOwned<TUcxCustomHintWindow> hint(New<TUcxCustomHintWindow>(nullptr));
  constexpr int kW = 160, kH = 30;
  hint->SetBounds(0, 0, kW, kH);
  hint->SetColor(clWhite);
  const TColor before = Screen->HintFont()->GetColor();
  Screen->HintFont()->SetColor(clBlack);
  const WideString text = u"ab!!!!";
  WideControlSetText(hint.get(), text);
  // What the system draws for the text in the hint's font, flags and place.
  auto reference = [&](UINT flags) {
    std::vector<COLORREF> pixels;
    Painted(hint.get(), [&](HDC dc) {
      RECT r{0, 0, kW, kH};
      FillRectColor(dc, r, clWhite);
      r.left += 2;
      r.top += 2;
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 0));
      HGDIOBJ old = SelectObject(dc, hint->GetFont()->Handle());
      DrawTextW(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()), &r,
                DT_NOPREFIX | DT_WORDBREAK | flags);
      SelectObject(dc, old);
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) pixels.push_back(GetPixel(dc, x, y));
    });
    return pixels;
  };
  const std::vector<COLORREF> leftToRight = reference(0), rightToLeft = reference(DT_RTLREADING);
  ASSERT_NE(leftToRight, rightToLeft);  // the system does reorder the marks
  for (TBiDiMode mode : {bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly}) {
    hint->SetBiDiMode(mode);
    std::vector<COLORREF> painted;
    Painted(hint.get(), [&](HDC dc) {
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) painted.push_back(GetPixel(dc, x, y));
    });
    const std::vector<COLORREF>& expected = mode == bdLeftToRight ? leftToRight : rightToLeft;
    ASSERT_EQ(painted.size(), expected.size());
    int differing = 0;
    for (std::size_t i = 0; i < painted.size(); ++i) differing += painted[i] != expected[i];
    EXPECT_EQ(differing, 0) << mode;
  }
  Screen->HintFont()->SetColor(before);
}

// A window that goes without the framework asking (DestroyWindow from outside)
// leaves its text with the control: the ANSI form as the control's text, the
// wide text for the next window.
TEST_F(UnicodeControls, AWindowDestroyedFromOutsideLeavesItsTextWithTheControl) {
  auto* edit = Add<TProbeEdit>(40);
  HWND wnd = edit->Handle();
  ASSERT_TRUE(IsWindowUnicode(wnd));
  SetWindowTextW(wnd, L"\u0416ab");  // as typed by the user
  DestroyWindow(wnd);
  ASSERT_FALSE(edit->HandleAllocated());
  EXPECT_EQ(edit->GetText(), "?ab");
  EXPECT_EQ(edit->GetWideText(), u"\u0416ab");
  edit->HandleNeeded();
  ASSERT_TRUE(IsWindowUnicode(edit->WindowHandle()));
  EXPECT_EQ(edit->GetWideText(), u"\u0416ab");
}

namespace {

// The 9x line: the framework's ANSI window, the wide values converted at the boundary.
TEST_F(UnicodeControls, OnThe9xLineTheEditAndLabelFallBackToAnsi) {
  IsUnicodePlatform = false;
  auto* edit = Add<TProbeEdit>(40);
  auto* label = Add<TUcxLabel>(10);
  HWND wnd = edit->Handle();
  EXPECT_FALSE(IsWindowUnicode(wnd));
  WideControlSetText(edit, u"Caf\u00E9 \u0416");
  EXPECT_EQ(edit->GetText(), "Caf\xE9 ?");
  EXPECT_EQ(edit->GetWideText(), u"Caf\u00E9 ?");
  edit->SetSelStart(2);
  edit->SetSelLength(3);
  EXPECT_EQ(edit->GetSelStart(), 2);
  EXPECT_EQ(edit->GetSelLength(), 3);
  EXPECT_EQ(edit->GetSelText(), u"f\u00E9 ");
  edit->SetWidePasswordChar(0x25CF);
  EXPECT_EQ(SendMessageA(wnd, EM_GETPASSWORDCHAR, 0, 0), '*');

  label->SetWideCaption(kWait);
  EXPECT_EQ(label->GetCaption(), "?????");
  EXPECT_EQ(FindWideCaptionHolder(label, false), nullptr);
  RECT r{0, 0, 100, 20};
  HDC dc = GetDC(nullptr);
  EXPECT_FALSE(label->DrawWideText(dc, r, DT_CALCRECT, kWait));
  ReleaseDC(nullptr, dc);
  IsUnicodePlatform = true;
}

}  // namespace
