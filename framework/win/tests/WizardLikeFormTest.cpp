// A form with the wizard's framework controls and property values (colour,
// cursor and character-set identifiers, aligned and auto-sized labels, a
// dialog frame around a given client size) loads from its RCDATA and shows.
#include <gtest/gtest.h>

#include "ExtCtrls.h"
#include "FormFromText.h"
#include "Forms.h"
#include "ImgList.h"
#include "ObjectConvert.h"
#include "StdCtrls.h"

namespace {

class TWizardLike : public TForm {
  FW_CLASS(TWizardLike, TForm)
 public:
  explicit TWizardLike(TComponent* owner) : TForm(owner) {}
  TImage* ImageMain = nullptr;
  TLabel* QvLabel1 = nullptr;
  TNotebook* NB = nullptr;
  TNotebook* NBConnect = nullptr;
  TLabel* lbIrDAConnect = nullptr;
  TLabel* LabelHelp = nullptr;
  TRadioGroup* rgCableType = nullptr;
  TGroupBox* gbPhoneInfo = nullptr;
  TPanel* PanelModel = nullptr;
  TPanel* WaitPanel = nullptr;
  TImage* AnimatedImage = nullptr;
  TButton* NextButton = nullptr;
  TButton* CancelButton = nullptr;
  TImageList* ImageList = nullptr;
  TTimer* Timer = nullptr;

  int created = 0, shown = 0, pageChanges = 0, closes = 0, destroyed = 0, nextClicks = 0, moves = 0;
  int* destroyedOut = nullptr;
  void FormCreate(TObject*) { ++created; }
  void FormShow(TObject*) { ++shown; }
  void FormClose(TObject*, TCloseAction& action) {
    ++closes;
    action = caFree;
  }
  void FormCloseQuery(TObject*, bool& canClose) { canClose = true; }
  void FormDestroy(TObject*) {
    if (destroyedOut) ++*destroyedOut;
  }
  void NBPageChanged(TObject*) { ++pageChanges; }
  void rgCableTypeClick(TObject*) {}
  void LabelHelpClick(TObject*) {}
  void HelpLabelMouseMove(TObject* sender, TShiftState, int, int) {
    ++moves;
    static_cast<TControl*>(sender)->SetCursor(crHandPoint);
  }
  void BackButtonClick(TObject*) { NB->SetPageIndex(NB->GetPageIndex() - 1); }
  void NextButtonClick(TObject*) {
    ++nextClicks;
    NB->SetPageIndex(NB->GetPageIndex() + 1);
  }
  void CancelButtonClick(TObject*) { Close(); }
  void TimerTimer(TObject*) {}
};

}  // namespace

FW_BEGIN_CLASS(TWizardLike)
  FW_FIELD(ImageMain)
  FW_FIELD(QvLabel1)
  FW_FIELD(NB)
  FW_FIELD(NBConnect)
  FW_FIELD(lbIrDAConnect)
  FW_FIELD(LabelHelp)
  FW_FIELD(rgCableType)
  FW_FIELD(gbPhoneInfo)
  FW_FIELD(PanelModel)
  FW_FIELD(WaitPanel)
  FW_FIELD(AnimatedImage)
  FW_FIELD(NextButton)
  FW_FIELD(CancelButton)
  FW_FIELD(ImageList)
  FW_FIELD(Timer)
  FW_METHOD(FormCreate)
  FW_METHOD(FormShow)
  FW_METHOD(FormClose)
  FW_METHOD(FormCloseQuery)
  FW_METHOD(FormDestroy)
  FW_METHOD(NBPageChanged)
  FW_METHOD(rgCableTypeClick)
  FW_METHOD(LabelHelpClick)
  FW_METHOD(HelpLabelMouseMove)
  FW_METHOD(BackButtonClick)
  FW_METHOD(NextButtonClick)
  FW_METHOD(CancelButtonClick)
  FW_METHOD(TimerTimer)
FW_END_CLASS

namespace {

SIZE TextSize(TFont* font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font->Handle());
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return SIZE{r.right, r.bottom};
}

TEST(WizardLikeFormTest, LoadsWithNamedValuesAndShowsLaidOut) {
  InitForms();
  auto* form = New<TWizardLike>(Application);
  int destroyed = 0;
  form->destroyedOut = &destroyed;
  ASSERT_EQ(form->created, 1);
  ASSERT_TRUE(form->NB && form->NBConnect && form->lbIrDAConnect && form->LabelHelp && form->WaitPanel &&
              form->AnimatedImage && form->ImageList && form->Timer && form->QvLabel1 && form->gbPhoneInfo);

  // Identifiers of colours, cursors and character sets became their values.
  EXPECT_EQ(form->GetColor(), clBtnFace);
  EXPECT_EQ(form->GetFont()->GetColor(), clWindowText);
  EXPECT_EQ(form->GetFont()->GetCharset(), DEFAULT_CHARSET);
  EXPECT_EQ(form->QvLabel1->GetFont()->GetColor(), clBlue);
  EXPECT_EQ(form->QvLabel1->GetFont()->GetHeight(), -19);
  EXPECT_EQ(form->LabelHelp->GetCursor(), crHandPoint);
  EXPECT_EQ(form->ImageList->GetBkColor(), clNone);
  EXPECT_EQ(form->ImageList->GetWidth(), 48);
  EXPECT_EQ(form->ImageList->DesignLeft, 16);
  EXPECT_EQ(form->GetBorderStyle(), bsDialog);
  EXPECT_EQ(form->GetPosition(), poScreenCenter);
  EXPECT_FALSE(form->Timer->GetEnabled());
  EXPECT_EQ(form->Timer->GetInterval(), 90000u);
  EXPECT_FALSE(form->WaitPanel->GetVisible());
  EXPECT_EQ(form->rgCableType->GetHelpContext(), 300);
  ASSERT_EQ(form->rgCableType->GetItems()->Count(), 2);
  EXPECT_EQ(form->rgCableType->GetItems()->Strings(1), "DKU-5/CA-42");
  EXPECT_EQ(form->NB->PageCount(), 3);
  EXPECT_EQ(form->NBConnect->PageCount(), 2);

  // Alignment: the connect texts fill their pages; the animation docks left in the wait panel.
  for (int i = 0; i < form->NBConnect->PageCount(); ++i) {
    TPage* page = form->NBConnect->Pages(i);
    ASSERT_EQ(page->ControlCount(), 1);
    TControl* text = page->Controls(0);
    EXPECT_EQ(text->GetAlign(), alClient);
    EXPECT_EQ(text->GetLeft(), 0);
    EXPECT_EQ(text->GetTop(), 0);
    EXPECT_EQ(text->GetWidth(), page->ClientWidth());
    EXPECT_EQ(text->GetHeight(), page->ClientHeight());
  }
  EXPECT_EQ(form->AnimatedImage->GetAlign(), alLeft);
  EXPECT_EQ(form->AnimatedImage->GetLeft(), 0);
  EXPECT_EQ(form->AnimatedImage->GetWidth(), 32);
  EXPECT_EQ(form->AnimatedImage->GetHeight(), form->WaitPanel->ClientHeight());

  // An auto-sized label fits its caption; a fixed one keeps its bounds.
  const SIZE help = TextSize(form->LabelHelp->GetFont(), form->LabelHelp->GetCaption());
  EXPECT_EQ(form->LabelHelp->GetWidth(), help.cx);
  EXPECT_EQ(form->LabelHelp->GetHeight(), help.cy);
  EXPECT_EQ(form->QvLabel1->GetWidth(), 371);
  EXPECT_EQ(form->QvLabel1->GetHeight(), 24);

  form->Show();
  EXPECT_EQ(form->shown, 1);
  ASSERT_TRUE(IsWindowVisible(form->WindowHandle()));
  RECT client;
  GetClientRect(form->WindowHandle(), &client);
  EXPECT_EQ(client.right, 595) << "ClientWidth holds for the dialog frame";
  EXPECT_EQ(client.bottom, 379);
  EXPECT_EQ(form->ClientWidth(), 595);
  const LONG style = GetWindowLongA(form->WindowHandle(), GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
  char text[64] = {};
  GetWindowTextA(form->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "Pellory");
  GetWindowTextA(form->NextButton->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "Next >");

  // Walk the pages with Next; the aligned texts still fill theirs after the walk.
  for (int i = 0; i < 2; ++i) SendMessageA(form->NextButton->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->NB->GetPageIndex(), 2);
  EXPECT_EQ(form->pageChanges, 2);
  EXPECT_EQ(form->lbIrDAConnect->GetWidth(), 371);

  // The cursor of a link label shows over it.
  HWND page = form->LabelHelp->Parent()->WindowHandle();
  form->NB->SetPageIndex(1);
  SendMessageA(page, WM_MOUSEMOVE, 0, MAKELPARAM(form->LabelHelp->GetLeft() + 3, form->LabelHelp->GetTop() + 3));
  EXPECT_EQ(form->moves, 1);

  // Cancel closes; OnClose frees the form.
  SendMessageA(form->CancelButton->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->closes, 1);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) Application->DispatchOne(msg);
  EXPECT_EQ(destroyed, 1);
}

}  // namespace

namespace {

TEST(WizardLikeFormTest, FormFileSettingsLoad) {
  InitForms();
  TOwned<TForm> form(
      ReadFormText("object F: TForm\r\n"
                   "  BorderIcons = [biSystemMenu, biHelp]\r\n"
                   "  BorderStyle = bsSingle\r\n"
                   "  ClientHeight = 100\r\n"
                   "  ClientWidth = 200\r\n"
                   "  Color = clWindow\r\n"
                   "  Font.Charset = RUSSIAN_CHARSET\r\n"
                   "  KeyPreview = True\r\n"
                   "  OldCreateOrder = False\r\n"
                   "  Scaled = False\r\n"
                   "  ShowHint = True\r\n"
                   "  WindowState = wsNormal\r\n"
                   "  PixelsPerInch = 120\r\n"
                   "  TextHeight = 16\r\n"
                   "  object L: TLabel\r\n"
                   "    Cursor = crHelp\r\n"
                   "    Hint = 'a hint'\r\n"
                   "    Layout = tlCenter\r\n"
                   "    ParentColor = False\r\n"
                   "    Color = clInfoBk\r\n"
                   "    Transparent = True\r\n"
                   "    OnMouseEnter = nil\r\n"
                   "  end\r\n"
                   "end\r\n"));
  EXPECT_TRUE(form->GetBorderIcons() == (TBorderIcons{biSystemMenu, biHelp}));
  EXPECT_EQ(form->GetColor(), clWindow);
  EXPECT_EQ(form->GetFont()->GetCharset(), RUSSIAN_CHARSET);
  EXPECT_TRUE(form->KeyPreview);
  EXPECT_FALSE(form->Scaled);
  EXPECT_TRUE(form->GetShowHint());
  EXPECT_EQ(form->GetPixelsPerInch(), 120);
  EXPECT_EQ(form->TextHeight, 16);
  ASSERT_EQ(form->ControlCount(), 1);
  auto* label = static_cast<TLabel*>(form->Controls(0));
  EXPECT_EQ(label->GetCursor(), crHelp);
  EXPECT_TRUE(label->GetShowHint()) << "from the form";
  EXPECT_EQ(label->GetLayout(), tlCenter);
  EXPECT_EQ(label->GetColor(), clInfoBk);
  EXPECT_TRUE(label->GetTransparent());
  form->Show();
  RECT client;
  GetClientRect(form->WindowHandle(), &client);
  EXPECT_EQ(client.right, 200);
  EXPECT_EQ(client.bottom, 100);
  const LONG style = GetWindowLongA(form->WindowHandle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_TRUE(GetWindowLongA(form->WindowHandle(), GWL_EXSTYLE) & WS_EX_CONTEXTHELP);
  form.reset();

  // A colour or cursor name the maps do not know is an error naming the property.
  try {
    ReadFormText("object F: TForm\r\n  Color = clChartreuse\r\nend\r\n")->Free();
    ADD_FAILURE() << "no error";
  } catch (const EReadError& e) {
    EXPECT_NE(e.Message.find("F.Color"), std::string::npos) << e.Message;
  }
}

}  // namespace
