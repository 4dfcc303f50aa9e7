// A form created from its RCDATA form resource (made by formc at build time).
#include <gtest/gtest.h>

#include "ExtCtrls.h"
#include "Forms.h"
#include "ObjectConvert.h"
#include "StdCtrls.h"

namespace {

class TTestForm : public TForm {
  FW_CLASS(TTestForm, TForm)
 public:
  explicit TTestForm(TComponent* owner) : TForm(owner) {}
  TNotebook* NB = nullptr;
  TRadioGroup* rgType = nullptr;
  TPanel* PanelModel = nullptr;
  TLabel* LabelHelp = nullptr;
  TButton* NextButton = nullptr;
  TTimer* Timer = nullptr;

  int created = 0, pageChanges = 0, typeClicks = 0, nextClicks = 0, labelClicks = 0;
  int typeSeen = -2;
  bool throwInNext = false;

  void FormCreate(TObject*) { ++created; }
  void NBPageChanged(TObject*) { ++pageChanges; }
  void rgTypeClick(TObject*) {
    ++typeClicks;
    typeSeen = rgType->GetItemIndex();
  }
  void NextButtonClick(TObject*) {
    ++nextClicks;
    if (throwInNext) throw EConvertError("next failed");
    NB->SetPageIndex(NB->GetPageIndex() + 1);
  }
  void LabelHelpClick(TObject*) { ++labelClicks; }
  int moves = 0, lastX = -1;
  void HelpLabelMouseMove(TObject*, TShiftState, int x, int) {
    ++moves;
    lastX = x;
  }
  void TimerTimer(TObject*) {}
};

FW_BEGIN_CLASS(TTestForm)
  FW_FIELD(NB)
  FW_FIELD(rgType)
  FW_FIELD(PanelModel)
  FW_FIELD(LabelHelp)
  FW_FIELD(NextButton)
  FW_FIELD(Timer)
  FW_METHOD(FormCreate)
  FW_METHOD(NBPageChanged)
  FW_METHOD(rgTypeClick)
  FW_METHOD(NextButtonClick)
  FW_METHOD(LabelHelpClick)
  FW_METHOD(HelpLabelMouseMove)
  FW_METHOD(TimerTimer)
FW_END_CLASS

struct ErrorSink {
  int count = 0;
  std::string last;
  void OnException(TObject*, const Exception& e) {
    ++count;
    last = e.Message;
  }
};

TEST(FormStreamTest, FormIsReadFromItsResourceWithFieldsAndHandlersBound) {
  InitForms();
  ErrorSink errors;
  Application->OnException = TExceptionEvent::Bind<&ErrorSink::OnException>(&errors);
  auto* form = New<TTestForm>(Application);
  EXPECT_EQ(form->created, 1);  // OnCreate came from the resource
  ASSERT_NE(form->NB, nullptr);
  ASSERT_NE(form->rgType, nullptr);
  ASSERT_NE(form->PanelModel, nullptr);
  ASSERT_NE(form->LabelHelp, nullptr);
  ASSERT_NE(form->NextButton, nullptr);
  ASSERT_NE(form->Timer, nullptr);
  EXPECT_EQ(form->GetHelpContext(), 100);
  EXPECT_EQ(form->NB->PageCount(), 2);
  EXPECT_EQ(form->NB->Pages(0)->Owner(), form->NB);
  EXPECT_EQ(form->NB->GetActivePage(), "Type");
  EXPECT_EQ(form->rgType->GetItems()->Count(), 3);
  EXPECT_EQ(form->rgType->GetItemIndex(), -1);
  EXPECT_FALSE(form->Timer->GetEnabled());
  EXPECT_EQ(form->Timer->GetInterval(), 90000u);
  EXPECT_EQ(form->PanelModel->GetBevelOuter(), bvLowered);
  // Fonts: the form's reaches the children that keep ParentFont; the link label has its own.
  EXPECT_EQ(form->GetFont()->GetName(), "Arial");
  EXPECT_TRUE(form->NextButton->GetParentFont());
  EXPECT_EQ(form->NextButton->GetFont()->GetName(), "Arial");
  EXPECT_EQ(form->NextButton->GetFont()->GetHeight(), -12);
  EXPECT_FALSE(form->LabelHelp->GetParentFont());
  EXPECT_EQ(form->LabelHelp->GetFont()->GetColor(), clBlue);
  EXPECT_EQ(form->LabelHelp->GetCursor(), crHandPoint);
  EXPECT_TRUE(form->LabelHelp->GetFont()->GetStyle().Contains(fsUnderline));

  form->Show();
  char text[64] = {};
  GetWindowTextA(form->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "Test form");
  GetWindowTextA(form->NextButton->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "Next >");
  ASSERT_EQ(form->rgType->ButtonCount(), 3);
  GetWindowTextA(form->rgType->Buttons(1)->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "Infrared");

  // The radio group's selection reaches its handler.
  SendMessageA(form->rgType->Buttons(2)->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->typeClicks, 1);
  EXPECT_EQ(form->typeSeen, 2);
  EXPECT_TRUE(form->rgType->Buttons(2)->GetChecked());
  EXPECT_FALSE(form->rgType->Buttons(0)->GetChecked());

  // A click on Next changes the page: OnPageChanged fires and the page shows.
  SendMessageA(form->NextButton->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->nextClicks, 1);
  EXPECT_EQ(form->pageChanges, 1);
  EXPECT_EQ(form->NB->GetPageIndex(), 1);
  EXPECT_TRUE(IsWindowVisible(form->NB->Pages(1)->WindowHandle()));
  EXPECT_FALSE(IsWindowVisible(form->NB->Pages(0)->WindowHandle()));

  // A label has no window; a click on it reaches its handler through the parent's window.
  HWND page = form->LabelHelp->Parent()->WindowHandle();
  const LPARAM at = MAKELPARAM(form->LabelHelp->GetLeft() + 2, form->LabelHelp->GetTop() + 2);
  SendMessageA(page, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(page, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(form->labelClicks, 1);
  SendMessageA(page, WM_MOUSEMOVE, 0, MAKELPARAM(form->LabelHelp->GetLeft() + 5, form->LabelHelp->GetTop() + 2));
  EXPECT_EQ(form->moves, 1);
  EXPECT_EQ(form->lastX, 5);                                             // in the label's own coordinates
  SendMessageA(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 180));  // beside the label
  SendMessageA(page, WM_LBUTTONUP, 0, MAKELPARAM(300, 180));
  EXPECT_EQ(form->labelClicks, 1);

  // An exception in a click handler is handled and the form keeps working.
  form->throwInNext = true;
  SendMessageA(form->NextButton->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(errors.count, 1);
  EXPECT_EQ(errors.last, "next failed");
  form->throwInNext = false;
  form->NB->SetPageIndex(0);
  SendMessageA(form->NextButton->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->NB->GetPageIndex(), 1);
  EXPECT_EQ(form->nextClicks, 3);

  form->Free();
  Application->OnException = nullptr;
}

class TMissingForm : public TForm {
  FW_CLASS(TMissingForm, TForm)
 public:
  explicit TMissingForm(TComponent* owner) : TForm(owner) {}
};
FW_IMPLEMENT_CLASS(TMissingForm)

TEST(FormStreamTest, AFormClassWithoutResourceRaises) {
  InitForms();
  const int before = Screen->FormCount();
  try {
    New<TMissingForm>(Application);
    FAIL() << "no exception";
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message, "Resource TMissingForm not found");
  }
  EXPECT_EQ(Screen->FormCount(), before);
  TOwned<TMissingForm> f(TCustomForm::CreateNew<TMissingForm>(Application));
}

}  // namespace

namespace {

class TTestFrame : public TCustomFrame {
  FW_CLASS(TTestFrame, TCustomFrame)
 public:
  explicit TTestFrame(TComponent* owner) : TCustomFrame(owner) {}
  TLabel* Label1 = nullptr;
};

}  // namespace

FW_BEGIN_CLASS(TTestFrame)
  FW_FIELD(Label1)
FW_END_CLASS

TEST(FormStreamTest, AnInlineFrameOwnsTheComponentsInsideIt) {
  InitForms();
  RegisterClasses({&TTestFrame::StaticClass()});
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(nullptr));
  const std::string data = ObjectTextToBinary(
      "object Host: TForm\r\n"
      "  inline Frame1: TTestFrame\r\n"
      "    Left = 4\r\n"
      "    object Label1: TLabel\r\n"
      "      Caption = 'In the frame'\r\n"
      "    end\r\n"
      "  end\r\n"
      "end\r\n");
  ReadComponentData(data.data(), data.size(), form.get());
  auto* frame = dynamic_cast<TTestFrame*>(form->FindComponent("Frame1"));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Parent(), form.get());
  EXPECT_EQ(frame->GetLeft(), 4);
  ASSERT_NE(frame->Label1, nullptr);
  EXPECT_EQ(frame->Label1->Owner(), frame);
  EXPECT_EQ(frame->Label1->Parent(), frame);
  EXPECT_EQ(frame->Label1->GetCaption(), "In the frame");
  EXPECT_EQ(form->FindComponent("Label1"), nullptr);
  UnRegisterClass(TTestFrame::StaticClass());
}

TEST(FormStreamTest, GenericControlPropertiesAreReadAndKept) {
  InitForms();
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(nullptr));
  const std::string data = ObjectTextToBinary(
      "object Host: TForm\r\n"
      "  object Panel1: TPanel\r\n"
      "    Anchors = [akLeft, akTop, akRight]\r\n"
      "    BevelOuter = bvNone\r\n"
      "    BorderWidth = 3\r\n"
      "    Constraints.MinWidth = 20\r\n"
      "    Constraints.MaxHeight = 300\r\n"
      "    Ctl3D = False\r\n"
      "    DragCursor = crHandPoint\r\n"
      "    DragKind = dkDock\r\n"
      "    DragMode = dmAutomatic\r\n"
      "  end\r\n"
      "end\r\n");
  ReadComponentData(data.data(), data.size(), form.get());
  auto* panel = dynamic_cast<TPanel*>(form->FindComponent("Panel1"));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->GetAnchors(), (TAnchors{akLeft, akTop, akRight}));
  EXPECT_EQ(panel->GetBevelOuter(), bvNone);  // the panel's own bevel
  EXPECT_EQ(panel->GetBorderWidth(), 3);
  EXPECT_EQ(panel->GetConstraints()->MinWidth, 20);
  EXPECT_EQ(panel->GetConstraints()->MaxHeight, 300);
  EXPECT_FALSE(panel->GetCtl3D());
  EXPECT_FALSE(panel->GetParentCtl3D());
  EXPECT_EQ(panel->GetDragCursor(), crHandPoint);
  EXPECT_EQ(panel->GetDragKind(), dkDock);
  EXPECT_EQ(panel->GetDragMode(), dmAutomatic);
  // The defaults of a new control, and copying the limits.
  TOwned<TPanel> fresh(New<TPanel>(nullptr));
  EXPECT_EQ(fresh->GetAnchors(), (TAnchors{akLeft, akTop}));
  EXPECT_TRUE(fresh->GetCtl3D());
  EXPECT_EQ(fresh->GetDragCursor(), crDrag);
  EXPECT_EQ(fresh->GetDragMode(), dmManual);
  fresh->SetConstraints(panel->GetConstraints());
  EXPECT_EQ(fresh->GetConstraints()->MinWidth, 20);
}
