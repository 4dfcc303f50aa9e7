// Unicode forms, the application companion and its message hook on real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../RecordingWidePlatform.h"
#include "Filer.h"
#include "Forms.h"
#include "Menus.h"
#include "ObjectConvert.h"
#include "Streams.h"
#include "Swallow.h"
#include "UcxForms.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "Win32WidePlatform.h"

namespace {

const WideString kTitle = u"\u041F\u043E\u0438\u0441\u043A";  // "Поиск"
const WideString kFile = u"\u0424\u0430\u0439\u043B";         // "Файл"

class TWideEdit : public TUcxCustomEdit {
  FW_CLASS(TWideEdit, TUcxCustomEdit)
 public:
  explicit TWideEdit(TComponent* owner) : TUcxCustomEdit(owner) {}
};

// Shows hint actions as a status line does, and records the wide ones.
class TStatusProbe : public TGraphicControl {
  FW_CLASS(TStatusProbe, TGraphicControl)
 public:
  using TGraphicControl::TGraphicControl;
  std::vector<WideString> wide;
  std::vector<std::string> plain;
  bool ExecuteAction(TBasicAction* action) override {
    if (auto* w = dynamic_cast<TUcxHintAction*>(action)) {
      wide.push_back(w->GetWideHint());
      return true;
    }
    if (auto* h = dynamic_cast<THintAction*>(action)) {
      plain.push_back(h->GetHint());
      return true;
    }
    return inherited::ExecuteAction(action);
  }
};

class TMenuForm : public TUcxForm {
  FW_CLASS(TMenuForm, TUcxForm)
 public:
  explicit TMenuForm(TComponent* owner) : TUcxForm(owner) {}
  TMainMenu* MainMenu1 = nullptr;
  TUcxMenuItem* File1 = nullptr;
  TActionList* ActionList1 = nullptr;
  TUcxAction* Open1 = nullptr;
};

struct Recorder {
  std::vector<UINT> messages;  // what OnMessage saw for the watched window
  HWND watched = nullptr;
  int hints = 0;
  void OnMessage(MSG& msg, bool&) {
    if (msg.hwnd == watched && (msg.message == WM_CHAR || msg.message == WM_NULL)) messages.push_back(msg.message);
  }
  void OnHint(TObject*) { ++hints; }
};

}  // namespace

FW_IMPLEMENT_CLASS(TWideEdit)
FW_IMPLEMENT_CLASS(TStatusProbe)
FW_BEGIN_CLASS(TMenuForm)
  FW_FIELD(MainMenu1)
  FW_FIELD(File1)
  FW_FIELD(ActionList1)
  FW_FIELD(Open1)
FW_END_CLASS

namespace {

class UcxForms : public ::testing::Test {
 protected:
  Win32WidePlatform platform_;
  WidePlatformScope scope_{&platform_, true, true};
  TForm* form = nullptr;
  Recorder rec;

  void SetUp() override {
    InitUcxSysUtils();
    InitUcxSystem();
    ASSERT_TRUE(IsUnicodePlatform);
    InitForms();
    InitUcxActnList();
    InitUcxMenus();
    InitUcxForms();
    RegisterClasses({&TMenuForm::StaticClass(), &TActionList::StaticClass(), &TMainMenu::StaticClass()});
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBounds(0, 0, 400, 300);
    Application->OnMessage = TMessageEvent::Bind<&Recorder::OnMessage>(&rec);
  }
  void TearDown() override {
    Application->OnMessage = nullptr;
    Application->OnHint = nullptr;
    Application->SetMainForm(nullptr);
    if (form) form->Free();
    DoneUcxForms();
    DoneUcxMenus();
    DoneUcxSystem();
  }
  static void Pump() {
    for (int i = 0; i < 5; ++i) Application->ProcessMessages();
  }
};

TEST_F(UcxForms, WideCharactersReachUnicodeWindowsPastTheFrameworkLoop) {
  auto* edit = New<TWideEdit>(form);
  edit->SetParent(form);
  edit->SetBounds(10, 10, 200, 24);
  auto* plain = New<TEdit>(form);
  plain->SetParent(form);
  plain->SetBounds(10, 40, 200, 24);
  form->Show();
  HWND wnd = edit->Handle();
  ASSERT_TRUE(IsWindowUnicode(wnd));
  rec.watched = wnd;
  PostMessageW(wnd, WM_CHAR, 0x416, 1);
  Pump();
  EXPECT_EQ(edit->GetWideText(), u"\u0416");
  // The hook hands the character to OnMessage itself; the framework's loop then sees WM_NULL in its place.
  EXPECT_EQ(rec.messages, (std::vector<UINT>{WM_CHAR, WM_NULL}));

  rec.messages.clear();
  PostMessageW(wnd, WM_CHAR, 'a', 1);
  Pump();
  EXPECT_EQ(edit->GetWideText(), u"\u0416a");
  EXPECT_EQ(rec.messages, (std::vector<UINT>{WM_CHAR})) << "a character below 256 is the framework's";

  rec.messages.clear();
  rec.watched = plain->Handle();
  ASSERT_FALSE(IsWindowUnicode(plain->Handle()));
  PostMessageW(plain->Handle(), WM_CHAR, 0x416, 1);
  Pump();
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0], static_cast<UINT>(WM_CHAR)) << "an ANSI window's character is the framework's";
}

TEST_F(UcxForms, TheIdleControlIsMadeOnceOnAPlainMainFormOnly) {
  Application->SetMainForm(form);
  form->Show();
  PostMessageW(form->Handle(), WM_NULL, 0, 0);
  Pump();
  ASSERT_NE(UcxApplication->IdleControl(), nullptr);
  EXPECT_EQ(UcxApplication->IdleControl()->Parent(), form);
  TUcxAppIdleEventControl* idle = UcxApplication->IdleControl();
  PostMessageW(form->Handle(), WM_NULL, 0, 0);
  Pump();
  EXPECT_EQ(UcxApplication->IdleControl(), idle);
  int count = 0;
  for (int i = 0; i < form->ControlCount(); ++i)
    count += dynamic_cast<TUcxAppIdleEventControl*>(form->Controls(i)) != nullptr;
  EXPECT_EQ(count, 1);

  // Idle-time updates reach the companion through the control's action.
  auto* label = New<TUcxLabel>(form);
  label->SetParent(form);
  label->SetWideHint(u"short|" + kTitle);
  SetMouseControl(label);
  Application->UpdateFormActions();
  EXPECT_EQ(UcxApplication->GetHint(), kTitle);
  SetMouseControl(nullptr);

  // A fresh companion with a Unicode main form makes none.
  Application->SetMainForm(nullptr);
  form->Free();
  form = nullptr;
  DoneUcxForms();
  InitUcxForms();
  auto* wide = TCustomForm::CreateNew<TUcxForm>(Application);
  Application->SetMainForm(wide);
  wide->Show();
  PostMessageW(wide->Handle(), WM_NULL, 0, 0);
  Pump();
  EXPECT_TRUE(UcxApplication->MainFormInspected());
  EXPECT_EQ(UcxApplication->IdleControl(), nullptr);
  Application->SetMainForm(nullptr);
  wide->Free();
}

TEST_F(UcxForms, AUnicodeFormCarriesItsWideCaption) {
  auto* wide = TCustomForm::CreateNew<TUcxForm>(Application);
  wide->SetWideCaption(kTitle);
  HWND wnd = wide->Handle();
  EXPECT_TRUE(IsWindowUnicode(wnd));
  wchar_t buf[64] = {};
  GetWindowTextW(wnd, buf, 64);
  EXPECT_EQ(WideString(reinterpret_cast<const char16_t*>(buf)), kTitle);
  EXPECT_EQ(wide->GetWideCaption(), kTitle);
  wide->SetWideCaption(kFile);
  GetWindowTextW(wnd, buf, 64);
  EXPECT_EQ(WideString(reinterpret_cast<const char16_t*>(buf)), kFile);
  wide->Free();

  // The application window is an ANSI window: its wide text is its own text (DefWindowProcW).
  UcxApplication->SetTitle(kTitle);
  EXPECT_EQ(UcxApplication->GetTitle(), kTitle);
  DefWindowProcW(Application->Handle(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buf));
  EXPECT_EQ(WideString(reinterpret_cast<const char16_t*>(buf)), kTitle);
  EXPECT_EQ(Application->Title(), "?????");
}

TEST_F(UcxForms, TheWideHintFiresTheHintEventOnlyOnRealChanges) {
  Application->OnHint = TNotifyEvent::Bind<&Recorder::OnHint>(&rec);
  UcxApplication->SetHint(u"Caf\u00E9");
  UcxApplication->SetHint(u"Caf\u00E9");
  EXPECT_EQ(rec.hints, 1);
  // "????" both: the ANSI hint is set empty and then to its form again.
  UcxApplication->SetHint(u"\u0416\u0416\u0416\u0416");
  rec.hints = 0;
  UcxApplication->SetHint(kFile);
  EXPECT_EQ(rec.hints, 2);
  EXPECT_EQ(Application->GetHint(), "????");
  EXPECT_EQ(UcxApplication->GetHint(), kFile);
}

TEST_F(UcxForms, ThePlainHintActionIsReplacedByTheWideOne) {
  auto* status = New<TStatusProbe>(form);
  status->SetParent(form);
  Application->SetMainForm(form);
  form->Show();
  UcxApplication->SetHint(kFile + u" \u00E9");
  EXPECT_EQ(status->wide, (std::vector<WideString>{kFile + u" \u00E9"}));
  EXPECT_TRUE(status->plain.empty());
  // An ANSI hint set behind the companion becomes its hint too, so the wide action carries it.
  Application->SetHint("Plain \xE9");
  EXPECT_EQ(status->wide, (std::vector<WideString>{kFile + u" \u00E9", u"Plain \u00E9"}));
  EXPECT_TRUE(status->plain.empty());
  // Without the companion's hook the plain action reaches the form.
  Application->UnhookMainWindow(TWindowHook::Bind<&TUcxApplication::AppWindowHook>(UcxApplication));
  Application->SetHint("Plain");
  EXPECT_EQ(status->plain, (std::vector<std::string>{"Plain"}));
}

TEST_F(UcxForms, MenuSelectionsGiveTheCompanionTheLongWideHint) {
  auto* wide = TCustomForm::CreateNew<TUcxForm>(Application);
  auto* bar = New<TMainMenu>(wide);
  auto* file = New<TUcxMenuItem>(wide);
  file->SetWideCaption(kFile);
  auto* open = New<TUcxMenuItem>(wide);
  open->SetWideCaption(kTitle);
  open->SetWideHint(u"short|" + kTitle + u" long");
  bar->Items()->Add(file);
  file->Add(open);
  wide->SetMenu(bar);
  HWND wnd = wide->Handle();
  SendMessageW(wnd, WM_MENUSELECT, MAKEWPARAM(open->Command(), 0), reinterpret_cast<LPARAM>(file->Handle()));
  EXPECT_EQ(UcxApplication->GetHint(), kTitle + u" long");
  SendMessageW(wnd, WM_MENUSELECT, MAKEWPARAM(0, MF_POPUP), reinterpret_cast<LPARAM>(bar->Handle()));
  EXPECT_EQ(UcxApplication->GetHint(), u"") << "the sub-menu's item has no hint";
  wide->Free();
}

TEST_F(UcxForms, AFormTextOfWideComponentsReadsBackTheSameTexts) {
  std::string binary;
  {
    auto* source = TCustomForm::CreateNew<TMenuForm>(nullptr);
    source->SetName("MenuForm");
    source->SetWideCaption(kTitle);
    auto* bar = New<TMainMenu>(source);
    bar->SetName("MainMenu1");
    auto* file = New<TUcxMenuItem>(source);
    file->SetName("File1");
    file->SetWideCaption(u"&" + kFile);
    file->SetWideHint(kFile + u"|" + kTitle);
    bar->Items()->Add(file);
    auto* list = New<TActionList>(source);
    list->SetName("ActionList1");
    auto* action = New<TUcxAction>(source);
    action->SetName("Open1");
    action->SetWideCaption(kTitle + u"...");
    action->SetActionList(list);
    TOwned<TStringStream> out(New<TStringStream>(""));
    TOwned<TWriter> writer(New<TWriter>(*out));
    writer->WriteDescendent(source, nullptr);
    binary = out->DataString();
    source->Free();
  }
  const std::string text = ObjectBinaryToText(binary);
  EXPECT_NE(text.find("Caption_UTF7"), std::string::npos) << text;
  auto* read = TCustomForm::CreateNew<TMenuForm>(nullptr);
  ReadComponentData(binary.data(), binary.size(), read);
  EXPECT_EQ(read->GetWideCaption(), kTitle);
  ASSERT_NE(read->File1, nullptr);
  EXPECT_EQ(read->File1->GetWideCaption(), u"&" + kFile);
  EXPECT_EQ(read->File1->GetWideHint(), kFile + u"|" + kTitle);
  ASSERT_NE(read->Open1, nullptr);
  EXPECT_EQ(read->Open1->GetWideCaption(), kTitle + u"...");
  EXPECT_EQ(read->Open1->ActionList(), read->ActionList1);
  read->Free();
}

std::vector<std::string> g_swallowed;
void RecordSwallowed(const char* where, const std::exception_ptr&) {
  g_swallowed.push_back(where);
}

TEST_F(UcxForms, AFailedUnhookAtTheEndIsLoggedAndTheEndGoesOn) {
  ASSERT_NE(UcxMessageHook(), nullptr);
  ASSERT_TRUE(UnhookWindowsHookEx(UcxMessageHook()));  // someone removed it already
  TSwallowedExceptionHook old = SetSwallowedExceptionHook(&RecordSwallowed);
  g_swallowed.clear();
  DoneUcxForms();
  SetSwallowedExceptionHook(old);
  EXPECT_EQ(g_swallowed, (std::vector<std::string>{"DoneUcxForms: removing the message hook"}));
  EXPECT_EQ(UcxApplication, nullptr) << "the companion is freed all the same";
  EXPECT_EQ(UcxMessageHook(), nullptr);
}

}  // namespace

namespace {

// The framework makes the application window at start-up, before any unit of
// the layer; a title kept aside (as on the 9x line) is still applied when the
// window gets WM_CREATE.
TEST_F(UcxForms, AKeptTitleIsAppliedAtWmCreate) {
  IsUnicodePlatform = false;
  UcxApplication->SetTitle(kTitle);  // kept beside the framework's ANSI title
  IsUnicodePlatform = true;
  CREATESTRUCTW create{};
  SendMessageW(Application->Handle(), WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
  wchar_t buf[64] = {};
  DefWindowProcW(Application->Handle(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buf));
  EXPECT_EQ(WideString(reinterpret_cast<const char16_t*>(buf)), kTitle);
  EXPECT_EQ(UcxApplication->GetTitle(), kTitle);
}

}  // namespace
